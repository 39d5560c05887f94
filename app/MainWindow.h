#pragma once
// The main window: the file list with the progress of each task, the
// output profile and folder, the options dialog and the batch controls.
// It owns the conversion component; rows and tasks are built in the same
// order and a table keeps them matched even when some files drop out.
#include <QElapsedTimer>
#include <QString>
#include <QStringList>
#include <QWidget>
#include <map>
#include <memory>
#include <vector>

#include "OptionsDialog.h"

class QCheckBox;
class QComboBox;
class QLabel;
class QLineEdit;
class QMenu;
class QPushButton;
class QTableWidget;
class QTableWidgetItem;
class QTimer;
class TQvAVConverter;
class TTitleBar;
class TUserInteraction;

// Where the window finds its files and how it talks to the user.
struct TMainWindowSetup {
  QString AppFolder;                        // the executable's folder, with a trailing delimiter
  QString SettingsFile;                     // empty: SettingsFileFor(AppFolder)
  TUserInteraction* Interaction = nullptr;  // not owned; null: the desktop's dialogs
  QString ExtraOutputOptions;  // engine option lines for every output (none in the program)
};

// "config.ini" beside the executable when that folder can be written, else
// in the user's configuration folder (XDG).
QString SettingsFileFor(const QString& appFolder);

// The filter of the file-open dialog, in the dialog's own notation.
QString OpenDialogFilter();

class TfrmMain : public QWidget {
  Q_OBJECT
 public:
  explicit TfrmMain(const TMainWindowSetup& setup, QWidget* parent = nullptr);
  ~TfrmMain() override;

  static QString AppTitle() { return "Tavrelle"; }
  TQvAVConverter& QvAVC() { return *QvAVC_; }
  TfrmOptions& frmOptions() { return *frmOptions_; }
  TOutputOverrideFields& Overrides() { return overrides_; }
  bool StopRequested() const { return stopRequested_; }
  QString LastConvertedProfile() const { return lastConvertedProfile_; }
  // From Start until the component reports the end of the batch.
  bool BatchRunning() const { return batchRunning_; }
  // The row of a task, or -1.
  int RowOfTask(int taskIndex) const;
  // Adds files as the Add button does once the user has chosen them.
  void AddFiles(const QStringList& files);

 public slots:
  void btnOpenClick();
  void DoLoadFromList();
  void btnRemoveClick();
  void btnClearClick();
  void btnFolderChangeClick();
  void btnBrowseClick();
  void chkSameFolderClick();
  void selFormatChange();
  void btnOptionsClick();
  void btnConvertClick();
  void btnPauseClick();
  void suiFormMainTitleBarHelpBtnClick();
  void Image1Click();

 signals:
  void batchEnded();

 protected:
  void showEvent(QShowEvent* event) override;
  void closeEvent(QCloseEvent* event) override;
  bool eventFilter(QObject* watched, QEvent* event) override;
  void mouseMoveEvent(QMouseEvent* event) override;
  void mousePressEvent(QMouseEvent* event) override;

 private:
  // Construction
  void BuildControls();
  QWidget* MakeBanner();
  QWidget* MakeFileArea();
  QPushButton* MakeButton(const QString& name, const QString& caption, const QString& hint);
  void MakePopupMenu();
  void ConnectHandlers();
  void WireComponentEvents();
  // Settings
  void ReadSettings();
  void WriteSettings();
  // Rows
  int AddRow(const QString& fullPath);
  QString RowPath(int row) const;
  void SetStatus(int row, const QString& status, const QString& hint = {});
  QString Status(int row) const;
  void ClearRows();
  bool LoadLibraries();
  // Opens the file with the probe and adds its task; false after marking the row.
  bool AddTaskForRow(int row);
  // Adds the task of the file the component's probe has open, and closes it.
  bool AddTaskFromOpenProbe(int row);
  void RemoveTaskOfRow(int row);
  // Batch
  bool ConfirmConvertAgain();
  bool PrepareOutputFolder();
  void SetUpOutputs();
  void SetConverting(bool converting);
  void SetTitle(const QString& suffix);
  void QvAVCProgress(int index, int currentDuration, int totalOutputDuration);
  void QvAVCTerminate(int index, bool finished, bool exception, const QString& message);
  void MarkRemainingCanceled();
  void EndBatch();
  void StopAndWait();
  Qt::Edges EdgesAt(const QPoint& position) const;

  TMainWindowSetup setup_;
  std::unique_ptr<TUserInteraction> ownInteraction_;
  TUserInteraction& interaction_;
  std::unique_ptr<TQvAVConverter> QvAVC_;
  TOutputOverrideFields overrides_;
  TfrmOptions* frmOptions_ = nullptr;
  bool stopRequested_ = false;
  bool batchRunning_ = false;
  QString lastConvertedProfile_;
  // The row of each task, by task index.
  std::vector<int> taskRows_;
  // When each running task reported first, for its remaining time.
  std::map<int, QElapsedTimer> taskClocks_;

  TTitleBar* suiFormMain_ = nullptr;
  QTableWidget* lvFiles_ = nullptr;
  QPushButton* btnOpen_ = nullptr;
  QPushButton* btnRemove_ = nullptr;
  QPushButton* btnClear_ = nullptr;
  QPushButton* btnPause_ = nullptr;
  QPushButton* btnConvert_ = nullptr;
  QComboBox* selFormat_ = nullptr;
  QPushButton* btnOptions_ = nullptr;
  QLineEdit* txtOutput_ = nullptr;
  QPushButton* btnFolderChange_ = nullptr;
  QPushButton* btnBrowse_ = nullptr;
  QCheckBox* chkSameFolder_ = nullptr;
  QMenu* suiPopupMenu1_ = nullptr;
  QTimer* movingBarTimer_ = nullptr;
};
