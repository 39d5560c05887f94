// The main window: start-up and settings, the file list with its tasks,
// whole batches, stopping, pausing and failures.
#include <QCheckBox>
#include <QComboBox>
#include <QFile>
#include <QLineEdit>
#include <QMimeData>
#include <QPushButton>
#include <QSettings>
#include <QTableWidget>
#include <QUrl>

#include "AppTestSupport.h"
#include "Src/QvAVConverter.h"
#include "tests/media/MediaGen.h"

namespace {
constexpr int BatchTimeoutMs = 120000;
const char* const Mp3Caption = "MP3 MPEG Layer-3 (*.mp3)";
const char* const WmaCaption = "Windows Media Audio (*.wma)";

QStringList RowTexts(const TWindowUnderTest& test, int column) {
  auto* list = test.Control<QTableWidget>("lvFiles");
  QStringList texts;
  for (int row = 0; row < list->rowCount(); ++row) texts << list->item(row, column)->text();
  return texts;
}

QStringList TaskFiles(TfrmMain& window) {
  QStringList files;
  for (int i = 0; i < window.QvAVC().TaskCount(); ++i)
    files << QString::fromStdString(window.QvAVC().Tasks(i).Probe.GetFileName());
  return files;
}

QStringList RowFiles(const TWindowUnderTest& test) {
  QStringList files;
  const QStringList folders = RowTexts(test, 2);
  const QStringList names = RowTexts(test, 0);
  for (int row = 0; row < names.size(); ++row) files << folders[row] + names[row];
  return files;
}

void SelectProfile(TWindowUnderTest& test, const QString& caption) {
  auto* list = test.Control<QComboBox>("selFormat");
  list->setCurrentIndex(list->findText(caption));
}
}  // namespace

class MainWindowTest : public QObject {
  Q_OBJECT
 private:
  std::unique_ptr<TMediaFolder> media_;

  QString Clip(const QString& name, TMediaKind kind, double seconds = 1.0) {
    TMediaOptions options;
    options.DurationSec = seconds;
    return QString::fromStdString(media_->Clip(name.toStdString(), kind, options));
  }

  void Convert(TWindowUnderTest& test) {
    test.Control<QLineEdit>("txtOutput")->setText(test.OutputFolder());
    test.Window->btnConvertClick();
  }

  void WaitForTheBatch(TWindowUnderTest& test) {
    QTRY_VERIFY_WITH_TIMEOUT(!test.Window->BatchRunning(), BatchTimeoutMs);
  }

 private slots:
  void initTestCase() {
    QVERIFY2(LoadTestLibraries(), qPrintable(QString::fromStdString(LoadAllError())));
    media_ = std::make_unique<TMediaFolder>("app-window");
  }

  void startsWithDefaultsWithoutSettingsFile() {
    TWindowUnderTest test;
    TfrmMain& window = *test.Window;
    QCOMPARE(window.windowTitle(), QString("Tavrelle"));
    QCOMPARE(test.Control<QLineEdit>("txtOutput")->text(),
             QString::fromStdString(DefaultOutputFolder()));
    QVERIFY(!test.Control<QCheckBox>("chkSameFolder")->isChecked());
    QVERIFY(test.Control<QLineEdit>("txtOutput")->isEnabled());
    QCOMPARE(test.Control<QComboBox>("selFormat")->currentText(), QString("Click to select"));
    QCOMPARE(test.Control<QComboBox>("selFormat")->count(), 10);
    QVERIFY(test.Control<QPushButton>("btnPause")->isHidden());
    QCOMPARE(window.size(), QSize(732, 556));
    // The controls carry their names, captions and hints.
    const struct {
      const char* Name;
      const char* Caption;
      const char* Hint;
    } buttons[] = {
        {"btnOpen", "Add...", "Open one or more videos to the list"},
        {"btnRemove", "Remove", "Remove selected video from the list"},
        {"btnClear", "Clear", "Remove selected video from the list"},
        {"btnPause", "Pause", "Suspend the conversion job temporarily"},
        {"btnConvert", "Convert!", "Convert all the videos from the list"},
        {"btnOptions", "Options", ""},
        {"btnFolderChange", "Change", ""},
        {"btnBrowse", "Browse", ""},
    };
    for (const auto& button : buttons) {
      auto* control = test.Control<QPushButton>(button.Name);
      QVERIFY2(control, button.Name);
      QCOMPARE(control->text(), QString(button.Caption));
      QCOMPARE(control->toolTip(), QString(button.Hint));
    }
    // Smaller than 631 x 433 is refused; exactly that is allowed.
    window.resize(600, 400);
    QCOMPARE(window.size(), QSize(631, 433));
    window.resize(631, 433);
    QCOMPARE(window.size(), QSize(631, 433));
  }

