// The desktop program's entry: one instance per user. A second start asks the running
// window to come forward and ends without creating any window or module of its own.
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
#include <QMessageBox>
#include <QTimer>
#include <memory>
#include <string>
#include <unistd.h>

#include "support/uFunctionsLib.h"
#include "support/uMultiLanguage.h"
#include "ui/UFmVyrToMp4.h"
#include "ui/UInstanceActivation.h"
#include "ui/UInstanceLock.h"
#include "ui/UProgramModules.h"
#include "ui/UWindowMessage.h"

namespace {

// One line on standard error, whatever the log level: the program is about to end.
void ReportStartFailure(const std::string& AText) {
  const std::string line = "VyrTranscode: " + AText + "\n";
  ssize_t ignored = ::write(STDERR_FILENO, line.data(), line.size());
  (void)ignored;
}

}  // namespace

int main(int argc, char** argv) {
  // The language engine exists in every started process, before anything else.
  CreateMultiLanguage();
  TInstanceLock lock(VYR_INSTANCE_LOCK_NAME);
  switch (lock.Acquire()) {
    case TLockStatus::Acquired:
      break;
    case TLockStatus::HeldByAnother:
      // Another instance runs: bring its window forward. When it has no window yet, end
      // silently.
      RequestActivation(3000);
      FreeMultiLanguage();
      return 0;
    case TLockStatus::Unavailable: {
      const std::string text = "cannot start: " + lock.Problem();
      ReportStartFailure(text);
      {
        QApplication app(argc, argv);
        QApplication::setApplicationName(QStringLiteral("VyrTranscode"));
        QMessageBox::critical(nullptr, QApplication::applicationName(), QString::fromStdString(text));
      }
      FreeMultiLanguage();
      return 1;
    }
  }

  QApplication app(argc, argv);
  QApplication::setApplicationName(QStringLiteral("VyrTranscode"));
  QApplication::setQuitOnLastWindowClosed(true);

  TProgramModules modules;
  TFmVyrToMp4* window = &modules.Window();

  // The lock is ours: sockets left by a killed instance may go, and ours take their place.
  if (!window->StartMessageServers()) {
    PrintDebugString("The window message and activation sockets are not all available");
  }
  QTimer::singleShot(0, window, [window] { window->show(); });
  return app.exec();  // the modules are released in their order on the way out
}
