// The desktop program's runtime folder and sockets under hostile conditions, with real
// processes: the choice of the private folder (and its refusals), idle clients while the
// program runs out of descriptors, folders claimed by another user, no usable folder at
// all, and the close order while a start-up error box is open.
#include <gtest/gtest.h>

#include <chrono>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

#include "TestSupport.h"
#include "ui/UUserRuntimeDir.h"
#include "ui/UWindowMessage.h"

namespace {

const std::string Program = std::string(VYR_BIN_DIR) + "/VyrTranscode";
const std::string Vyrmsg = std::string(VYR_BIN_DIR) + "/vyrmsg";
// A user other than the one running the tests (root can give folders to it).
constexpr uid_t OtherUid = 65534;
constexpr gid_t OtherGid = 65534;

bool WaitForSocket(const std::string& APath, int AMs) {
  auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(AMs);
  struct stat st {};
  while (::lstat(APath.c_str(), &st) != 0 || !S_ISSOCK(st.st_mode)) {
    if (std::chrono::steady_clock::now() > until) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  return true;
}

// The standard error a running child has written so far (its output file). Right after
// the fork the child's standard error is still the test's own, maybe a pipe: only a
// regular file is read.
std::string ErrSoFar(const TChildProcess& AChild) {
  const std::string path = "/proc/" + std::to_string(AChild.Pid()) + "/fd/2";
  int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) return std::string();
  std::string text;
  struct stat st {};
  if (::fstat(fd, &st) == 0 && S_ISREG(st.st_mode)) {
    char buf[4096];
    ssize_t n;
    while (text.size() < (1u << 20) && (n = ::read(fd, buf, sizeof(buf))) > 0) text.append(buf, size_t(n));
  }
  ::close(fd);
  return text;
}

bool WaitForErr(const TChildProcess& AChild, const std::string& AText, int AMs) {
  auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(AMs);
  while (ErrSoFar(AChild).find(AText) == std::string::npos) {
    if (std::chrono::steady_clock::now() > until) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  return true;
}

// A client that connects and then says nothing.
int ConnectSilently(const std::string& APath) {
  int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
  sockaddr_un addr{};
  addr.sun_family = AF_UNIX;
  std::snprintf(addr.sun_path, sizeof(addr.sun_path), "%s", APath.c_str());
  if (::connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof(addr)) != 0) {
    ::close(fd);
    return -1;
  }
  return fd;
}

// True once the program has closed this client's connection (end of stream or reset).
bool ClosedByPeer(int AFd) {
  pollfd p{AFd, POLLIN, 0};
  if (::poll(&p, 1, 0) <= 0) return false;
  char c;
  ssize_t n = ::recv(AFd, &c, 1, MSG_DONTWAIT);
  return n == 0 || (n < 0 && errno == ECONNRESET);
}

class UserSockets : public ::testing::Test {
 protected:
  void SetUp() override {
    WriteSettings("[RecordBrowerParam]\nLogLevel=1\nDireRecordPath=" + FDir.File("out") + "/\n");
  }
  void WriteSettings(const std::string& AText) { FEnv.WriteSettings(AText); }
  std::string HomeRuntime() const { return FEnv.Home() + "/.cache/VyrTranscode/run"; }
  std::string XdgRuntime() const { return FEnv.Runtime() + "/VyrTranscode"; }
  static bool IsRoot() { return ::geteuid() == 0; }

  TPrivateUserEnv FEnv;
  const TTempDir& FDir = FEnv.Dir();
  TScopedEnv FPlatform{"QT_QPA_PLATFORM", "offscreen"};
};

}  // namespace

// ---- the choice of the folder ---------------------------------------------------------

