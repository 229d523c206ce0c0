#include <gtest/gtest.h>

#include "TestSupport.h"
#include "conversion/UOutputNames.h"

TEST(OutputNames, ShortNameIsTheTextAfterTheLastSlash) {
  const std::pair<const char*, const char*> cases[] = {
      {"/rec/cam1_0001.vyr", "cam1_0001.vyr"},
      {"cam1.vyr", "cam1.vyr"},
      {"a/b/c.VYR", "c.VYR"},
      {"/rec/folder/", ""},
      {"", ""},
  };
  for (const auto& c : cases) EXPECT_EQ(GetVYRFileShortName(c.first), c.second) << c.first;
}

TEST(OutputNames, BaseNameIsFolderAndNameWithoutItsLastFourCharacters) {
  struct TCase {
    const char* Dir;
    const char* Name;
    const char* Base;
  };
  const TCase cases[] = {
      {"/out/", "cam1_0001.vyr", "/out/cam1_0001"},
      {"/out/", "CAM.VYR", "/out/CAM"},
      {"./", "x.vyr", "./x"},
      {"/out/", "abcd", "/out/"},
      {"/out/", "abc", "/out/"},
      // Four characters, not four bytes: a name is never cut inside a character.
      {"/out/", "\xe5\xbd\x95\xe5\x83\x8f\xe4\xb8\x80\xe4\xba\x8c\xe4\xb8\x89", "/out/\xe5\xbd\x95"},
      {"/out/", "\xe5\xbd\x95\xe5\x83\x8f.vyr", "/out/\xe5\xbd\x95\xe5\x83\x8f"},
  };
  for (const TCase& c : cases) EXPECT_EQ(MakeOutputFileName(c.Dir, c.Name), c.Base) << c.Name;
}

// Names come from the record's own file name and the chosen folder only: whatever the
// name or the stored folder look like, the output is a file directly inside the folder.
TEST(OutputNames, OutputNeverLeavesTheFolder) {
  struct TCase {
    const char* Dir;
    const char* Name;
    const char* Base;
  };
  const TCase cases[] = {
      {"/out/", "../../etc/passwd.vyr", "/out/passwd"},
      {"/out/", "/abs/evil.vyr", "/out/evil"},
      {"/out/", "sub/../x.vyr", "/out/x"},
      {"/out/", "..vyr", "/out/."},
      {"/out/", "...vyr", "/out/.."},
      {"/out/", "..", "/out/"},
      {"/out/", "a/", "/out/"},
      // A folder stored without its separator (hand-edited settings): the name still goes
      // inside it, not beside it.
      {"/out", "cam.vyr", "/out/cam"},
      {"rel/dir", "cam.vyr", "rel/dir/cam"},
  };
  for (const TCase& c : cases) {
    const std::string base = MakeOutputFileName(c.Dir, c.Name);
    EXPECT_EQ(base, c.Base) << c.Name;
    // Whatever the output extension, the file's folder is the chosen one.
    for (const char* ext : {".mp4", ".H264"}) {
      const std::string out = base + ext;
      const std::string dir = std::string(c.Dir) + (std::string(c.Dir).back() == '/' ? "" : "/");
      ASSERT_EQ(out.compare(0, dir.size(), dir), 0) << out;
      EXPECT_EQ(out.find('/', dir.size()), std::string::npos) << out;
      EXPECT_NE(out.substr(dir.size()), "..") << out;
    }
  }
}

TEST(OutputNames, EmptyFolderMeansVyrRecordInTheHomeFolder) {
  TScopedEnv home("HOME", "/home/someone");
  EXPECT_EQ(DefaultOutputDir(), "/home/someone/VyrRecord/");
  EXPECT_EQ(MakeOutputFileName("", "cam.vyr"), "/home/someone/VyrRecord/cam");
}
