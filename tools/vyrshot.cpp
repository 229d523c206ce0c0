// vyrshot: takes the picture of the desktop program's window for the README. It runs the
// program's main window with its real conversion task, lists the given recordings, starts
// converting them and saves the window once the first file is done and the second is
// about half converted.
//   vyrshot OUT.png FILE.vyr...
// The settings come from the environment as for the program (scripts/screenshot.sh
// prepares them).
#include <QApplication>
#include <QElapsedTimer>
#include <QPixmap>
#include <QTimer>
#include <cstdio>
#include <memory>

#include "support/uMultiLanguage.h"
#include "ui/UFileListModel.h"
#include "ui/UFmVyrToMp4.h"
#include "ui/UProgramModules.h"

int main(int argc, char** argv) {
  if (argc < 3) {
    std::fputs("usage: vyrshot OUT.png FILE.vyr...\n", stderr);
    return 2;
  }
  CreateMultiLanguage();
  QApplication app(argc, argv);
  QApplication::setApplicationName(QStringLiteral("VyrTranscode"));

  TProgramModules modules;
  TFmVyrToMp4* window = &modules.Window();
  window->show();

  QStringList files;
  for (int i = 2; i < argc; ++i) files << QString::fromLocal8Bit(argv[i]);
  window->DropFiles(files);
  window->btnConvertClick();

  const QString out = QString::fromLocal8Bit(argv[1]);
  int result = 1;
  QElapsedTimer clock;
  clock.start();
  QTimer poll;
  QObject::connect(&poll, &QTimer::timeout, [&] {
    const TFileListRow* first = window->cdsConvert->Row(1);
    const TFileListRow* second = window->cdsConvert->Row(2);
    const bool ready = first && second && first->ConvertStatus == eCSOver && second->ConvertStatus == eCSing &&
                       second->ConvertProgress >= 35 && second->ConvertProgress <= 65;
    if (ready || clock.elapsed() > 60000 || !window->IsWorking()) {
      poll.stop();
      if (ready) {
        window->repaint();
        result = window->grab().save(out) ? 0 : 1;
        if (result != 0) std::fprintf(stderr, "vyrshot: cannot write %s\n", argv[1]);
      } else {
        std::fputs("vyrshot: the conversion never reached the moment to take\n", stderr);
      }
      window->ShutdownTasks();
      app.quit();
    }
  });
  poll.start(10);
  app.exec();
  return result;  // the modules are released in their order on the way out
}
