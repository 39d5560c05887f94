#pragma once
// The skinned title bar of the frameless main window: caption, help,
// minimise, maximise and close. Dragging it moves the window and a double
// click maximises or restores it, both through the window system.
#include <QWidget>

class QLabel;
class QToolButton;

class TTitleBar : public QWidget {
  Q_OBJECT
 public:
  explicit TTitleBar(QWidget* window);
  void SetCaption(const QString& caption);
  QString Caption() const;

 signals:
  void helpClicked();

 protected:
  void mousePressEvent(QMouseEvent* event) override;
  void mouseDoubleClickEvent(QMouseEvent* event) override;

 private:
  QToolButton* MakeButton(const QString& name, const QString& text, const QString& hint);
  void ToggleMaximized();

  QWidget* window_;
  QLabel* caption_;
};
