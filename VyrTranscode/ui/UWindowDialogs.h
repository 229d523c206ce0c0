// The dialogs of the main window: message box, file-open dialog, folder browser. The
// window shows every one of them through these functions, so a test can answer them
// without a person.
#pragma once

#include <QString>
#include <QStringList>
#include <functional>

class QWidget;

enum class TMsgIcon { None, Information, Question, Warning, Error };
// ReplaceSkipCancel: two buttons of the window's own ("Replace" and "Skip existing", with
// the texts of ChoiceTexts) and the toolkit's Cancel, which is also the escape answer.
enum class TMsgButtons { Ok, YesNo, ReplaceSkipCancel };
enum class TMsgResult { Ok, Yes, No, Replace, Skip, Cancel };

struct TMessageBoxRequest {
  QString Text;
  QString Title;
  TMsgIcon Icon = TMsgIcon::None;
  TMsgButtons Buttons = TMsgButtons::Ok;
  QStringList ChoiceTexts;  // ReplaceSkipCancel: the texts of Replace and Skip
};

struct TWindowDialogs {
  std::function<TMsgResult(QWidget* AParent, const TMessageBoxRequest& ARequest)> MessageBox;
  // The chosen files, empty when cancelled. AFilter is in Qt's form ("VYR(*.VYR)").
  std::function<QStringList(QWidget* AParent, const QString& AFilter)> OpenFiles;
  // The chosen folder (without a trailing "/"), empty when cancelled.
  std::function<QString(QWidget* AParent, const QString& ATitle, const QString& AStartDir)> SelectFolder;
  // Closes every dialog still open as if it were cancelled (a message box answers as its
  // escape button would); each caller goes on once control returns to it.
  std::function<void()> CloseAll;
};

// The real dialogs.
TWindowDialogs DefaultWindowDialogs();

// Closes every dialog of the program that is shown (see TWindowDialogs::CloseAll).
void CloseOpenDialogs();