TEST_F(UserSockets, RuntimeFolderFallsBackToTheHomeCacheWhenTheRuntimeVariableIsUnfit) {
  // A base of 90 bytes: with "/VyrTranscode/" and a socket name it passes 107 bytes.
  ASSERT_LT(FDir.Path().size(), 60u);
  const std::string longBase = FDir.File(std::string(89 - FDir.Path().size(), 'x'));
  ::mkdir(longBase.c_str(), 0700);
  ::mkdir(FDir.File("open").c_str(), 0777);
  ::chmod(FDir.File("open").c_str(), 0777);
  WriteFileBytes(FDir.File("plain"), "x");
  struct TCase {
    const char* What;
    std::string Xdg;
  } cases[] = {
      {"unset", ""},
      {"relative", "run"},
      {"missing", FDir.File("missing")},
      {"a file", FDir.File("plain")},
      {"writable by others", FDir.File("open")},
      {"too long for a socket path", longBase},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.What);
    TScopedEnv xdg("XDG_RUNTIME_DIR", c.Xdg);
    EXPECT_EQ(GetUserRuntimeDir(), HomeRuntime() + "/");
    struct stat st {};
    ASSERT_EQ(::lstat(HomeRuntime().c_str(), &st), 0);
    EXPECT_TRUE(S_ISDIR(st.st_mode));
    EXPECT_EQ(st.st_mode & 0777, 0700u);
    // A socket path in it fits.
    EXPECT_LT(UserRuntimeFile(VYR_MP4_MSG_NAME).size(), sizeof(sockaddr_un{}.sun_path));
  }
  // Nothing was made in the unfit places.
  struct stat st {};
  EXPECT_NE(::lstat((FDir.File("open") + "/VyrTranscode").c_str(), &st), 0);
  EXPECT_NE(::lstat((longBase + "/VyrTranscode").c_str(), &st), 0);
  // A fit variable is used.
  EXPECT_EQ(GetUserRuntimeDir(), XdgRuntime() + "/");
}

