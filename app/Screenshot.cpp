#include "Screenshot.h"

#include <QComboBox>
#include <QPixmap>
#include <QTableWidget>
#include <QTimer>
#include <cstdio>

#include "MainWindow.h"
#include "logic/ProgressCell.h"

namespace {
constexpr int PollMs = 50;
constexpr int GiveUpPolls = 2400;  // two minutes
}  // namespace

std::unique_ptr<TScreenshotRun> TScreenshotRun::FromArguments(TfrmMain& window,
                                                              const QStringList& arguments) {
  QString picture;
  int profile = 1;
  QStringList files;
  for (const QString& argument : arguments.mid(1)) {
    if (argument.startsWith("--screenshot="))
      picture = argument.section('=', 1);
    else if (argument.startsWith("--profile="))
      profile = argument.section('=', 1).toInt();
    else
      files << argument;
  }
  if (picture.isEmpty()) return nullptr;
  return std::make_unique<TScreenshotRun>(window, picture, profile, files);
}

TScreenshotRun::TScreenshotRun(TfrmMain& window, QString picture, int profile, QStringList files)
    : window_(window),
      picture_(std::move(picture)),
      profile_(profile),
      files_(std::move(files)),
      poll_(new QTimer(this)) {
  poll_->setInterval(PollMs);
  connect(poll_, &QTimer::timeout, this, &TScreenshotRun::Check);
}

void TScreenshotRun::Begin() {
  window_.AddFiles(files_);
  window_.findChild<QComboBox*>("selFormat")->setCurrentIndex(profile_);
  window_.btnConvertClick();
  poll_->start();
}

// One row done and another well under way: the picture shows both.
bool TScreenshotRun::MidBatch() const {
  const auto* list = window_.findChild<QTableWidget*>("lvFiles");
  bool done = list->rowCount() < 2;
  bool running = false;
  for (int row = 0; row < list->rowCount(); ++row) {
    const std::string status = list->item(row, 1)->text().toStdString();
    int percent = 0;
    done = done || status == "Done";
    running = running || (ParseProgressCell(status, percent) && percent >= 40);
  }
  return done && running;
}

void TScreenshotRun::Check() {
  if (MidBatch() || ++polls_ >= GiveUpPolls || !window_.BatchRunning()) Take();
}

void TScreenshotRun::Take() {
  poll_->stop();
  if (!window_.grab().save(picture_, "PNG"))
    std::fprintf(stderr, "tavrelle: cannot save %s\n", qPrintable(picture_));
  window_.close();
}
