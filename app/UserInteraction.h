#pragma once
// Everything the window asks of the user or the desktop goes through this
// interface: file and folder choices, message boxes, modal dialogs and the
// desktop's "open". The application uses the real dialogs; tests answer in
// their place so that no modal dialog is ever left open.
#include <QString>
#include <QStringList>

class QDialog;
class QWidget;

class TUserInteraction {
 public:
  virtual ~TUserInteraction() = default;
  // Several existing files; empty when cancelled. filter in the dialog's
  // form: "Name (*.a *.b);;Other (*.*)".
  virtual QStringList ChooseFiles(QWidget* parent, const QString& filter) = 0;
  // A folder without a trailing delimiter; empty when cancelled.
  virtual QString ChooseFolder(QWidget* parent, const QString& caption) = 0;
  // A plain box captioned with the application's title.
  virtual void ShowPlain(QWidget* parent, const QString& text, const QString& details = {}) = 0;
  // A box captioned "Information" with the information icon.
  virtual void ShowInformation(QWidget* parent, const QString& text) = 0;
  // A box captioned "Information" with Yes and No and no icon; true for Yes.
  virtual bool AskYesNo(QWidget* parent, const QString& text) = 0;
  // Shows the dialog modally and returns its result.
  virtual int RunModal(QDialog& dialog) = 0;
  // The desktop's default handler for a file, a folder or a web address.
  virtual void OpenUrl(const QString& target) = 0;
};

// The real dialogs and the desktop services.
class TDesktopInteraction : public TUserInteraction {
 public:
  QStringList ChooseFiles(QWidget* parent, const QString& filter) override;
  QString ChooseFolder(QWidget* parent, const QString& caption) override;
  void ShowPlain(QWidget* parent, const QString& text, const QString& details) override;
  void ShowInformation(QWidget* parent, const QString& text) override;
  bool AskYesNo(QWidget* parent, const QString& text) override;
  int RunModal(QDialog& dialog) override;
  void OpenUrl(const QString& target) override;
};
