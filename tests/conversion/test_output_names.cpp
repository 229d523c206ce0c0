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

TEST(OutputNames, WorkNamesStayWithinTheNameLimit) {
  const std::string euro = "\xE2\x82\xAC";  // three bytes
  const struct {
    std::string Final;
    bool Plain;  // the work name is just the final name + ".part"
  } cases[] = {
      {"cam.mp4", true},
      {std::string(246, 'a') + ".mp4", true},   // 250 + 5 = 255 bytes
      {std::string(247, 'a') + ".mp4", false},  // 256 bytes would be one too many
      {std::string(251, 'a') + ".mp4", false},
      {std::string(198, 'a') + euro + std::string(50, 'b') + ".mp4", false},  // cut inside the character
      {std::string(200, 'a') + euro + std::string(48, 'b') + ".mp4", false},  // cut just before it
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.Final.size());
    const std::string work = MakeWorkFileName(c.Final);
    EXPECT_LE(work.size(), MaxFileNameBytes);
    EXPECT_EQ(work.size() >= 5 && work.compare(work.size() - 5, 5, ".part") == 0, true) << work;
    EXPECT_EQ(MakeWorkFileName(c.Final), work);  // one fixed name per output
    if (c.Plain) {
      EXPECT_EQ(work, c.Final + ".part");
      continue;
    }
    // The cut name, "~", 8 hex digits, ".part"; the cut never splits a character.
    const std::string head = work.substr(0, work.size() - 14);
    EXPECT_LE(head.size(), 200u);
    EXPECT_GE(head.size(), 198u);
    EXPECT_EQ(c.Final.compare(0, head.size(), head), 0);
    EXPECT_NE(static_cast<unsigned char>(c.Final[head.size()]) & 0xC0, 0x80u);
    EXPECT_EQ(work[head.size()], '~');
    EXPECT_EQ(work.substr(head.size() + 1, 8).find_first_not_of("0123456789abcdef"), std::string::npos) << work;
  }
  // Names that differ only after the cut still get work names of their own.
  EXPECT_NE(MakeWorkFileName(std::string(250, 'a') + "1.mp4"), MakeWorkFileName(std::string(250, 'a') + "2.mp4"));
}

TEST(OutputNames, SameOutputNamesIgnoreTheCaseOfLettersOnly) {
  const struct {
    const char* A;
    const char* B;
    bool Same;
  } cases[] = {
      {"/out/cam.mp4", "/out/CAM.MP4", true},
      {"/out/cam.mp4", "/out/cam.mp4", true},
      {"/out/cam.mp4", "/out/cam1.mp4", false},
      {"/out/cam.H264", "/out/cam.h265", false},
      {"/out/\xC3\xA9t\xC3\xA9.mp4", "/out/\xC3\x89T\xC3\x89.mp4", false},  // only A to Z fold
  };
  for (const auto& c : cases) EXPECT_EQ(SameOutputName(c.A, c.B), c.Same) << c.A << " " << c.B;
}
