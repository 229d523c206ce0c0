// The program entry with real processes: a second start brings the first instance's window
// forward and ends without a window of its own; a start while the first has no window yet
// ends silently; the close order ends the first instance cleanly.
#include <gtest/gtest.h>

#include <chrono>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>

#include "TestSupport.h"
#include "ui/UInstanceLock.h"
#include "ui/UUserRuntimeDir.h"
#include "ui/UWindowMessage.h"

namespace {

const std::string Program = std::string(VYR_BIN_DIR) + "/VyrTranscode";
const std::string Vyrmsg = std::string(VYR_BIN_DIR) + "/vyrmsg";

// Waits until the process has ended (it stays waitable for TChildProcess::Wait).
bool WaitEnded(const TChildProcess& AChild, int AMs) {
  auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(AMs);
  while (std::chrono::steady_clock::now() < until) {
    siginfo_t info{};
    if (::waitid(P_PID, static_cast<id_t>(AChild.Pid()), &info, WEXITED | WNOHANG | WNOWAIT) == 0 &&
        info.si_pid == AChild.Pid())
      return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  return false;
}

bool WaitForFile(const std::string& APath, int AMs) {
  auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(AMs);
  struct stat st {};
  while (::stat(APath.c_str(), &st) != 0) {
    if (std::chrono::steady_clock::now() > until) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  return true;
}

class SecondStart : public ::testing::Test {
 protected:
  void SetUp() override {
    ::mkdir(FDir.File("appdata").c_str(), 0700);
    ::mkdir(FDir.File("appdata/Vyr Player").c_str(), 0700);
    ::mkdir(FDir.File("home").c_str(), 0700);
    ::mkdir(FDir.File("run").c_str(), 0700);
    // The log on, so the first instance tells what it did.
    WriteFileBytes(FDir.File("appdata/Vyr Player/SysParams.ini"),
                   "[RecordBrowerParam]\nLogLevel=1\nDireRecordPath=" + FDir.File("out") + "/\n");
  }
  TTempDir FDir;
  TScopedEnv FAppData{"APPDATA", FDir.File("appdata")};
  TScopedEnv FHome{"HOME", FDir.File("home")};
  TScopedEnv FRuntime{"XDG_RUNTIME_DIR", FDir.File("run")};
  TScopedEnv FTmp{"TMPDIR", FDir.Path()};
  TScopedEnv FPlatform{"QT_QPA_PLATFORM", "offscreen"};
};

}  // namespace

TEST_F(SecondStart, ActivatesTheFirstAndEndsWithoutAWindow) {
  TChildProcess first({Program});
  ASSERT_TRUE(WaitForFile(UserRuntimeFile(VYR_ACTIVATION_NAME), 20000)) << "first instance never listened";
  ASSERT_TRUE(WaitForFile(UserRuntimeFile(VYR_MP4_MSG_NAME), 20000));

  TChildProcess second({Program});
  ASSERT_TRUE(WaitEnded(second, 20000)) << "the second start kept running";
  TProcessResult r2 = second.Wait();
  EXPECT_EQ(r2.ExitCode, 0);
  // No settings module, no window: nothing logged, nothing printed.
  EXPECT_EQ(r2.Err, "");
  EXPECT_EQ(r2.Out, "");

  // The first instance still runs, idle, and ends on the close order.
  EXPECT_FALSE(WaitEnded(first, 100));
  TProcessResult q = RunProcess({Vyrmsg, "query"});
  EXPECT_EQ(q.ExitCode, 1) << q.Err;
  EXPECT_EQ(q.Out, "idle\n");
  TProcessResult c = RunProcess({Vyrmsg, "close"});
  EXPECT_EQ(c.ExitCode, 0) << c.Err;
  ASSERT_TRUE(WaitEnded(first, 20000));
  TProcessResult r1 = first.Wait();
  EXPECT_EQ(r1.ExitCode, 0);
  EXPECT_NE(r1.Err.find("Activate main window for a second start\n"), std::string::npos) << r1.Err;
  EXPECT_NE(r1.Err.find("MP4 Maker receive msg, handle=" + std::to_string(RegisterWindowMessageId(VYR_MP4_MSG_NAME)) +
                        ", Value=103\n"),
            std::string::npos)
      << r1.Err;
}

TEST_F(SecondStart, EndsSilentlyWhileTheFirstHasNoWindowYet) {
  // A first instance that holds the lock but has no window (still starting).
  TInstanceLock lock(VYR_INSTANCE_LOCK_NAME);
  ASSERT_TRUE(lock.TryAcquire());
  TChildProcess second({Program});
  ASSERT_TRUE(WaitEnded(second, 20000));
  TProcessResult r = second.Wait();
  EXPECT_EQ(r.ExitCode, 0);
  EXPECT_EQ(r.Err, "");
  struct stat st {};
  EXPECT_NE(::stat(UserRuntimeFile(VYR_MP4_MSG_NAME).c_str(), &st), 0);  // it listened on nothing
}

TEST_F(SecondStart, AKilledInstanceDoesNotBlockTheNextStart) {
  {
    TChildProcess first({Program});
    ASSERT_TRUE(WaitForFile(UserRuntimeFile(VYR_MP4_MSG_NAME), 20000));
    first.Signal(SIGKILL);
    first.Wait();
  }
  // Its socket files are still there; the next start takes over.
  TChildProcess next({Program});
  auto until = std::chrono::steady_clock::now() + std::chrono::seconds(20);
  TProcessResult q;
  do {
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    q = RunProcess({Vyrmsg, "query"});
  } while (q.ExitCode != 1 && std::chrono::steady_clock::now() < until);
  EXPECT_EQ(q.Out, "idle\n");
  EXPECT_FALSE(WaitEnded(next, 50));
  EXPECT_EQ(RunProcess({Vyrmsg, "close"}).ExitCode, 0);
  ASSERT_TRUE(WaitEnded(next, 20000));
  EXPECT_EQ(next.Wait().ExitCode, 0);
}
