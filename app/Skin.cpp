#include "Skin.h"

#include <QLinearGradient>
#include <QMouseEvent>
#include <QPainter>
#include <QPainterPath>

namespace {
constexpr int BannerHeight = 64;
const QColor Deep(0x12, 0x3b, 0x5c);
const QColor Light(0x2f, 0x7f, 0xb5);
const QColor Accent(0x87, 0xce, 0xeb);

void FillBannerBackground(QPainter& painter, const QRect& area) {
  QLinearGradient gradient(area.topLeft(), area.bottomLeft());
  gradient.setColorAt(0, Light);
  gradient.setColorAt(1, Deep);
  painter.fillRect(area, gradient);
}

// A film frame with a play triangle: the program's mark.
void DrawMark(QPainter& painter, const QRectF& box) {
  painter.setRenderHint(QPainter::Antialiasing);
  painter.setPen(Qt::NoPen);
  painter.setBrush(Accent);
  painter.drawRoundedRect(box, box.width() * 0.18, box.width() * 0.18);
  painter.setBrush(Deep);
  const qreal hole = box.width() * 0.09;
  for (int i = 0; i < 4; ++i) {
    const qreal x = box.left() + box.width() * (0.14 + 0.22 * i);
    painter.drawRect(QRectF(x, box.top() + hole * 0.8, hole, hole));
    painter.drawRect(QRectF(x, box.bottom() - hole * 1.8, hole, hole));
  }
  QPainterPath play;
  const QPointF centre = box.center();
  const qreal r = box.width() * 0.22;
  play.moveTo(centre.x() - r * 0.7, centre.y() - r);
  play.lineTo(centre.x() + r, centre.y());
  play.lineTo(centre.x() - r * 0.7, centre.y() + r);
  play.closeSubpath();
  painter.setBrush(Qt::white);
  painter.drawPath(play);
}
}  // namespace

QString SkinStyleSheet() {
  return R"(
#frmMain { background: #eef4f9; }
#suiFormMain { background: qlineargradient(x1:0, y1:0, x2:0, y2:1, stop:0 #3a8cc4, stop:1 #1d5a86); }
#suiFormMain QLabel { color: white; font-weight: bold; }
#suiFormMain QToolButton { color: white; border: none; min-width: 26px; min-height: 20px; }
#suiFormMain QToolButton:hover { background: rgba(255, 255, 255, 60); }
#suiFormMain QToolButton#btnTitleClose:hover { background: #c8352b; }
QPushButton { background: qlineargradient(x1:0, y1:0, x2:0, y2:1, stop:0 #ffffff, stop:1 #d6e6f3);
  border: 1px solid #7ea6c6; border-radius: 4px; padding: 4px 10px; color: #123b5c; }
QPushButton:hover { border-color: #2f7fb5; }
QPushButton:pressed { background: #bcd7ec; }
QPushButton:disabled { color: #9aa9b5; border-color: #c5d2dc; }
QTableWidget { background: white; gridline-color: #d0dde8; selection-background-color: #cfe6f7;
  selection-color: black; border: 1px solid #7ea6c6; }
QHeaderView::section { background: #dbe9f5; border: none; border-right: 1px solid #b7cde0;
  padding: 3px; color: #123b5c; }
QComboBox, QLineEdit { border: 1px solid #7ea6c6; border-radius: 3px; padding: 2px 4px; background: white; }
QComboBox:disabled, QLineEdit:disabled { background: #eef1f4; color: #8795a1; }
)";
}

QPixmap BannerLeftPicture() {
  QPixmap picture(300, BannerHeight);
  QPainter painter(&picture);
  FillBannerBackground(painter, picture.rect());
  DrawMark(painter, QRectF(12, 10, 44, 44));
  QFont font("DejaVu Sans");
  font.setPixelSize(26);
  font.setBold(true);
  painter.setFont(font);
  painter.setPen(Qt::white);
  painter.drawText(QRect(68, 6, 230, 34), Qt::AlignLeft | Qt::AlignVCenter, "Tavrelle");
  font.setPixelSize(11);
  font.setBold(false);
  painter.setFont(font);
  painter.setPen(Accent);
  painter.drawText(QRect(70, 38, 230, 20), Qt::AlignLeft | Qt::AlignVCenter,
                   "video and audio batch converter");
  return picture;
}

QPixmap BannerMiddlePicture() {
  QPixmap picture(16, BannerHeight);
  QPainter painter(&picture);
  FillBannerBackground(painter, picture.rect());
  return picture;
}

QPixmap BannerRightPicture() {
  QPixmap picture(120, BannerHeight);
  QPainter painter(&picture);
  FillBannerBackground(painter, picture.rect());
  painter.setRenderHint(QPainter::Antialiasing);
  painter.setPen(QPen(QColor(255, 255, 255, 70), 3));
  for (int i = 0; i < 4; ++i) {
    QPainterPath wave;
    const int y = 18 + i * 9;
    wave.moveTo(0, y);
    wave.cubicTo(40, y - 14, 80, y + 14, 120, y);
    painter.drawPath(wave);
  }
  return picture;
}

QIcon ProgramIcon() {
  QPixmap picture(64, 64);
  picture.fill(Qt::transparent);
  QPainter painter(&picture);
  DrawMark(painter, QRectF(4, 4, 56, 56));
  return QIcon(picture);
}

void TClickablePicture::mouseReleaseEvent(QMouseEvent* event) {
  if (event->button() == Qt::LeftButton && rect().contains(event->position().toPoint()))
    emit clicked();
  QLabel::mouseReleaseEvent(event);
}
