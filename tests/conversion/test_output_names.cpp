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

TEST(OutputNames, EmptyFolderMeansVyrRecordInTheHomeFolder) {
  TScopedEnv home("HOME", "/home/someone");
  EXPECT_EQ(DefaultOutputDir(), "/home/someone/VyrRecord/");
  EXPECT_EQ(MakeOutputFileName("", "cam.vyr"), "/home/someone/VyrRecord/cam");
}
