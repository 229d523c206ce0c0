#include "ui/UOpenExplorer.h"

#include <QTimer>
#include <cerrno>
#include <cstring>
#include <csignal>
#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include "support/uFunctionsLib.h"

extern char** environ;

namespace {
constexpr int PollIntervalMs = 100;
}  // namespace

TFolderOpener::TFolderOpener(QObject* AParent) : QObject(AParent), FPoll(new QTimer(this)) {
  FPoll->setInterval(PollIntervalMs);
  connect(FPoll, &QTimer::timeout, this, &TFolderOpener::Poll);
}

TFolderOpener::~TFolderOpener() = default;

bool TFolderOpener::Open(const std::string& APath) {
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
  // The opener and what it starts get the signals' usual handling, not this program's
  // (which ignores a file-size limit's signal), and no blocked signals.
  posix_spawnattr_t attr;
  posix_spawnattr_init(&attr);
  sigset_t defaults, none;
  sigemptyset(&defaults);
  sigaddset(&defaults, SIGXFSZ);
  sigaddset(&defaults, SIGPIPE);
  sigemptyset(&none);
  posix_spawnattr_setsigdefault(&attr, &defaults);
  posix_spawnattr_setsigmask(&attr, &none);
  posix_spawnattr_setflags(&attr, POSIX_SPAWN_SETSIGDEF | POSIX_SPAWN_SETSIGMASK);
  // A name that begins with "-" would be taken for an option.
  const std::string path = (!APath.empty() && APath[0] == '-') ? "./" + APath : APath;
  char* const argv[] = {const_cast<char*>(VYR_FOLDER_OPENER), const_cast<char*>(path.c_str()), nullptr};
  pid_t pid = -1;
  const int err = ::posix_spawnp(&pid, VYR_FOLDER_OPENER, &actions, &attr, argv, environ);
  posix_spawn_file_actions_destroy(&actions);
  posix_spawnattr_destroy(&attr);
  if (err != 0) {
    PrintDebugString(std::string("Open folder: cannot start ") + VYR_FOLDER_OPENER + ": " + std::strerror(err));
    emit Failed(APath);
    return false;
  }
  FChildren.push_back({pid, APath});
  if (!FPoll->isActive()) FPoll->start();
  return true;
}

void TFolderOpener::Poll() {
  for (size_t i = 0; i < FChildren.size();) {
    int status = 0;
    const pid_t r = ::waitpid(FChildren[i].Pid, &status, WNOHANG);
    if (r == 0 || (r < 0 && errno == EINTR)) {
      ++i;
      continue;
    }
    const TChild child = FChildren[i];
    FChildren.erase(FChildren.begin() + static_cast<std::ptrdiff_t>(i));
    const bool ok = r == child.Pid && WIFEXITED(status) && WEXITSTATUS(status) == 0;
    if (!ok) {
      PrintDebugString("Open folder: " + std::string(VYR_FOLDER_OPENER) + " failed for " + child.Path +
                       (r == child.Pid && WIFEXITED(status) ? ", exit status " + std::to_string(WEXITSTATUS(status))
                                                            : std::string()));
      emit Failed(child.Path);
    }
  }
  if (FChildren.empty()) FPoll->stop();
}
