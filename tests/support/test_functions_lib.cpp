#include <gtest/gtest.h>

#include <map>
#include <stdexcept>

#include "TestSupport.h"
#include "support/uFunctionsLib.h"

TEST(DebugLog, LevelSwitchesOutput) {
  struct Case {
    const char* Level;
    bool On;
  } const cases[] = {{"1", true}, {"2", true}, {"0", false}, {"-1", false},
                     {"abc", false}, {"", false}, {" 1", false}, {"1x", false},
                     {"99999999999", false}, {"2147483647", true}};
  for (const Case& c : cases) {
    TLogCapture log;  // switches on and captures
    SetLogLevelStr(c.Level);
    PrintDebugString("line");
    OutputDebugStr("other");
    EXPECT_EQ(log.Lines().size(), c.On ? 2u : 0u) << "level '" << c.Level << "'";
  }
}

TEST(DebugLog, LineReachesSinkUnchanged) {
  TLogCapture log;
  PrintDebugString("100% done %d %s");
  ASSERT_EQ(log.Lines().size(), 1u);
  EXPECT_EQ(log.Lines()[0], "100% done %d %s");
}

TEST(DebugLog, FormatStrComposesLongLines) {
  EXPECT_EQ(FormatStr("VideoToX264: open encoder[%d, %d], result: %d", 352, 288, -1),
            "VideoToX264: open encoder[352, 288], result: -1");
  std::string big(2000, 'x');
  EXPECT_EQ(FormatStr("<%s>", big.c_str()), "<" + big + ">");
}

TEST(CheckIsVyr, TellsRecordFilesByTheirLastThreeLetters) {
  struct Case {
    const char* Path;
    bool Expected;
  } const cases[] = {{"/data/rec/CAM1.VYR", true}, {"/data/rec/cam1.vyr", true}, {"/a/b.Vyr", true},
                     {"vyr", true},  {"recordvyr", true}, {"/a/b.vy", false},
                     {"/a/b.vyrx", false}, {"", false}, {"yr", false}, {"/a/b.mp4", false}};
  for (const Case& c : cases) EXPECT_EQ(CheckIsVyr(c.Path), c.Expected) << c.Path;
}

TEST(Paths, AppDataFallsBackThroughXdgToHome) {
  {
    TScopedEnv a("APPDATA", "/x/appdata");
    EXPECT_EQ(GetAppDataPath(), "/x/appdata");
  }
  {
    TScopedEnv a("APPDATA", "");
    TScopedEnv x("XDG_CONFIG_HOME", "/x/xdg");
    EXPECT_EQ(GetAppDataPath(), "/x/xdg");
  }
  {
    TScopedEnv a("APPDATA", "");
    TScopedEnv x("XDG_CONFIG_HOME", "");
    TScopedEnv h("HOME", "/x/home");
    EXPECT_EQ(GetAppDataPath(), "/x/home/.config");
  }
}

TEST(Paths, InstallDirIsTheExecutablesFolder) {
  std::string dir = GetInstallDir();
  ASSERT_FALSE(dir.empty());
  EXPECT_EQ(dir.back(), '/');
  EXPECT_TRUE(FileExists(dir + "test_functions_lib"));
}

namespace {

struct TFakeDisk {
  bool Block = true;
  bool Writable = true;
  uint64_t Free = 0;
};

TDiskSystem FakeSystem(const std::vector<std::pair<std::string, TFakeDisk>>& ADisks,
                       bool AFailMounts = false, bool AFailFree = false) {
  auto disks = std::make_shared<std::map<std::string, TFakeDisk>>();
  std::vector<TMountEntry> mounts;
  for (const auto& d : ADisks) {
    (*disks)[d.first] = d.second;
    mounts.push_back({"/dev/fake", d.first, "ext4"});
  }
  TDiskSystem s;
  s.ReadMounts = [mounts, AFailMounts]() {
    if (AFailMounts) throw std::runtime_error("no mount table");
    return mounts;
  };
  s.IsLocalBlockDevice = [disks](const TMountEntry& e) { return disks->at(e.MountPoint).Block; };
  s.IsWritable = [disks](const std::string& p) { return disks->at(p).Writable; };
  s.FreeBytes = [disks, AFailFree](const std::string& p) -> uint64_t {
    if (AFailFree) throw std::runtime_error("statvfs");
    return disks->at(p).Free;
  };
  return s;
}

constexpr uint64_t GB = 1024ull * 1024 * 1024;

}  // namespace

TEST(Disks, GetDiskListsBlockDeviceMountsInOrder) {
  TDiskSystem s = FakeSystem({{"/", {}}, {"/data", {}}, {"/proc", {false}}, {"/media/usb", {}}});
  EXPECT_EQ(GetDisk(s), (std::vector<std::string>{"/", "/data", "/media/usb"}));
}

TEST(Disks, GetIdeDiskChoosesTheWritableDiskWithMostFreeSpace) {
  struct Case {
    const char* Name;
    std::vector<std::pair<std::string, TFakeDisk>> Disks;
    std::string Expected;
  } const cases[] = {
      {"most free wins", {{"/", {true, true, 900 * GB}}, {"/d", {true, true, 10 * GB}},
                          {"/e", {true, true, 50 * GB}}, {"/f", {true, true, 30 * GB}}}, "/e/"},
      {"earliest of equals", {{"/d", {true, true, 10 * GB}}, {"/e", {true, true, 10 * GB}}}, "/d/"},
      {"equal after rounding to MB", {{"/d", {true, true, 10 * GB}}, {"/e", {true, true, 10 * GB + 1000}}},
       "/d/"},
      {"only the root", {{"/", {true, true, 50 * GB}}}, ""},
      {"boot is never chosen", {{"/boot", {true, true, 50 * GB}}, {"/boot/efi", {true, true, 60 * GB}},
                                {"/d", {true, true, 1 * GB}}}, "/d/"},
      {"read-only disks are skipped", {{"/d", {true, false, 50 * GB}}, {"/e", {true, true, 1 * GB}}}, "/e/"},
      {"non-block mounts are skipped", {{"/tmp", {false, true, 50 * GB}}}, ""},
      {"no mounts", {}, ""},
      {"trailing slash kept once", {{"/srv/", {true, true, GB}}}, "/srv/"},
  };
  for (const Case& c : cases) EXPECT_EQ(GetIdeDisk(FakeSystem(c.Disks)), c.Expected) << c.Name;
}

TEST(Disks, GetIdeDiskReportsAnyFailureWithOneMessage) {
  for (int which = 0; which < 2; ++which) {
    TDiskSystem s = FakeSystem({{"/d", {true, true, GB}}}, which == 0, which == 1);
    try {
      GetIdeDisk(s);
      ADD_FAILURE() << "no error raised";
    } catch (const std::runtime_error& e) {
      EXPECT_STREQ(e.what(), "Get system disk list failed.");
    }
  }
}

TEST(Disks, RealSystemAnswersWithoutError) {
  // The real mount table of this machine: whatever it holds, the answer is a mount point
  // with a trailing "/" that is not the root, or empty.
  std::string d = GetIdeDisk();
  if (!d.empty()) {
    EXPECT_EQ(d.back(), '/');
    EXPECT_NE(d, "/");
  }
}
