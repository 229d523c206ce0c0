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
    // The log on, so the first instance tells what it did.
    FEnv.WriteSettings("[RecordBrowerParam]\nLogLevel=1\nDireRecordPath=" + FDir.File("out") + "/\n");
  }
  TPrivateUserEnv FEnv;
  const TTempDir& FDir = FEnv.Dir();
  TScopedEnv FPlatform{"QT_QPA_PLATFORM", "offscreen"};
};

}  // namespace

TEST_F(SecondStart, ActivatesTheFirstAndEndsWithoutAWindow) {
  TChildProcess first({Program});
  ASSERT_TRUE(WaitForFile(UserRuntimeFile(VYR_ACTIVATION_NAME), 20000)) << "first instance never listened";
  ASSERT_TRUE(WaitForFile(UserRuntimeFile(VYR_MP4_MSG_NAME), 20000));

  TChildProcess second({Program});
  ASSERT_TRUE(second.Ends(20000)) << "the second start kept running";
  TProcessResult r2 = second.Wait();
  EXPECT_EQ(r2.ExitCode, 0);
  // No settings module, no window: nothing logged, nothing printed.
  EXPECT_EQ(r2.Err, "");
  EXPECT_EQ(r2.Out, "");

  // The first instance still runs, idle, and ends on the close order.
  EXPECT_FALSE(first.Ends(100));
  TProcessResult q = RunProcess({Vyrmsg, "query"});
  EXPECT_EQ(q.ExitCode, 1) << q.Err;
  EXPECT_EQ(q.Out, "idle\n");
  TProcessResult c = RunProcess({Vyrmsg, "close"});
  EXPECT_EQ(c.ExitCode, 0) << c.Err;
  ASSERT_TRUE(first.Ends(20000));
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
  ASSERT_TRUE(second.Ends(20000));
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
  EXPECT_FALSE(next.Ends(50));
  EXPECT_EQ(RunProcess({Vyrmsg, "close"}).ExitCode, 0);
  ASSERT_TRUE(next.Ends(20000));
  EXPECT_EQ(next.Wait().ExitCode, 0);
}

namespace {

// Runs the program with AArgs from the folder ADir.
std::vector<std::string> FromFolder(const std::string& ADir, const std::vector<std::string>& AArgs) {
  std::string cmd = "cd \"$1\" && shift && exec \"$@\"";
  std::vector<std::string> argv = {"/bin/sh", "-c", cmd, "sh", ADir, Program};
  argv.insert(argv.end(), AArgs.begin(), AArgs.end());
  return argv;
}

}  // namespace

TEST_F(SecondStart, HelpVersionAndMistakes) {
  TProcessResult help = RunProcess({Program, "--help"});
  EXPECT_EQ(help.ExitCode, 0);
  EXPECT_EQ(help.Out.rfind("Usage: VyrTranscode", 0), 0u) << help.Out;
  EXPECT_EQ(help.Err, "");
  TProcessResult version = RunProcess({Program, "--version"});
  EXPECT_EQ(version.ExitCode, 0);
  EXPECT_EQ(version.Out, "VyrTranscode " VYR_TEST_PROJECT_VERSION "\n");
  TProcessResult bad = RunProcess({Program, "--frobnicate", "a.vyr"});
  EXPECT_EQ(bad.ExitCode, 2);
  EXPECT_EQ(bad.Out, "");
  EXPECT_NE(bad.Err.find("unknown option --frobnicate"), std::string::npos) << bad.Err;
  // Neither started an instance.
  struct stat st {};
  EXPECT_NE(::stat(UserRuntimeFile(VYR_ACTIVATION_NAME).c_str(), &st), 0);
}

TEST_F(SecondStart, FilesGivenAreListedByTheFirstAndHandedOverByTheSecond) {
  ::mkdir(FDir.File("rec").c_str(), 0700);
  for (const char* n : {"a.vyr", "b.vyr", "c.vyr"}) WriteFileBytes(FDir.File(std::string("rec/") + n), "x");
  // Relative names, made absolute against the folder the program starts in.
  TChildProcess first(FromFolder(FDir.File("rec"), {"a.vyr", "./b.vyr"}));
  ASSERT_TRUE(WaitForFile(UserRuntimeFile(VYR_ACTIVATION_NAME), 20000));
  TProcessResult second = RunProcess(FromFolder(FDir.File("rec"), {"c.vyr"}));
  EXPECT_EQ(second.ExitCode, 0) << second.Err;
  EXPECT_EQ(second.Err, "");
  EXPECT_EQ(RunProcess({Vyrmsg, "close"}).ExitCode, 0);
  ASSERT_TRUE(first.Ends(20000));
  const TProcessResult r1 = first.Wait();
  EXPECT_EQ(r1.ExitCode, 0);
  const std::string rec = FDir.File("rec");
  const size_t a = r1.Err.find("Add file to list: " + rec + "/a.vyr\n");
  const size_t b = r1.Err.find("Add file to list: " + rec + "/./b.vyr\n");
  const size_t handed = r1.Err.find("A second start handed over 1 file(s)\n");
  const size_t c = r1.Err.find("Add file to list: " + rec + "/c.vyr\n");
  ASSERT_NE(a, std::string::npos) << r1.Err;
  ASSERT_NE(b, std::string::npos) << r1.Err;
  ASSERT_NE(handed, std::string::npos) << r1.Err;
  ASSERT_NE(c, std::string::npos) << r1.Err;
  EXPECT_TRUE(a < b && b < handed && handed < c) << r1.Err;
  EXPECT_NE(r1.Err.find("Activate main window for a second start\n"), std::string::npos);
}

TEST_F(SecondStart, FilesThatNobodyTakesAreNotLostSilently) {
  // A first instance that holds the lock and never listens: after its retries the second
  // start says which files it could not hand over, and ends with status 1. Without a
  // display it says so on standard error only.
  TScopedEnv noPlatform("QT_QPA_PLATFORM", "");
  TScopedEnv noDisplay("DISPLAY", "");
  TScopedEnv noWayland("WAYLAND_DISPLAY", "");
  TInstanceLock lock(VYR_INSTANCE_LOCK_NAME);
  ASSERT_TRUE(lock.TryAcquire());
  const auto start = std::chrono::steady_clock::now();
  TProcessResult r = RunProcess({Program, "/rec/lost one.vyr", "/rec/lost two.vyr"});
  const auto waited = std::chrono::steady_clock::now() - start;
  EXPECT_EQ(r.ExitCode, 1);
  EXPECT_NE(r.Err.find("did not take the files: /rec/lost one.vyr /rec/lost two.vyr"), std::string::npos) << r.Err;
  EXPECT_GE(waited, std::chrono::milliseconds(4900));
  EXPECT_LT(waited, std::chrono::seconds(15));
}
