// The file list: adding, reloading, removing and clearing rows, with the
// component's tasks kept matched to them.
#include <QComboBox>
#include <QDir>
#include <QFileInfo>
#include <QLineEdit>
#include <QPushButton>
#include <QTableWidget>

#include "MainWindow.h"
#include "ProgressDelegate.h"
#include "Src/QvAVConverter.h"
#include "UserInteraction.h"

namespace {
const QString StatusReady = "Ready";
const QString StatusFailed = "Failed";

QTableWidgetItem* MakeItem(const QString& text) {
  auto* item = new QTableWidgetItem(text);
  item->setFlags(Qt::ItemIsEnabled | Qt::ItemIsSelectable);
  return item;
}
}  // namespace

bool TfrmMain::LoadLibraries() {
  if (QvAVC_->LoadAVLib((setup_.AppFolder + "lib").toStdString(), true)) return true;
  interaction_.ShowPlain(this, "Error: Lib cannot be loaded.",
                         QString::fromStdString(QvAVC_->LastError()));
  return false;
}

int TfrmMain::RowOfTask(int taskIndex) const {
  if (taskIndex < 0 || taskIndex >= static_cast<int>(taskRows_.size())) return -1;
  return taskRows_[taskIndex];
}

int TfrmMain::AddRow(const QString& fullPath) {
  const QFileInfo file(fullPath);
  const int row = lvFiles_->rowCount();
  lvFiles_->insertRow(row);
  lvFiles_->setItem(row, 0, MakeItem(file.fileName()));
  lvFiles_->setItem(row, 1, MakeItem(StatusReady));
  lvFiles_->setItem(row, 2, MakeItem(QDir(file.absolutePath()).absolutePath() + "/"));
  return row;
}

QString TfrmMain::RowPath(int row) const {
  return lvFiles_->item(row, 2)->text() + lvFiles_->item(row, 0)->text();
}

void TfrmMain::SetStatus(int row, const QString& status, const QString& hint) {
  QTableWidgetItem* item = lvFiles_->item(row, 1);
  if (!item) return;
  item->setText(status);
  item->setToolTip(hint);
  item->setData(RemainingTimeRole, QVariant());
}

QString TfrmMain::Status(int row) const {
  return lvFiles_->item(row, 1)->text();
}

void TfrmMain::ClearRows() {
  lvFiles_->setRowCount(0);
  QvAVC_->Clear();
  taskRows_.clear();
  taskClocks_.clear();
}

bool TfrmMain::AddTaskForRow(int row) {
  TAVProbe& probe = QvAVC_->Probe();
  if (!probe.Open(RowPath(row).toStdString())) {
    SetStatus(row, StatusFailed, QString::fromStdString(probe.LastError));
    return false;
  }
  return AddTaskFromOpenProbe(row);
}

bool TfrmMain::AddTaskFromOpenProbe(int row) {
  const std::string path = RowPath(row).toStdString();
  TInputOptions options;
  ResetInputOptions(options);
  options.FileName = path;
  const int index = QvAVC_->AddInput(path, &options);
  QvAVC_->Probe().Close();
  // Tasks are appended: any other index would put rows and tasks out of step.
  if (index < 0 || index != static_cast<int>(taskRows_.size())) {
    if (index >= 0) QvAVC_->Delete(index);
    SetStatus(row, StatusFailed, QString::fromStdString(QvAVC_->LastError()));
    return false;
  }
  SetStatus(row, StatusReady);
  taskRows_.push_back(row);
  return true;
}

void TfrmMain::btnOpenClick() {
  if (!LoadLibraries()) return;
  const QStringList files = interaction_.ChooseFiles(this, OpenDialogFilter());
  if (files.isEmpty()) return;
  AddFiles(files);
}

void TfrmMain::AddFiles(const QStringList& files) {
  if (!LoadLibraries()) return;
  // After a finished or stopped batch a new selection starts a new list.
  if (QvAVC_->TaskCount() == 0 || stopRequested_) {
    ClearRows();
    stopRequested_ = false;
  }
  TAVProbe& probe = QvAVC_->Probe();
  for (int i = 0; i < files.size(); ++i) {
    const QString path = QFileInfo(files[i]).absoluteFilePath();
    // Files that cannot be read are left out of the list.
    if (!probe.Open(path.toStdString())) continue;
    SetTitle(QString(" [Loading File %1...]").arg(i + 1));
    AddTaskFromOpenProbe(AddRow(path));
  }
  if (lvFiles_->rowCount() > 0) SetTitle(" [Ready]");
  selFormat_->setFocus();
}

void TfrmMain::DoLoadFromList() {
  if (!LoadLibraries()) return;
  taskRows_.clear();
  taskClocks_.clear();
  for (int row = 0; row < lvFiles_->rowCount(); ++row) {
    SetTitle(QString(" [Loading File %1...]").arg(row + 1));
    AddTaskForRow(row);
  }
}

void TfrmMain::RemoveTaskOfRow(int row) {
  for (int task = 0; task < static_cast<int>(taskRows_.size()); ++task) {
    if (taskRows_[task] != row) continue;
    if (task < QvAVC_->TaskCount()) QvAVC_->Delete(task);
    taskRows_.erase(taskRows_.begin() + task);
    break;
  }
  for (int& taskRow : taskRows_)
    if (taskRow > row) --taskRow;
}

void TfrmMain::btnRemoveClick() {
  const QList<QTableWidgetItem*> selected = lvFiles_->selectedItems();
  if (selected.isEmpty()) {
    interaction_.ShowInformation(this, "Please select a file from the list.");
    return;
  }
  const int row = selected.first()->row();
  RemoveTaskOfRow(row);
  lvFiles_->removeRow(row);
  if (lvFiles_->rowCount() == 0) SetTitle("");
}

void TfrmMain::btnClearClick() {
  ClearRows();
  SetTitle("");
}
