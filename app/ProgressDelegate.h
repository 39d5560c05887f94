#pragma once
// Draws a Status cell whose text starts with "{|" as a progress bar filled
// to the percentage that follows: sky blue fading to white, the text going
// from black to navy. "{|" alone is a source of unknown length and gets a
// block that moves across the cell. The cell's RemainingTimeRole text is
// shown beside the percentage.
#include <QStyledItemDelegate>

inline constexpr int RemainingTimeRole = Qt::UserRole + 1;

class TProgressDelegate : public QStyledItemDelegate {
  Q_OBJECT
 public:
  using QStyledItemDelegate::QStyledItemDelegate;
  void paint(QPainter* painter, const QStyleOptionViewItem& option,
             const QModelIndex& index) const override;

 private:
  void PaintBar(QPainter* painter, const QRect& cell, int percent) const;
  void PaintMovingBlock(QPainter* painter, const QRect& cell) const;
};
