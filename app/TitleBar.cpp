#include "TitleBar.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QMouseEvent>
#include <QToolButton>
#include <QWindow>

#include "Skin.h"

TTitleBar::TTitleBar(QWidget* window) : QWidget(window), window_(window) {
  setObjectName("suiFormMain");
  setAttribute(Qt::WA_StyledBackground);
  setFixedHeight(28);
  auto* icon = new QLabel;
  icon->setPixmap(ProgramIcon().pixmap(18, 18));
  caption_ = new QLabel;
  caption_->setObjectName("suiFormMainCaption");
  QToolButton* help = MakeButton("btnTitleHelp", "?", "Help");
  QToolButton* minimise = MakeButton("btnTitleMinimize", QString::fromUtf8("\u2013"), "Minimise");
  QToolButton* maximise = MakeButton("btnTitleMaximize", QString::fromUtf8("\u25a1"), "Maximise");
  QToolButton* close = MakeButton("btnTitleClose", QString::fromUtf8("\u2715"), "Close");
  connect(help, &QToolButton::clicked, this, &TTitleBar::helpClicked);
  connect(minimise, &QToolButton::clicked, window_, &QWidget::showMinimized);
  connect(maximise, &QToolButton::clicked, this, &TTitleBar::ToggleMaximized);
  connect(close, &QToolButton::clicked, window_, &QWidget::close);
  auto* layout = new QHBoxLayout(this);
  layout->setContentsMargins(8, 0, 2, 0);
  layout->setSpacing(2);
  layout->addWidget(icon);
  layout->addWidget(caption_, 1);
  for (QToolButton* button : {help, minimise, maximise, close}) layout->addWidget(button);
}

QToolButton* TTitleBar::MakeButton(const QString& name, const QString& text, const QString& hint) {
  auto* button = new QToolButton;
  button->setObjectName(name);
  button->setText(text);
  button->setToolTip(hint);
  button->setFocusPolicy(Qt::NoFocus);
  return button;
}

void TTitleBar::SetCaption(const QString& caption) {
  caption_->setText(caption);
}

QString TTitleBar::Caption() const {
  return caption_->text();
}

void TTitleBar::ToggleMaximized() {
  window_->isMaximized() ? window_->showNormal() : window_->showMaximized();
}

void TTitleBar::mousePressEvent(QMouseEvent* event) {
  if (event->button() == Qt::LeftButton && window_->windowHandle())
    window_->windowHandle()->startSystemMove();
  QWidget::mousePressEvent(event);
}

void TTitleBar::mouseDoubleClickEvent(QMouseEvent* event) {
  if (event->button() == Qt::LeftButton) ToggleMaximized();
  QWidget::mouseDoubleClickEvent(event);
}
