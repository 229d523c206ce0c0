// vyrmsg: talks to a running desktop program through its window message "VyrMp4MsgProc".
//   vyrmsg query        is a conversion running? prints "busy" (exit 0) or "idle" (exit 1)
//   vyrmsg close        makes the program close (a running conversion is stopped properly)
//   vyrmsg send W [L]   sends any message and prints the answers, one "W L" line each
// Options: -t MS  how long to wait for answers (default 1000). Exit status 3 when no
// program runs, 4 when the connection fails (or the user has no private runtime folder),
// 2 for bad usage. The program's socket is found in the same runtime folder as the program
// chose (ui/UUserRuntimeDir.h).
#include <cstdio>
#include <cstdlib>
#include <string>
#include <unistd.h>
#include <vector>

#include "ui/UUserRuntimeDir.h"
#include "ui/UWindowMessage.h"

namespace {

int Usage() {
  std::fputs("usage: vyrmsg [-t MS] query | close | send WPARAM [LPARAM]\n", stderr);
  return 2;
}

bool ParseInt(const char* AText, long long& AValue) {
  char* end = nullptr;
  AValue = std::strtoll(AText, &end, 10);
  return end && end != AText && *end == 0;
}

}  // namespace

int main(int argc, char** argv) {
  int waitMs = 1000;
  int i = 1;
  if (i + 1 < argc && std::string(argv[i]) == "-t") {
    long long v = 0;
    if (!ParseInt(argv[i + 1], v) || v < 0 || v > 600000) return Usage();
    waitMs = static_cast<int>(v);
    i += 2;
  }
  if (i >= argc) return Usage();
  const std::string cmd = argv[i++];
  TWindowMessage msg;
  if (cmd == "query" && i == argc) {
    msg = {VYR_MSG_QUERY, static_cast<int64_t>(::getpid())};
  } else if (cmd == "close" && i == argc) {
    msg = {VYR_MSG_CLOSE, 0};
  } else if (cmd == "send" && (argc - i == 1 || argc - i == 2)) {
    long long w = 0, l = 0;
    if (!ParseInt(argv[i], w) || (argc - i == 2 && !ParseInt(argv[i + 1], l))) return Usage();
    msg = {static_cast<int64_t>(w), static_cast<int64_t>(l)};
  } else {
    return Usage();
  }

  std::vector<TWindowMessage> replies;
  switch (SendWindowMessage(msg, cmd == "close" ? 0 : waitMs, replies)) {
    case TSendResult::NoInstance:
      std::fputs("vyrmsg: the desktop program is not running\n", stderr);
      return 3;
    case TSendResult::Failed: {
      std::string problem;
      if (GetUserRuntimeDir(&problem).empty()) {
        std::fprintf(stderr, "vyrmsg: no private runtime folder: %s\n", problem.c_str());
      } else {
        std::fputs("vyrmsg: cannot reach the desktop program\n", stderr);
      }
      return 4;
    }
    case TSendResult::Sent:
      break;
  }
  if (cmd == "query") {
    bool busy = false;
    for (const TWindowMessage& r : replies) busy = busy || r.WParam == VYR_MSG_BUSY;
    std::puts(busy ? "busy" : "idle");
    return busy ? 0 : 1;
  }
  for (const TWindowMessage& r : replies) std::printf("%lld %lld\n", static_cast<long long>(r.WParam),
                                                      static_cast<long long>(r.LParam));
  return 0;
}
