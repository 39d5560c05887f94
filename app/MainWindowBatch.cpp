// Converting the list: setting up one output per task, starting, pausing
// and stopping the batch, and following the component's events.
#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QEventLoop>
#include <QFileInfo>
#include <QLineEdit>
#include <QPushButton>
#include <QTableWidget>
#include <QTimer>

#include "MainWindow.h"
#include "ProgressDelegate.h"
#include "Src/QvAVConverter.h"
#include "UserInteraction.h"
#include "logic/ProgressCell.h"

namespace {
const QString StatusDone = "Done";
const QString StatusFailed = "Failed";
const QString StatusCanceled = "Canceled";
// Closing the window waits this long at most for the workers to wind down.
constexpr int StopWaitMs = 60000;
}  // namespace

void TfrmMain::WireComponentEvents() {
  // The component raises its events on worker threads: every change of a
  // control is handed to the user-interface thread.
  QvAVC_->OnProgress() = [this](int index, int, int, int currentDuration, float, float, int64_t,
                                int totalOutputDuration) {
    QMetaObject::invokeMethod(
        this,
        [this, index, currentDuration, totalOutputDuration] {
          QvAVCProgress(index, currentDuration, totalOutputDuration);
        },
        Qt::QueuedConnection);
  };
  QvAVC_->OnTerminate() = [this](int index, bool finished, bool exception,
                                 const std::string& message) {
    const QString text = QString::fromStdString(message);
    QMetaObject::invokeMethod(
        this,
        [this, index, finished, exception, text] {
          QvAVCTerminate(index, finished, exception, text);
        },
        Qt::QueuedConnection);
  };
}

bool TfrmMain::ConfirmConvertAgain() {
  const QString caption = selFormat_->currentText();
  if (caption != lastConvertedProfile_) return true;
  return interaction_.AskYesNo(
      this, "File(s) from the list was already converted to this format\r\n" + caption + "\r\n" +
                "Do you wish to convert agin?");
}

void TfrmMain::btnConvertClick() {
  if (btnConvert_->text() == "Stop") {
    stopRequested_ = true;
    QvAVC_->Stop();
    return;
  }
  if (!LoadLibraries()) return;
  if (lvFiles_->rowCount() == 0) {
    interaction_.ShowInformation(this, "Please choose a file.");
    QvAVC_->Clear();
    taskRows_.clear();
    stopRequested_ = false;
    btnOpen_->setFocus();
    return;
  }
  if (QvAVC_->TaskCount() == 0 || stopRequested_) {
    if (!ConfirmConvertAgain()) return;
    QvAVC_->Clear();
    stopRequested_ = false;
    DoLoadFromList();
  }
  if (selFormat_->currentIndex() <= 0) {
    interaction_.ShowInformation(this, "Please choose an output format.");
    selFormat_->setFocus();
    return;
  }
  if (!PrepareOutputFolder()) return;
  SetUpOutputs();
  if (QvAVC_->TaskCount() == 0) {
    // Nothing would ever report back: stay idle.
    SetTitle(" [Ready]");
    interaction_.ShowPlain(this, "None of the files in the list could be set up for converting.");
    return;
  }
  btnPause_->setText("Pause");
  taskClocks_.clear();
  batchRunning_ = true;
  QvAVC_->Start(1);
  stopRequested_ = false;
  SetTitle(" [Converting...]");
  SetConverting(true);
}

bool TfrmMain::PrepareOutputFolder() {
  if (chkSameFolder_->isChecked()) return true;
  const QString folder = txtOutput_->text();
  const QFileInfo info(folder);
  if (QDir().mkpath(folder) && QFileInfo(folder).isWritable()) return true;
  interaction_.ShowPlain(this, "The output folder cannot be written.",
                         info.exists() ? folder : folder + ": it cannot be created");
  return false;
}

