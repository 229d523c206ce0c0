#include "ui/UWindowDialogs.h"

#include <QApplication>
#include <QFileDialog>
#include <QMessageBox>
#include <QPushButton>

namespace {

TMsgResult ShowMessageBox(QWidget* AParent, const TMessageBoxRequest& ARequest) {
  QMessageBox box(AParent);
  box.setWindowTitle(ARequest.Title);
  box.setText(ARequest.Text);
  switch (ARequest.Icon) {
    case TMsgIcon::None: box.setIcon(QMessageBox::NoIcon); break;
    case TMsgIcon::Information: box.setIcon(QMessageBox::Information); break;
    case TMsgIcon::Question: box.setIcon(QMessageBox::Question); break;
    case TMsgIcon::Warning: box.setIcon(QMessageBox::Warning); break;
    case TMsgIcon::Error: box.setIcon(QMessageBox::Critical); break;
  }
  if (ARequest.Buttons == TMsgButtons::ReplaceSkipCancel) {
    QPushButton* replace = box.addButton(ARequest.ChoiceTexts.value(0), QMessageBox::DestructiveRole);
    QPushButton* skip = box.addButton(ARequest.ChoiceTexts.value(1), QMessageBox::AcceptRole);
    QPushButton* cancel = box.addButton(QMessageBox::Cancel);
    // Enter keeps the existing files; Escape and the close button cancel.
    box.setDefaultButton(skip);
    box.setEscapeButton(cancel);
    box.exec();
    if (box.clickedButton() == replace) return TMsgResult::Replace;
    if (box.clickedButton() == skip) return TMsgResult::Skip;
    return TMsgResult::Cancel;
  }
  if (ARequest.Buttons == TMsgButtons::YesNo) {
    box.setStandardButtons(QMessageBox::Yes | QMessageBox::No);
    box.setDefaultButton(QMessageBox::No);
  } else {
    box.setStandardButtons(QMessageBox::Ok);
  }
  const int r = box.exec();
  if (ARequest.Buttons == TMsgButtons::YesNo) return r == QMessageBox::Yes ? TMsgResult::Yes : TMsgResult::No;
  return TMsgResult::Ok;
}

QStringList ShowOpenFiles(QWidget* AParent, const QString& AFilter) {
  QFileDialog dlg(AParent);
  dlg.setFileMode(QFileDialog::ExistingFiles);
  dlg.setNameFilter(AFilter);
  dlg.setOption(QFileDialog::ReadOnly, true);
  // Qt's own dialog matches the filter without regard to case, so .vyr and .VYR files
  // both show (a desktop's native dialog may not).
  dlg.setOption(QFileDialog::DontUseNativeDialog, true);
  if (dlg.exec() != QDialog::Accepted) return QStringList();
  return dlg.selectedFiles();
}

QString ShowSelectFolder(QWidget* AParent, const QString& ATitle, const QString& AStartDir) {
  // Qt's own folder dialog has a button for making a new folder.
  return QFileDialog::getExistingDirectory(AParent, ATitle, AStartDir,
                                           QFileDialog::ShowDirsOnly | QFileDialog::DontUseNativeDialog);
}

}  // namespace

TWindowDialogs DefaultWindowDialogs() {
  TWindowDialogs d;
  d.MessageBox = ShowMessageBox;
  d.OpenFiles = ShowOpenFiles;
  d.SelectFolder = ShowSelectFolder;
  d.CloseAll = CloseOpenDialogs;
  return d;
}

void CloseOpenDialogs() {
  for (QWidget* w : QApplication::topLevelWidgets()) {
    auto* dialog = qobject_cast<QDialog*>(w);
    if (dialog && dialog->isVisible()) dialog->reject();
  }
}
