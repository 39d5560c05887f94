#pragma once
// Shared by the window's tests: answers in place of the user, the media
// libraries loaded once, and a window set up in a folder of its own.
#include <QDialog>
#include <QTemporaryDir>
#include <QtTest>
#include <functional>
#include <memory>

#include "MainWindow.h"
#include "Src/LibraryLoader.h"
#include "UserInteraction.h"
#include "platform/Environment.h"

// Records every question and answers it as scripted; never opens a dialog.
class TScriptedInteraction : public TUserInteraction {
 public:
  QStringList Files;     // what the file-open dialog returns
  QString Folder;        // what the folder browser returns
  bool Answer = true;    // the answer to a yes/no question
  QStringList Messages;  // "plain: ...", "info: ..." and "ask: ..." in order
  QStringList Details;   // the details of each plain box
  QStringList Opened;    // what was handed to the desktop
  std::function<int(QDialog&)> Modal = [](QDialog&) { return int(QDialog::Rejected); };

  QStringList ChooseFiles(QWidget*, const QString&) override { return Files; }
  QString ChooseFolder(QWidget*, const QString&) override { return Folder; }
  void ShowPlain(QWidget*, const QString& text, const QString& details) override {
    Messages << "plain: " + text;
    Details << details;
  }
  void ShowInformation(QWidget*, const QString& text) override { Messages << "info: " + text; }
  bool AskYesNo(QWidget*, const QString& text) override {
    Messages << "ask: " + text;
    return Answer;
  }
  int RunModal(QDialog& dialog) override { return Modal(dialog); }
  void OpenUrl(const QString& target) override { Opened << target; }
};

inline QString TestAppFolder() {
  return QString::fromStdString(IncludeTrailingPathDelimiter(ExecutableFolder()));
}

inline bool LoadTestLibraries() {
  return LoadAllLibraries(TestAppFolder().toStdString() + "lib", true);
}

// A window with its own settings file and output folder.
struct TWindowUnderTest {
  explicit TWindowUnderTest(const QString& extraOptions = {}) {
    TMainWindowSetup setup;
    setup.AppFolder = TestAppFolder();
    setup.SettingsFile = Folder.filePath("config.ini");
    setup.Interaction = &User;
    setup.ExtraOutputOptions = extraOptions;
    Window = std::make_unique<TfrmMain>(setup);
  }
  template <typename T>
  T* Control(const QString& name) const {
    return Window->findChild<T*>(name);
  }
  QString OutputFolder() const { return Folder.filePath("out"); }

  QTemporaryDir Folder;
  TScriptedInteraction User;
  std::unique_ptr<TfrmMain> Window;
};