TEST_F(UserSockets, RuntimeFolderRefusesLinksAndClosesItsOwnOpenFolder) {
  TScopedEnv xdg("XDG_RUNTIME_DIR", "");
  ::mkdir((FDir.File("home") + "/.cache").c_str(), 0700);
  ::mkdir((FDir.File("home") + "/.cache/VyrTranscode").c_str(), 0700);
  // A link in place of the folder, even to a private folder of the user, is refused.
  ::mkdir(FDir.File("elsewhere").c_str(), 0700);
  ASSERT_EQ(::symlink(FDir.File("elsewhere").c_str(), HomeRuntime().c_str()), 0);
  std::string problem;
  EXPECT_EQ(GetUserRuntimeDir(&problem), "");
  EXPECT_NE(problem.find(HomeRuntime() + ": is a link"), std::string::npos) << problem;
  EXPECT_EQ(UserRuntimeFile(VYR_MP4_MSG_NAME), "");
  // A file in its place too.
  ::unlink(HomeRuntime().c_str());
  WriteFileBytes(HomeRuntime(), "");
  EXPECT_EQ(GetUserRuntimeDir(&problem), "");
  EXPECT_NE(problem.find(HomeRuntime() + ": is not a folder"), std::string::npos) << problem;
  // The user's own folder left open to others is closed and used.
  ::unlink(HomeRuntime().c_str());
  ::mkdir(HomeRuntime().c_str(), 0777);
  ::chmod(HomeRuntime().c_str(), 0777);
  EXPECT_EQ(GetUserRuntimeDir(), HomeRuntime() + "/");
  struct stat st {};
  ASSERT_EQ(::stat(HomeRuntime().c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0700u);
}

TEST_F(UserSockets, FoldersOfAnotherUserAreNeverUsed) {
  if (!IsRoot()) GTEST_SKIP() << "only root can give a folder to another user";
  // Another user's folder where the runtime variable points: the home cache is used.
  ::mkdir(XdgRuntime().c_str(), 0700);
  ASSERT_EQ(::chown(XdgRuntime().c_str(), OtherUid, OtherGid), 0);
  EXPECT_EQ(GetUserRuntimeDir(), HomeRuntime() + "/");
  // And the same in the home cache: no folder at all.
  ASSERT_EQ(::chown(HomeRuntime().c_str(), OtherUid, OtherGid), 0);
  std::string problem;
  EXPECT_EQ(GetUserRuntimeDir(&problem), "");
  EXPECT_NE(problem.find(XdgRuntime() + ": belongs to another user"), std::string::npos) << problem;
  EXPECT_NE(problem.find(HomeRuntime() + ": belongs to another user"), std::string::npos) << problem;
}

// ---- the program ------------------------------------------------------------------------

TEST_F(UserSockets, IdleClientsUnderADescriptorLimitNeitherStopNorBlockTheProgram) {
#ifdef VYR_SANITIZER_BUILD
  // The undefined-behaviour checker reads memory through a pipe to check an object's type,
  // which fails once the program is out of descriptors, and then reports the object as bad.
  GTEST_SKIP() << "a sanitizer's runtime needs descriptors of its own";
#endif
  TScopedEnv idle("VYR_SOCKET_IDLE_MS", "300");
  // About a dozen descriptors to spare once the program runs.
  TChildProcess program({"/bin/sh", "-c", "ulimit -n 24 && exec \"$0\"", Program});
  const std::string path = UserRuntimeFile(VYR_MP4_MSG_NAME);
  ASSERT_TRUE(WaitForSocket(path, 20000)) << ErrSoFar(program);

  // More silent clients than the program has descriptors (and than it serves at once).
  std::vector<int> silent;
  for (int i = 0; i < 48; ++i) {
    int fd = ConnectSilently(path);
    ASSERT_GE(fd, 0) << "client " << i;
    silent.push_back(fd);
  }
  ASSERT_TRUE(WaitForErr(program, "VyrMp4MsgProc: cannot accept a connection (Too many open files); listening goes on",
                         10000))
      << ErrSoFar(program);

  // While every silent client still holds its end, the program answers: it closes the
  // silent ones after the idle time and goes on accepting.
  auto start = std::chrono::steady_clock::now();
  TProcessResult q = RunProcess({Vyrmsg, "-t", "10000", "query"});
  EXPECT_EQ(q.ExitCode, 1) << q.Err;
  EXPECT_EQ(q.Out, "idle\n");
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(8));
  auto until = std::chrono::steady_clock::now() + std::chrono::seconds(10);
  size_t closed = 0;
  while (std::chrono::steady_clock::now() < until) {
    closed = 0;
    for (int fd : silent) closed += ClosedByPeer(fd);
    if (closed == silent.size()) break;
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
  EXPECT_EQ(closed, silent.size());
  for (int fd : silent) ::close(fd);

  struct stat st {};
  EXPECT_EQ(::lstat(path.c_str(), &st), 0);
  EXPECT_EQ(RunProcess({Vyrmsg, "close"}).ExitCode, 0);
  ASSERT_TRUE(program.Ends(20000));
  TProcessResult r = program.Wait();
  EXPECT_EQ(r.ExitCode, 0);
  EXPECT_NE(r.Err.find("VyrMp4MsgProc: a client sent nothing for 300 ms and was closed\n"), std::string::npos)
      << r.Err;
  EXPECT_NE(r.Err.find("MP4 Maker receive msg, handle=" +
                       std::to_string(RegisterWindowMessageId(VYR_MP4_MSG_NAME)) + ", Value=101\n"),
            std::string::npos);
}

TEST_F(UserSockets, AnotherUsersFoldersLeaveTheProgramToTheHomeCache) {
  if (!IsRoot()) GTEST_SKIP() << "only root can give a folder to another user";
  // Claimed by another user: the program's folder under the runtime variable, and the
  // folder in the temporary folder that earlier versions fell back to.
  ::mkdir(XdgRuntime().c_str(), 0700);
  ASSERT_EQ(::chown(XdgRuntime().c_str(), OtherUid, OtherGid), 0);
  const std::string oldTmp = FDir.File("VyrTranscode-" + std::to_string(::getuid()));
  ::mkdir(oldTmp.c_str(), 0700);
  ASSERT_EQ(::chown(oldTmp.c_str(), OtherUid, OtherGid), 0);

  TChildProcess first({Program});
  ASSERT_TRUE(WaitForSocket(HomeRuntime() + "/" + VYR_MP4_MSG_NAME, 20000)) << ErrSoFar(first);
  ASSERT_TRUE(WaitForSocket(HomeRuntime() + "/" + VYR_ACTIVATION_NAME, 20000));
  // A second start and the message tool find it there.
  TChildProcess second({Program});
  ASSERT_TRUE(second.Ends(20000));
  EXPECT_EQ(second.Wait().ExitCode, 0);
  TProcessResult q = RunProcess({Vyrmsg, "query"});
  EXPECT_EQ(q.Out, "idle\n") << q.Err;
  EXPECT_EQ(RunProcess({Vyrmsg, "close"}).ExitCode, 0);
  ASSERT_TRUE(first.Ends(20000));
  TProcessResult r = first.Wait();
  EXPECT_EQ(r.ExitCode, 0);
  EXPECT_NE(r.Err.find("Activate main window for a second start\n"), std::string::npos) << r.Err;
  // Nothing was put into the other user's folders.
  for (const std::string& dir : {XdgRuntime(), oldTmp}) {
    struct stat st {};
    ASSERT_EQ(::lstat(dir.c_str(), &st), 0);
    EXPECT_EQ(st.st_uid, OtherUid);
    EXPECT_NE(::lstat((dir + "/" + VYR_INSTANCE_LOCK_NAME).c_str(), &st), 0) << dir;
  }
}

TEST_F(UserSockets, WithoutAnyUsableFolderTheProgramSaysSo) {
  // No runtime variable, and a link where the home cache folder belongs (root can also
  // give it to another user; the refusal is the same).
  TScopedEnv xdg("XDG_RUNTIME_DIR", "");
  ::mkdir((FDir.File("home") + "/.cache").c_str(), 0700);
  ::mkdir((FDir.File("home") + "/.cache/VyrTranscode").c_str(), 0700);
  ::mkdir(FDir.File("elsewhere").c_str(), 0700);
  ASSERT_EQ(::symlink(FDir.File("elsewhere").c_str(), HomeRuntime().c_str()), 0);

  TChildProcess program({Program});
  const std::string line = "VyrTranscode: cannot start: no private runtime folder: XDG_RUNTIME_DIR is not set; " +
                           HomeRuntime() + ": is a link\n";
  EXPECT_TRUE(WaitForErr(program, line, 20000)) << ErrSoFar(program);
  // It waits with its message box for the user; it neither ran on nor vanished.
  EXPECT_FALSE(program.Ends(300));
  struct stat st {};
  EXPECT_NE(::lstat((FDir.File("elsewhere") + "/" + VYR_INSTANCE_LOCK_NAME).c_str(), &st), 0);
  TProcessResult m = RunProcess({Vyrmsg, "query"});
  EXPECT_EQ(m.ExitCode, 4);
  EXPECT_EQ(m.Err, "vyrmsg: no private runtime folder: XDG_RUNTIME_DIR is not set; " + HomeRuntime() +
                       ": is a link\n");
}

TEST_F(UserSockets, CloseOrderEndsTheProgramWhileAStartUpErrorBoxIsOpen) {
  // No stored output folder, and a settings file that may not be written: the window
  // shows the refused write in a box when it is shown.
  WriteSettings("[RecordBrowerParam]\nLogLevel=1\n");
  ASSERT_EQ(::chmod(FDir.File("appdata/Vyr Player/SysParams.ini").c_str(), 0444), 0);
  TChildProcess program({Program});
  ASSERT_TRUE(WaitForSocket(UserRuntimeFile(VYR_MP4_MSG_NAME), 20000)) << ErrSoFar(program);
  // The box is open by the time a query is served (showing comes first in the loop).
  TProcessResult q = RunProcess({Vyrmsg, "query"});
  EXPECT_EQ(q.Out, "idle\n") << q.Err;
  EXPECT_FALSE(program.Ends(100));
  EXPECT_EQ(RunProcess({Vyrmsg, "close"}).ExitCode, 0);
  ASSERT_TRUE(program.Ends(5000)) << "the close order went unanswered";
  TProcessResult r = program.Wait();
  EXPECT_EQ(r.ExitCode, 0);
  EXPECT_NE(r.Err.find("Unable to write to " + FDir.File("appdata/Vyr Player/SysParams.ini")), std::string::npos)
      << r.Err;
  struct stat st {};
  EXPECT_NE(::lstat(UserRuntimeFile(VYR_MP4_MSG_NAME).c_str(), &st), 0);  // the socket went with it
}