void TfrmMain::SetUpOutputs() {
  const TOutputProfile& profile = OutputProfiles()[selFormat_->currentIndex() - 1];
  const std::string extension = ProfileExtension(profile.Caption);
  const std::string name = ProfileName(profile.Caption);
  const TConversionOverrides overrides = ConversionOverridesOf(overrides_);
  TOutputNamer namer;
  for (int index = 0; index < QvAVC_->TaskCount();) {
    TFFmpeg& task = QvAVC_->Tasks(index);
    const std::string input = task.Probe.GetFileName();
    const std::string output = namer.Next(
        OutputSourcePath(input, chkSameFolder_->isChecked(), txtOutput_->text().toStdString()),
        extension, name);
    TOutputOptions record = BuildOutputRecord(profile, overrides, DescribeSource(task.Probe));
    record.ExtOptions = setup_.ExtraOutputOptions.toStdString();
    if (QvAVC_->AddOutput(index, output, &record)) {
      btnConvert_->setFocus();
      ++index;
      continue;
    }
    // The task goes; its row stays, marked, and the next task takes the index.
    const QString error = QString::fromStdString(QvAVC_->LastError());
    SetStatus(RowOfTask(index), StatusFailed, error);
    QvAVC_->Delete(index);
    taskRows_.erase(taskRows_.begin() + index);
    interaction_.ShowPlain(this, "Error found", QString::fromStdString(input) + ": " + error);
  }
}

void TfrmMain::SetConverting(bool converting) {
  btnPause_->setVisible(converting);
  for (QWidget* control :
       {static_cast<QWidget*>(btnOpen_), static_cast<QWidget*>(btnClear_),
        static_cast<QWidget*>(btnRemove_), static_cast<QWidget*>(btnFolderChange_),
        static_cast<QWidget*>(btnOptions_), static_cast<QWidget*>(selFormat_),
        static_cast<QWidget*>(txtOutput_), static_cast<QWidget*>(chkSameFolder_)})
    control->setEnabled(!converting);
  btnConvert_->setText(converting ? "Stop" : "Convert!");
  // Back at idle the folder controls follow the same-folder box again.
  if (!converting) chkSameFolderClick();
  converting ? movingBarTimer_->start() : movingBarTimer_->stop();
}

void TfrmMain::QvAVCProgress(int index, int currentDuration, int totalOutputDuration) {
  const int row = RowOfTask(index);
  if (row < 0) return;
  auto [clock, first] = taskClocks_.try_emplace(index);
  if (first) clock->second.start();
  SetStatus(row, QString::fromStdString(ProgressCellText(currentDuration, totalOutputDuration)));
  const std::string remaining =
      RemainingTimeText(clock->second.elapsed(), currentDuration, totalOutputDuration);
  lvFiles_->item(row, 1)->setData(RemainingTimeRole, QString::fromStdString(remaining));
}

void TfrmMain::QvAVCTerminate(int index, bool finished, bool exception, const QString& message) {
  const int row = RowOfTask(index);
  if (row >= 0) {
    if (finished && !exception)
      SetStatus(row, StatusDone);
    else if (exception || !stopRequested_)
      SetStatus(row, StatusFailed, message.isEmpty() ? "The conversion did not finish" : message);
  }
  if (stopRequested_) {
    SetTitle(" [Job Canceled]");
    SetConverting(false);
    MarkRemainingCanceled();
    if (index == -1) {
      batchRunning_ = false;
      emit batchEnded();
    }
  } else if (index == -1) {
    SetTitle(" [Done]");
    SetConverting(false);
    EndBatch();
  }
  selFormatChange();
}

void TfrmMain::MarkRemainingCanceled() {
  for (int row = 0; row < lvFiles_->rowCount(); ++row) {
    const QString status = Status(row);
    if (status != StatusDone && status != StatusFailed) SetStatus(row, StatusCanceled);
  }
}

void TfrmMain::EndBatch() {
  // Runs from the event loop, after the event: the component may free the
  // tasks once their workers are gone.
  QvAVC_->Clear();
  taskRows_.clear();
  taskClocks_.clear();
  lastConvertedProfile_ = selFormat_->currentText();
  batchRunning_ = false;
  emit batchEnded();
}

void TfrmMain::btnPauseClick() {
  if (btnPause_->text() == "Pause") {
    QvAVC_->Pause();
    btnPause_->setText("Resume");
    SetTitle(" [Paused]");
  } else {
    QvAVC_->Resume();
    btnPause_->setText("Pause");
    SetTitle(" [Converting...]");
  }
}

void TfrmMain::StopAndWait() {
  if (!batchRunning_) return;
  stopRequested_ = true;
  QvAVC_->Stop();
  QEventLoop loop;
  connect(this, &TfrmMain::batchEnded, &loop, &QEventLoop::quit);
  QTimer::singleShot(StopWaitMs, &loop, &QEventLoop::quit);
  if (batchRunning_) loop.exec();
}
