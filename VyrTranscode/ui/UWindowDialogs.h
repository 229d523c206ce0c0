// The dialogs of the main window: message box, file-open dialog, folder browser. The
// window shows every one of them through these functions, so a test can answer them
// without a person.
#pragma once

#include <QString>
#include <QStringList>
#include <functional>

class QWidget;

enum class TMsgIcon { None, Information, Question, Warning, Error };
enum class TMsgButtons { Ok, YesNo };
enum class TMsgResult { Ok, Yes, No };

struct TMessageBoxRequest {
  QString Text;
  QString Title;
  TMsgIcon Icon = TMsgIcon::None;
  TMsgButtons Buttons = TMsgButtons::Ok;
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