  void startsFromSettingsFileAndWritesItOnClose() {
    QTemporaryDir folder;
    const QString file = folder.filePath("config.ini");
    {
      QSettings settings(file, QSettings::IniFormat);
      settings.setValue("Main/strOutput", "/srv/converted");
      settings.setValue("Main/booSameFolder", true);
    }
    TWindowUnderTest test;
    TMainWindowSetup setup;
    setup.AppFolder = TestAppFolder();
    setup.SettingsFile = file;
    setup.Interaction = &test.User;
    TfrmMain window(setup);
    auto* output = window.findChild<QLineEdit*>("txtOutput");
    QCOMPARE(output->text(), QString("/srv/converted"));
    QVERIFY(!output->isEnabled());
    QVERIFY(!window.findChild<QPushButton*>("btnFolderChange")->isEnabled());
    QVERIFY(!window.findChild<QPushButton*>("btnBrowse")->isEnabled());
    window.findChild<QCheckBox*>("chkSameFolder")->setChecked(false);
    QVERIFY(output->isEnabled());
    test.User.Folder = "/srv/elsewhere/";
    window.btnFolderChangeClick();
    QCOMPARE(output->text(), QString("/srv/elsewhere"));
    window.show();
    window.close();
    QSettings written(file, QSettings::IniFormat);
    QCOMPARE(written.value("Main/strOutput").toString(), QString("/srv/elsewhere"));
    QCOMPARE(written.value("Main/booSameFolder").toBool(), false);
  }

  void settingsFallBackToTheUserFolder() {
    QTemporaryDir folder;
    QCOMPARE(SettingsFileFor(folder.path() + "/"), folder.filePath("config.ini"));
    QTemporaryDir home;
    qputenv("XDG_CONFIG_HOME", home.path().toUtf8());
    const QString file = SettingsFileFor(folder.filePath("missing") + "/");
    qunsetenv("XDG_CONFIG_HOME");
    QVERIFY2(file.startsWith(home.path() + "/") && file.endsWith("/config.ini"), qPrintable(file));
  }

