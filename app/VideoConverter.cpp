// The desktop program: one main window on the Qt event loop.
#include <QApplication>
#include <clocale>

#include "MainWindow.h"
#include "QtMainThread.h"
#include "Screenshot.h"
#include "Skin.h"
#include "platform/Environment.h"

int main(int argc, char** argv) {
  QApplication application(argc, argv);
  // The media libraries expect the "C" number format; QApplication has just
  // set the process locale from the environment.
  std::setlocale(LC_NUMERIC, "C");
  QApplication::setApplicationName("tavrelle");
  QApplication::setWindowIcon(ProgramIcon());
  InstallQtMainThreadDispatcher();

  TMainWindowSetup setup;
  setup.AppFolder = QString::fromStdString(IncludeTrailingPathDelimiter(ExecutableFolder()));
  TfrmMain window(setup);
  std::unique_ptr<TScreenshotRun> screenshot =
      TScreenshotRun::FromArguments(window, QApplication::arguments());
  window.show();
  if (screenshot) screenshot->Begin();
  return application.exec();
}
