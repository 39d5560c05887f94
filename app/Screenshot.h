#pragma once
// A hidden mode of the program for the documentation: it adds the given
// files, converts them with one profile and saves a picture of the window
// in the middle of the batch, then closes the window.
//   tavrelle --screenshot=OUT.png --profile=N FILE...
#include <QObject>
#include <QString>
#include <QStringList>
#include <memory>

class TfrmMain;
class QTimer;

class TScreenshotRun : public QObject {
  Q_OBJECT
 public:
  // Null when the arguments do not ask for a screenshot.
  static std::unique_ptr<TScreenshotRun> FromArguments(TfrmMain& window,
                                                       const QStringList& arguments);
  TScreenshotRun(TfrmMain& window, QString picture, int profile, QStringList files);
  void Begin();

 private:
  bool MidBatch() const;
  void Check();
  void Take();

  TfrmMain& window_;
  QString picture_;
  int profile_;
  QStringList files_;
  QTimer* poll_;
  int polls_ = 0;
};
