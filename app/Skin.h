#pragma once
// The window's look: the style sheet of the skin, the banner artwork and the
// program icon, all drawn by the program itself.
#include <QIcon>
#include <QLabel>
#include <QPixmap>
#include <QString>

QString SkinStyleSheet();
// The banner's three parts: the left picture with the name, the middle
// strip (stretched to the window's width) and the right edge.
QPixmap BannerLeftPicture();
QPixmap BannerMiddlePicture();
QPixmap BannerRightPicture();
QIcon ProgramIcon();

// A picture that reports clicks.
class TClickablePicture : public QLabel {
  Q_OBJECT
 public:
  using QLabel::QLabel;
 signals:
  void clicked();

 protected:
  void mouseReleaseEvent(QMouseEvent* event) override;
};
