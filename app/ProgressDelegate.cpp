#include "ProgressDelegate.h"

#include <QDateTime>
#include <QLinearGradient>
#include <QPainter>

#include "logic/ProgressCell.h"

namespace {
const QColor SkyBlue(0x87, 0xCE, 0xEB);
const QColor Navy(0x00, 0x00, 0x80);
constexpr int MovingBlockPeriodMs = 1600;

QLinearGradient BarGradient(const QRect& bar, const QColor& from, const QColor& to) {
  QLinearGradient gradient(bar.topLeft(), bar.topRight());
  gradient.setColorAt(0, from);
  gradient.setColorAt(1, to);
  return gradient;
}
}  // namespace

void TProgressDelegate::paint(QPainter* painter, const QStyleOptionViewItem& option,
                              const QModelIndex& index) const {
  int percent = 0;
  if (!ParseProgressCell(index.data().toString().toStdString(), percent)) {
    QStyledItemDelegate::paint(painter, option, index);
    return;
  }
  painter->save();
  painter->fillRect(option.rect, Qt::white);
  const QRect cell = option.rect.adjusted(2, 2, -2, -2);
  if (percent >= 0)
    PaintBar(painter, cell, percent);
  else
    PaintMovingBlock(painter, cell);
  QString text = percent >= 0 ? QString("%1%").arg(percent) : QString("converting");
  const QString remaining = index.data(RemainingTimeRole).toString();
  if (!remaining.isEmpty()) text += "  " + remaining;
  painter->setPen(QPen(QBrush(BarGradient(cell, Qt::black, Navy)), 1));
  painter->drawText(cell, Qt::AlignCenter, text);
  painter->restore();
}

void TProgressDelegate::PaintBar(QPainter* painter, const QRect& cell, int percent) const {
  QRect bar = cell;
  bar.setWidth(cell.width() * percent / 100);
  painter->fillRect(bar, BarGradient(cell, SkyBlue, Qt::white));
  painter->setPen(SkyBlue.darker(120));
  painter->drawRect(cell.adjusted(0, 0, -1, -1));
}

void TProgressDelegate::PaintMovingBlock(QPainter* painter, const QRect& cell) const {
  const int blockWidth = std::max(cell.width() / 4, 1);
  const qint64 phase = QDateTime::currentMSecsSinceEpoch() % MovingBlockPeriodMs;
  const int travel = cell.width() - blockWidth;
  const int left = cell.left() + static_cast<int>(travel * phase / MovingBlockPeriodMs);
  const QRect block(left, cell.top(), blockWidth, cell.height());
  painter->fillRect(block, BarGradient(block, SkyBlue, Qt::white));
  painter->setPen(SkyBlue.darker(120));
  painter->drawRect(cell.adjusted(0, 0, -1, -1));
}
