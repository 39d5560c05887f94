#include "UserInteraction.h"

#include <QDesktopServices>
#include <QDialog>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QMessageBox>
#include <QUrl>

QStringList TDesktopInteraction::ChooseFiles(QWidget* parent, const QString& filter) {
  QFileDialog dialog(parent);
  dialog.setObjectName("dlOpen");
  dialog.setFileMode(QFileDialog::ExistingFiles);
  dialog.setNameFilter(filter);
  dialog.setOption(QFileDialog::ReadOnly, false);
  dialog.setSizeGripEnabled(true);
  if (dialog.exec() != QDialog::Accepted) return {};
  return dialog.selectedFiles();
}

QString TDesktopInteraction::ChooseFolder(QWidget* parent, const QString& caption) {
  const QString folder =
      QFileDialog::getExistingDirectory(parent, caption, QString(), QFileDialog::ShowDirsOnly);
  if (folder.isEmpty()) return {};
  return QDir::cleanPath(folder);
}

namespace {
// The application title that plain message boxes carry.
const char* const PlainBoxCaption = "Zenth Video Cenverter";
}  // namespace

void TDesktopInteraction::ShowPlain(QWidget* parent, const QString& text, const QString& details) {
  QMessageBox box(QMessageBox::NoIcon, PlainBoxCaption, text, QMessageBox::Ok, parent);
  if (!details.isEmpty()) box.setInformativeText(details);
  box.exec();
}

void TDesktopInteraction::ShowInformation(QWidget* parent, const QString& text) {
  QMessageBox::information(parent, "Information", text);
}

bool TDesktopInteraction::AskYesNo(QWidget* parent, const QString& text) {
  QMessageBox box(QMessageBox::NoIcon, "Information", text, QMessageBox::Yes | QMessageBox::No,
                  parent);
  return box.exec() == QMessageBox::Yes;
}

int TDesktopInteraction::RunModal(QDialog& dialog) {
  return dialog.exec();
}

void TDesktopInteraction::OpenUrl(const QString& target) {
  const QUrl url = QFileInfo(target).isAbsolute() ? QUrl::fromLocalFile(target) : QUrl(target);
  QDesktopServices::openUrl(url);
}