  void addsOnlyFilesThatOpenAndKeepsRowsWithTasks() {
    TWindowUnderTest test;
    TfrmMain& window = *test.Window;
    const QString first = Clip("first.avi", TMediaKind::Avi);
    const QString noise = QString::fromStdString(media_->Random("noise.mp4", 4096, 7));
    const QString third = Clip("third.wav", TMediaKind::Wav);
    test.User.Files = {first, noise, third};
    window.btnOpenClick();
    QCOMPARE(RowTexts(test, 0), QStringList({"first.avi", "third.wav"}));
    QCOMPARE(RowTexts(test, 1), QStringList({"Ready", "Ready"}));
    QCOMPARE(TaskFiles(window), RowFiles(test));
    QCOMPARE(window.windowTitle(), QString("Tavrelle [Ready]"));
    QVERIFY(test.User.Messages.isEmpty());

    // A list that still has tasks is appended to, also by dropping files.
    QMimeData data;
    data.setUrls({QUrl::fromLocalFile(Clip("dropped.mp3", TMediaKind::Mp3))});
    auto* list = test.Control<QTableWidget>("lvFiles");
    QDragEnterEvent enter(QPoint(10, 10), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(list->viewport(), &enter);
    QVERIFY(enter.isAccepted());
    QDropEvent drop(QPointF(10, 10), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(list->viewport(), &drop);
    QCOMPARE(RowTexts(test, 0), QStringList({"first.avi", "third.wav", "dropped.mp3"}));
    QCOMPARE(TaskFiles(window), RowFiles(test));

    // Remove without a selection says so and changes nothing.
    window.btnRemoveClick();
    QCOMPARE(test.User.Messages, QStringList({"info: Please select a file from the list."}));
    QCOMPARE(list->rowCount(), 3);
    // Remove of row 0 takes task 0 with it.
    list->selectRow(0);
    window.btnRemoveClick();
    QCOMPARE(RowTexts(test, 0), QStringList({"third.wav", "dropped.mp3"}));
    QCOMPARE(TaskFiles(window), RowFiles(test));
    window.btnClearClick();
    QCOMPARE(list->rowCount(), 0);
    QCOMPARE(window.QvAVC().TaskCount(), 0);
    QCOMPARE(window.windowTitle(), QString("Tavrelle"));
  }

  void convertsABatchAndAsksBeforeConvertingAgain() {
    TWindowUnderTest test;
    TfrmMain& window = *test.Window;
    test.User.Files = {Clip("song.wav", TMediaKind::Wav), Clip("film.avi", TMediaKind::Avi)};
    window.btnOpenClick();
    // No profile chosen yet.
    Convert(test);
    QCOMPARE(test.User.Messages.takeLast(), QString("info: Please choose an output format."));
    QVERIFY(!window.BatchRunning());

    SelectProfile(test, Mp3Caption);
    Convert(test);
    QVERIFY(window.BatchRunning());
    QCOMPARE(window.windowTitle(), QString("Tavrelle [Converting...]"));
    QCOMPARE(test.Control<QPushButton>("btnConvert")->text(), QString("Stop"));
    QVERIFY(!test.Control<QPushButton>("btnPause")->isHidden());
    for (const char* name : {"btnOpen", "btnClear", "btnRemove", "btnFolderChange", "btnOptions",
                             "selFormat", "txtOutput", "chkSameFolder"})
      QVERIFY2(!test.Control<QWidget>(name)->isEnabled(), name);
    WaitForTheBatch(test);
    QCOMPARE(RowTexts(test, 1), QStringList({"Done", "Done"}));
    QCOMPARE(window.windowTitle(), QString("Tavrelle [Done]"));
    QCOMPARE(window.QvAVC().TaskCount(), 0);
    QCOMPARE(window.LastConvertedProfile(), QString(Mp3Caption));
    QCOMPARE(test.Control<QPushButton>("btnConvert")->text(), QString("Convert!"));
    QVERIFY(test.Control<QPushButton>("btnPause")->isHidden());
    QVERIFY(test.Control<QPushButton>("btnOpen")->isEnabled());
    QVERIFY(QFile::exists(test.OutputFolder() + "/song (MP3 MPEG Layer-3).mp3"));
    QVERIFY(QFile::exists(test.OutputFolder() + "/film (MP3 MPEG Layer-3).mp3"));
    QVERIFY(test.User.Messages.isEmpty());

    // The same profile again: No leaves everything as it is.
    test.User.Answer = false;
    Convert(test);
    QCOMPARE(test.User.Messages,
             QStringList({QString("ask: File(s) from the list was already converted to this "
                                  "format\r\n%1\r\nDo you wish to convert agin?")
                              .arg(Mp3Caption)}));
    QVERIFY(!window.BatchRunning());
    QCOMPARE(window.QvAVC().TaskCount(), 0);
    QCOMPARE(window.windowTitle(), QString("Tavrelle [Done]"));

    // Another profile rebuilds the tasks; a source gone from disk is marked
    // and the others still get their own rows' progress.
    QVERIFY(QFile::remove(RowFiles(test)[0]));
    SelectProfile(test, WmaCaption);
    Convert(test);
    QCOMPARE(window.QvAVC().TaskCount(), 1);
    QCOMPARE(window.RowOfTask(0), 1);
    WaitForTheBatch(test);
    QCOMPARE(RowTexts(test, 1), QStringList({"Failed", "Done"}));
    auto* list = test.Control<QTableWidget>("lvFiles");
    QVERIFY(!list->item(0, 1)->toolTip().isEmpty());
    QVERIFY(QFile::exists(test.OutputFolder() + "/film (Windows Media Audio).wma"));
  }

  void pauseResumeAndStopThenConvertRebuilds() {
    TWindowUnderTest test;
    TfrmMain& window = *test.Window;
    test.User.Files = {Clip("one.avi", TMediaKind::Avi, 2), Clip("two.avi", TMediaKind::Avi, 2),
                       Clip("three.avi", TMediaKind::Avi, 2)};
    window.btnOpenClick();
    SelectProfile(test, WmaCaption);
    Convert(test);
    auto* pause = test.Control<QPushButton>("btnPause");
    const struct {
      const char* Caption;
      const char* Title;
    } steps[] = {{"Resume", "Tavrelle [Paused]"},
                 {"Pause", "Tavrelle [Converting...]"},
                 {"Resume", "Tavrelle [Paused]"}};
    for (const auto& step : steps) {
      window.btnPauseClick();
      QCOMPARE(pause->text(), QString(step.Caption));
      QCOMPARE(window.windowTitle(), QString(step.Title));
    }
    window.btnConvertClick();  // Stop, while paused
    QVERIFY(window.StopRequested());
    WaitForTheBatch(test);
    QCOMPARE(window.windowTitle(), QString("Tavrelle [Job Canceled]"));
    QVERIFY(pause->isHidden());
    QCOMPARE(test.Control<QPushButton>("btnConvert")->text(), QString("Convert!"));
    const QStringList statuses = RowTexts(test, 1);
    QCOMPARE(statuses.last(), QString("Canceled"));
    for (const QString& status : statuses)
      QVERIFY2(status == "Done" || status == "Canceled", qPrintable(status));
    QCOMPARE(window.QvAVC().TaskCount(), 3);
    QVERIFY(window.LastConvertedProfile().isEmpty());

    // The next Convert rebuilds every task and runs the whole list.
    Convert(test);
    QVERIFY(!window.StopRequested());
    QCOMPARE(pause->text(), QString("Pause"));
    QCOMPARE(window.QvAVC().TaskCount(), 3);
    for (int task = 0; task < 3; ++task) QCOMPARE(window.RowOfTask(task), task);
    WaitForTheBatch(test);
    QCOMPARE(RowTexts(test, 1), QStringList({"Done", "Done", "Done"}));
    QCOMPARE(window.windowTitle(), QString("Tavrelle [Done]"));
  }

  void closingDuringABatchStopsItAndWaits() {
    TWindowUnderTest test;
    TfrmMain& window = *test.Window;
    test.User.Files = {Clip("long.avi", TMediaKind::Avi, 2), Clip("later.avi", TMediaKind::Avi, 2)};
    window.btnOpenClick();
    SelectProfile(test, WmaCaption);
    window.show();
    Convert(test);
    window.close();
    QVERIFY(!window.BatchRunning());
    QCOMPARE(window.windowTitle(), QString("Tavrelle [Job Canceled]"));
  }

  void failedTasksAreShownAsFailed() {
    // Two-pass statistics that cannot be written: the transcode fails.
    TWindowUnderTest test("pass=2\npasslogfile=/nonexistent/stats\n");
    TfrmMain& window = *test.Window;
    test.User.Files = {Clip("clip.avi", TMediaKind::Avi)};
    window.btnOpenClick();
    SelectProfile(test, "Xbox360 MCE 640*480 (*.avi)");
    test.Control<QCheckBox>("chkSameFolder")->setChecked(true);
    Convert(test);
    WaitForTheBatch(test);
    QCOMPARE(RowTexts(test, 1), QStringList({"Failed"}));
    // Back at idle the folder controls still follow the same-folder box.
    QVERIFY(!test.Control<QLineEdit>("txtOutput")->isEnabled());
    QVERIFY(!test.Control<QPushButton>("btnFolderChange")->isEnabled());
    QVERIFY(!test.Control<QTableWidget>("lvFiles")->item(0, 1)->toolTip().isEmpty());
    QCOMPARE(window.windowTitle(), QString("Tavrelle [Done]"));
  }

  void outputsThatCannotBeMadeLeaveTheWindowIdle() {
    TWindowUnderTest test("f=no_such_container\n");
    TfrmMain& window = *test.Window;
    test.User.Files = {Clip("a.wav", TMediaKind::Wav), Clip("b.wav", TMediaKind::Wav)};
    window.btnOpenClick();
    SelectProfile(test, Mp3Caption);
    Convert(test);
    QCOMPARE(test.User.Messages,
             QStringList({"plain: Error found", "plain: Error found",
                          "plain: None of the files in the list could be set up for converting."}));
    QVERIFY(!window.BatchRunning());
    QCOMPARE(test.Control<QPushButton>("btnConvert")->text(), QString("Convert!"));
    QCOMPARE(RowTexts(test, 1), QStringList({"Failed", "Failed"}));
    QCOMPARE(window.QvAVC().TaskCount(), 0);

    // An output folder that cannot be made: said once, nothing starts.
    TWindowUnderTest blocked;
    blocked.User.Files = {Clip("a.wav", TMediaKind::Wav)};
    blocked.Window->btnOpenClick();
    SelectProfile(blocked, Mp3Caption);
    QFile file(blocked.Folder.filePath("file"));
    QVERIFY(file.open(QIODevice::WriteOnly));
    blocked.Control<QLineEdit>("txtOutput")->setText(blocked.Folder.filePath("file/sub"));
    blocked.Window->btnConvertClick();
    QCOMPARE(blocked.User.Messages, QStringList({"plain: The output folder cannot be written."}));
    QVERIFY(!blocked.Window->BatchRunning());
  }

  void smallHandlersAskTheDesktop() {
    TWindowUnderTest test;
    test.Control<QLineEdit>("txtOutput")->setText("/srv/out");
    test.Window->btnBrowseClick();
    test.Window->suiFormMainTitleBarHelpBtnClick();
    QCOMPARE(test.User.Opened, QStringList({"/srv/out", TestAppFolder() + "help.html"}));
    QDialog* shown = nullptr;
    test.User.Modal = [&](QDialog& dialog) {
      shown = &dialog;
      return int(QDialog::Rejected);
    };
    test.Window->btnOptionsClick();
    QCOMPARE(shown, &test.Window->frmOptions());
  }
};

QTEST_MAIN(MainWindowTest)
#include "MainWindowTest.moc"
