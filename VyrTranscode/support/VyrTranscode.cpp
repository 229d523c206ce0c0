// The desktop program's entry: one instance per user.
//
//   VyrTranscode [--help] [--version] [--] [FILE...]
//
// The files given are listed in the window as if they were dropped on it. A second start
// hands its files to the running window over the activation socket (the window comes
// forward and lists them; during a run, once the run has ended) and ends without creating
// any window or module of its own. When the running instance does not listen yet, the
// second start tries again for up to 5 s; when it still cannot hand its files over, it
// says so on standard error and in a message box and ends with status 1. Without files it
// ends silently.
//
// Creation order: the main window, the conversion task DmRecordToMP4, the settings module
// DmReadSysParamIni (which sets the debug-log level before any worker thread exists). The
// window is shown once the event loop runs, so a box it shows at that time (an error of
// the settings file, say) runs inside the loop and a close order can end the program. At
// the end a task thread still running is stopped and joined first; then the language
// engine goes, then the settings module, the conversion task and the window, in that order.
//
// When the user has no private runtime folder for the lock and the sockets, the program
// says so on standard error and in a message box, and ends with status 1.
#include <QApplication>
#include <QFile>
#include <QMessageBox>
#include <QTimer>
#include <cstdlib>
#include <memory>
#include <string>
#include <unistd.h>

#include "support/uFunctionsLib.h"
#include "support/uMultiLanguage.h"
#include "ui/UFmVyrToMp4.h"
#include "ui/UHandOver.h"
#include "ui/UInstanceActivation.h"
#include "ui/UInstanceLock.h"
#include "ui/UProgramArguments.h"
#include "ui/UProgramModules.h"
#include "ui/UWindowMessage.h"
#include "ui/UWindowTexts.h"

namespace {

// How long a second start waits for the running instance to listen, and for its answer.
constexpr int HandOverRetryMs = 5000;
constexpr int HandOverAnswerMs = 10000;

void WriteAll(int AFd, const std::string& AText) {
  size_t at = 0;
  while (at < AText.size()) {
    const ssize_t n = ::write(AFd, AText.data() + at, AText.size() - at);
    if (n <= 0) return;
    at += static_cast<size_t>(n);
  }
}

// One line on standard error, whatever the log level: the program is about to end.
void ReportStartFailure(const std::string& AText) { WriteAll(STDERR_FILENO, "VyrTranscode: " + AText + "\n"); }

// Whether a message box can be shown: a display to show it on.
bool CanShowBoxes() {
  for (const char* name : {"QT_QPA_PLATFORM", "DISPLAY", "WAYLAND_DISPLAY"}) {
    const char* v = std::getenv(name);
    if (v && *v) return true;
  }
  return false;
}

void ShowStartFailureBox(int argc, char** argv, const QString& AText) {
  if (!CanShowBoxes()) return;
  QApplication app(argc, argv);
  QApplication::setApplicationName(QStringLiteral("VyrTranscode"));
  const QString title = GetLangText("sTitleVYRToMP4");
  QMessageBox::critical(nullptr, title.isEmpty() ? QApplication::applicationName() : title, AText);
}

// A second start with files whose running instance did not take them: says which.
int ReportHandOverFailure(int argc, char** argv, const std::vector<std::string>& AFiles) {
  std::string line = "the running instance did not take the files:";
  for (const std::string& f : AFiles) line += " " + f;
  ReportStartFailure(line);
  QStringList names;
  for (const std::string& f : AFiles) names << QFile::decodeName(QByteArray::fromStdString(f));
  QString list = names.mid(0, 10).join(QLatin1Char('\n'));
  if (names.size() > 10) list += QLatin1Char('\n') + FormatText(GetLangText("sAndMore"), {QString::number(names.size() - 10)});
  QString text = GetLangText("sHandOverFailed");
  if (text.isEmpty()) text = QString::fromStdString(line);
  ShowStartFailureBox(argc, argv, text + QLatin1Char('\n') + list);
  return 1;
}

}  // namespace

int main(int argc, char** argv) {
  const TProgramArguments args = ParseProgramArguments(argc, argv, CurrentFolder());
  switch (args.Action) {
    case TProgramAction::Help:
      WriteAll(STDOUT_FILENO, ProgramUsage());
      return 0;
    case TProgramAction::Version:
      WriteAll(STDOUT_FILENO, ProgramVersionText() + "\n");
      return 0;
    case TProgramAction::Error:
      ReportStartFailure(args.Error);
      WriteAll(STDERR_FILENO, "Try 'VyrTranscode --help' for more information.\n");
      return 2;
    case TProgramAction::Run:
      break;
  }

  // The language engine exists in every started process, before anything else.
  CreateMultiLanguage();
  TInstanceLock lock(VYR_INSTANCE_LOCK_NAME);
  switch (lock.Acquire()) {
    case TLockStatus::Acquired:
      break;
    case TLockStatus::HeldByAnother: {
      // Another instance runs: it lists our files and comes forward. It may still be
      // starting: it is given a moment to listen.
      const THandOverResult r = HandOverToRunningInstance(args.Files, HandOverRetryMs, HandOverAnswerMs);
      int status = 0;
      if (r != THandOverResult::Delivered && !args.Files.empty()) status = ReportHandOverFailure(argc, argv, args.Files);
      FreeMultiLanguage();
      return status;
    }
    case TLockStatus::Unavailable: {
      const std::string text = "cannot start: " + lock.Problem();
      ReportStartFailure(text);
      ShowStartFailureBox(argc, argv, QString::fromStdString(text));
      FreeMultiLanguage();
      return 1;
    }
  }

  QApplication app(argc, argv);
  QApplication::setApplicationName(QStringLiteral("VyrTranscode"));
  QApplication::setApplicationVersion(QString::fromStdString(ProgramVersionText()).section(QLatin1Char(' '), 1));
  QApplication::setQuitOnLastWindowClosed(true);
  // The desktop entry the window belongs to: its name and icon in task bars and docks.
  QGuiApplication::setDesktopFileName(QStringLiteral("org.vyrtranscode.VyrTranscode"));

  TProgramModules modules;
  TFmVyrToMp4* window = &modules.Window();

  // The lock is ours: sockets left by a killed instance may go, and ours take their place.
  if (!window->StartMessageServers()) {
    PrintDebugString("The window message and activation sockets are not all available");
  }
  // Our own files are listed once the window is shown, like those a second start hands over.
  window->HandOverFiles(args.Files);
  QTimer::singleShot(0, window, [window] { window->show(); });
  return app.exec();  // the modules are released in their order on the way out
}
