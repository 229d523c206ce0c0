// soak_queue: the desktop program's window converts many recordings in one queue run
// while the program watches its own memory and open file handles.
//
//   soak_queue [--all] OUT_DIR FILE.vyr...   (bench/soak_queue.sh makes the recordings)
//   --all prints the sample of every file, not only of every 20th.
//
// The window, the conversion task and the settings module are created as the program's
// entry creates them (TProgramModules); message boxes are answered without a person.
// After each finished file the resident memory (/proc/self/statm) and the number of open
// file handles (/proc/self/fd) are sampled. Printed: a table of samples, first / last /
// largest values, and the judgement: flat when the last value (the queue idle after the
// run) is within a small margin of the value after the first tenth of the files. Exit status 0 when both are flat and every
// file converted.
#include <QApplication>
#include <QElapsedTimer>
#include <QLineEdit>
#include <QTimer>
#include <algorithm>
#include <cstdio>
#include <dirent.h>
#include <string>
#include <unistd.h>
#include <vector>

#include "support/uMultiLanguage.h"
#include "ui/UFileListModel.h"
#include "ui/UFmVyrToMp4.h"
#include "ui/UProgramModules.h"

namespace {

struct TSample {
  int Files;     // files finished when sampled
  long RssKb;    // resident memory
  int Handles;   // open file handles
};

long ResidentKb() {
  long pages = 0, resident = 0;
  FILE* f = std::fopen("/proc/self/statm", "r");
  if (!f) return -1;
  const bool ok = std::fscanf(f, "%ld %ld", &pages, &resident) == 2;
  std::fclose(f);
  return ok ? resident * (sysconf(_SC_PAGESIZE) / 1024) : -1;
}

int OpenHandles() {
  DIR* d = opendir("/proc/self/fd");
  if (!d) return -1;
  int n = 0;
  while (dirent* e = readdir(d)) {
    if (e->d_name[0] != '.') ++n;
  }
  closedir(d);
  return n - 1;  // the directory being read is one of them
}

TSample Sample(int AFiles) { return {AFiles, ResidentKb(), OpenHandles()}; }

// Flat: the last value at most AMargin above the reference value.
const char* Judge(long ALast, long AReference, long AMargin) {
  return ALast <= AReference + AMargin ? "flat" : "GROWING";
}

}  // namespace

int main(int argc, char** argv) {
  const bool all = argc > 1 && std::string(argv[1]) == "--all";
  const int firstArg = all ? 2 : 1;
  if (argc < firstArg + 2) {
    std::fputs("usage: soak_queue [--all] OUT_DIR FILE.vyr...\n", stderr);
    return 2;
  }
  CreateMultiLanguage();
  QApplication app(argc, argv);
  QApplication::setApplicationName(QStringLiteral("VyrTranscode"));

  TProgramModules modules;
  TFmVyrToMp4* window = &modules.Window();
  std::vector<QString> messages;
  TWindowDialogs dialogs;
  dialogs.MessageBox = [&messages](QWidget*, const TMessageBoxRequest& ARequest) {
    messages.push_back(ARequest.Text);
    return ARequest.Buttons == TMsgButtons::YesNo ? TMsgResult::Yes : TMsgResult::Ok;
  };
  dialogs.OpenFiles = [](QWidget*, const QString&) { return QStringList(); };
  dialogs.SelectFolder = [](QWidget*, const QString&, const QString&) { return QString(); };
  window->SetDialogs(dialogs);
  window->show();
  // The folder as the folder browser fills it in: with its trailing "/".
  QString outDir = QString::fromLocal8Bit(argv[firstArg]);
  if (!outDir.endsWith('/')) outDir += '/';
  window->txtSavePath->setText(outDir);
  window->SetOutFormatIndex(0);

  QStringList files;
  for (int i = firstArg + 1; i < argc; ++i) files << QString::fromLocal8Bit(argv[i]);
  window->DropFiles(files);
  const int count = window->cdsConvert->RecordCount();
  if (count != files.size()) {
    std::fprintf(stderr, "soak_queue: %d of %lld files listed\n", count, static_cast<long long>(files.size()));
    return 1;
  }

  std::vector<TSample> samples{Sample(0)};
  QElapsedTimer clock;
  clock.start();
  window->btnConvertClick();
  int finished = 0;
  QTimer poll;
  QObject::connect(&poll, &QTimer::timeout, [&] {
    int over = 0;
    for (int i = 1; i <= count; ++i) {
      if (window->cdsConvert->Row(i)->ConvertStatus == eCSOver) ++over;
    }
    if (over > finished) {
      finished = over;
      samples.push_back(Sample(finished));
    }
    if (!window->IsWorking()) {
      poll.stop();
      app.quit();
    }
  });
  poll.start(5);
  app.exec();
  const double seconds = clock.elapsed() / 1000.0;
  samples.push_back(Sample(finished));  // after the run, the queue idle

  // The reference: after the first tenth of the files (at least 5), once every decoder,
  // encoder and picture size of the mix has been set up at least once.
  size_t refIndex = std::max<size_t>(5, static_cast<size_t>(count) / 10);
  if (refIndex >= samples.size()) refIndex = samples.size() - 1;
  const TSample& ref = samples[refIndex];
  const TSample& first = samples[1 < samples.size() ? 1 : 0];
  const TSample& last = samples.back();
  TSample most = samples[0];
  for (const TSample& s : samples) {
    if (s.RssKb > most.RssKb) most.RssKb = s.RssKb;
    if (s.Handles > most.Handles) most.Handles = s.Handles;
  }

  std::printf("%d of %d files converted in one queue run, %.1f s, %d failed, messages:", finished, count,
              seconds, window->FailedCount());
  for (const QString& m : messages) std::printf(" \"%s\"", m.toUtf8().constData());
  std::printf("\n\n| after file | resident memory | open handles |\n|-----------:|----------------:|-------------:|\n");
  for (const TSample& s : samples) {
    if (all || s.Files <= 1 || s.Files % 20 == 0 || &s == &samples.back())
      std::printf("| %10d | %11.1f MB | %12d |\n", s.Files, s.RssKb / 1024.0, s.Handles);
  }
  const long rssMargin = std::max(2048L, ref.RssKb / 20);  // 2 MB or 5 %
  const char* rssJudgement = Judge(last.RssKb, ref.RssKb, rssMargin);
  const char* fdJudgement = Judge(last.Handles, ref.Handles, 0);
  std::printf("\nbefore the run: %.1f MB, %d handles\n", samples[0].RssKb / 1024.0, samples[0].Handles);
  std::printf("resident memory: first %.1f MB, after file %d %.1f MB, last %.1f MB, largest %.1f MB: %s\n",
              first.RssKb / 1024.0, ref.Files, ref.RssKb / 1024.0, last.RssKb / 1024.0, most.RssKb / 1024.0,
              rssJudgement);
  std::printf("open handles: first %d, after file %d %d, last %d, most %d: %s\n", first.Handles, ref.Files,
              ref.Handles, last.Handles, most.Handles, fdJudgement);

  const bool ok = finished == count && window->FailedCount() == 0 && messages.size() == 1 &&
                  messages[0] == TFmVyrToMp4::Lang("sConvertOver") && std::string(rssJudgement) == "flat" &&
                  std::string(fdJudgement) == "flat";
  std::printf("%s\n", ok ? "PASS" : "FAIL");
  return ok ? 0 : 1;  // the modules are released in their order on the way out
}
