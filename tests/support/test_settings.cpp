#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <functional>

#include "TestSupport.h"
#include "support/UDmReadSysParamIni.h"
#include "support/uFunctionsLib.h"

namespace {

class SettingsTest : public ::testing::Test {
 protected:
  void SetUp() override { SetLogLevelStr("0"); }
  void TearDown() override { SetLogLevelStr("0"); }
  std::string Folder() const { return FAppData.Path() + "/Vyr Player"; }
  std::string SettingsFile() const { return Folder() + "/SysParams.ini"; }
  void WriteSettings(const std::string& AText) {
    ::mkdir(Folder().c_str(), 0755);
    WriteFileBytes(SettingsFile(), AText);
  }
  TTempDir FAppData;
  TScopedEnv FEnv{"APPDATA", FAppData.Path()};
};

}  // namespace

TEST_F(SettingsTest, PathIsUnderTheVyrPlayerFolder) {
  EXPECT_EQ(TDmReadSysParamIni::SettingsFileName(), SettingsFile());
}

TEST_F(SettingsTest, NoFileMeansLogOffAndNothingRemembered) {
  TDmReadSysParamIni settings;
  EXPECT_FALSE(settings.IsOpen());
  EXPECT_EQ(GetRunLogLevel(), 0);
  std::string path = "unchanged";
  EXPECT_TRUE(settings.GetRecordPath(path));
  EXPECT_EQ(path, "");
  EXPECT_TRUE(settings.SetRecordPath("/out/"));
  EXPECT_FALSE(FileExists(SettingsFile()));
  EXPECT_FALSE(FileExists(Folder()));
}

TEST_F(SettingsTest, LogLevelIsReadOnceAtCreation) {
  struct Case {
    const char* Text;
    int Level;
  } const cases[] = {{"[RecordBrowerParam]\nLogLevel=2\n", 2},
                     {"[recordbrowerparam]\nloglevel=1\n", 1},
                     {"[RecordBrowerParam]\nLogLevel=-1\n", -1},
                     {"[RecordBrowerParam]\nLogLevel=abc\n", 0},
                     {"[RecordBrowerParam]\nLogLevel=\n", 0},
                     {"[RecordBrowerParam]\nDireRecordPath=/x/\n", 0},
                     {"[Other]\nLogLevel=5\n", 0}};
  for (const auto& c : cases) {
    SetLogLevelStr("0");
    WriteSettings(c.Text);
    TDmReadSysParamIni settings;
    EXPECT_EQ(GetRunLogLevel(), c.Level) << c.Text;
  }
}

TEST_F(SettingsTest, RecordPathRoundTripsAndKeepsTheRestOfTheFile) {
  const std::string before =
      "[Player]\r\nVolume=80\r\n[RecordBrowerParam]\r\nLogLevel=0\r\nDireRecordPath=/old/\r\n; end\r\n";
  WriteSettings(before);
  TDmReadSysParamIni settings;
  std::string path;
  settings.GetRecordPath(path);
  EXPECT_EQ(path, "/old/");
  settings.SetRecordPath("/new folder/out/");
  settings.GetRecordPath(path);
  EXPECT_EQ(path, "/new folder/out/");
  std::string expected = before;
  expected.replace(expected.find("/old/"), 5, "/new folder/out/");
  EXPECT_EQ(ReadFileBytes(SettingsFile()), expected);
}

TEST_F(SettingsTest, ReadsSeeChangesMadeByAnotherProgram) {
  WriteSettings("[RecordBrowerParam]\nDireRecordPath=/a/\n");
  TDmReadSysParamIni settings;
  WriteSettings("[RecordBrowerParam]\nDireRecordPath=/b/\n");
  std::string path;
  settings.GetRecordPath(path);
  EXPECT_EQ(path, "/b/");
}

