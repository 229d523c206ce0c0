// The desktop program's entry: one instance per user. A second start asks the running
// window to come forward and ends without creating any window or module of its own.
//
// Creation order: the main window, the conversion task DmRecordToMP4, the settings module
// DmReadSysParamIni (which sets the debug-log level before any worker thread exists). The
// window is shown once all three exist. At the end a task thread still running is stopped
// and joined first; then the language engine goes, then the settings module, the
// conversion task and the window, in that order.
#include <QApplication>
#include <memory>

#include "support/uMultiLanguage.h"
#include "ui/UFmVyrToMp4.h"
#include "ui/UInstanceActivation.h"
#include "ui/UInstanceLock.h"
#include "ui/UProgramModules.h"
#include "ui/UWindowMessage.h"

int main(int argc, char** argv) {
  // The language engine exists in every started process, before anything else.
  CreateMultiLanguage();
  TInstanceLock lock(VYR_INSTANCE_LOCK_NAME);
  if (!lock.TryAcquire()) {
    // Another instance runs (or the lock cannot be had): bring its window forward. When it
    // has no window yet, end silently.
    RequestActivation(3000);
    FreeMultiLanguage();
    return 0;
  }

  QApplication app(argc, argv);
  QApplication::setApplicationName(QStringLiteral("VyrTranscode"));
  QApplication::setQuitOnLastWindowClosed(true);

  TProgramModules modules;
  TFmVyrToMp4* window = &modules.Window();

  // The lock is ours: sockets left by a killed instance may go, and ours take their place.
  window->StartMessageServers();
  window->show();
  return app.exec();  // the modules are released in their order on the way out
}