TEST_F(SettingsTest, FileCreatedLaterIsNotNoticed) {
  TDmReadSysParamIni settings;
  WriteSettings("[RecordBrowerParam]\nDireRecordPath=/late/\n");
  std::string path = "x";
  settings.GetRecordPath(path);
  EXPECT_EQ(path, "");
}

TEST_F(SettingsTest, RefusedWriteRaisesWithThePath) {
  WriteSettings("[RecordBrowerParam]\nDireRecordPath=/a/\n");
  TDmReadSysParamIni settings;
  // Replace the file by a folder of the same name: no user can write it as a file.
  ::unlink(SettingsFile().c_str());
  ::mkdir(SettingsFile().c_str(), 0755);
  try {
    settings.SetRecordPath("/b/");
    ADD_FAILURE() << "no error raised";
  } catch (const EIniWriteError& e) {
    EXPECT_EQ(std::string(e.what()), "Unable to write to " + SettingsFile());
  }
}

TEST_F(SettingsTest, RecordPathWriteKeepsTheCompanionsFileWhole) {
  const std::string text = "[Player]\nVolume=80\n[RecordBrowerParam]\nDireRecordPath=/old/\n";
  std::string expected = text;
  expected.replace(expected.find("/old/"), 5, "/new/");
  const std::string companion = FAppData.Path() + "/companion.ini";
  struct Case {
    const char* Name;
    std::function<void()> Make;
    std::string Holder;    // the file that holds the settings
    bool Written;
    const char* ReadBack;  // "DireRecordPath" afterwards
  } const cases[] = {
      {"a link to the companion's file",
       [&] {
         WriteFileBytes(companion, text);
         ::symlink(companion.c_str(), SettingsFile().c_str());
       },
       companion, true, "/new/"},
      {"read-only",
       [&] {
         WriteSettings(text);
         ::chmod(SettingsFile().c_str(), 0444);
       },
       SettingsFile(), false, "/old/"},
      {"larger than 1 MiB",
       [&] { WriteSettings(text + std::string(IniReadLimit, '\n')); },
       SettingsFile(), false, "/old/"},  // read from its first MiB
      {"UTF-16",
       [&] {
         std::string utf16 = "\xFF\xFE";
         for (char c : text) utf16 += std::string{c, '\0'};
         WriteSettings(utf16);
       },
       SettingsFile(), false, ""},  // no key this layer can read
  };
  for (const Case& c : cases) {
    ::mkdir(Folder().c_str(), 0755);
    ::unlink(SettingsFile().c_str());
    ::unlink(companion.c_str());
    c.Make();
    const std::string before = ReadFileBytes(c.Holder);
    TDmReadSysParamIni settings;
    ASSERT_TRUE(settings.IsOpen()) << c.Name;
    std::string message;
    try {
      settings.SetRecordPath("/new/");
    } catch (const EIniWriteError& e) {
      message = e.what();
    }
    if (c.Written) {
      EXPECT_EQ(message, "") << c.Name;
      EXPECT_EQ(ReadFileBytes(c.Holder), expected) << c.Name;
      struct stat st {};
      EXPECT_TRUE(::lstat(SettingsFile().c_str(), &st) == 0 && S_ISLNK(st.st_mode)) << c.Name;
    } else {
      EXPECT_EQ(message, "Unable to write to " + SettingsFile()) << c.Name;
      EXPECT_EQ(ReadFileBytes(c.Holder), before) << c.Name;
    }
    std::string path;
    settings.GetRecordPath(path);
    EXPECT_EQ(path, c.ReadBack) << c.Name;
  }
}

TEST_F(SettingsTest, SettingsFileThatIsAFifoIsNotWaitedFor) {
  ::mkdir(Folder().c_str(), 0755);
  ASSERT_EQ(::mkfifo(SettingsFile().c_str(), 0644), 0);
  TDmReadSysParamIni settings;
  EXPECT_FALSE(settings.IsOpen());
  EXPECT_EQ(GetRunLogLevel(), 0);
  EXPECT_TRUE(settings.SetRecordPath("/out/"));
}
