#include <gtest/gtest.h>

#include <sys/stat.h>

#include "TestSupport.h"
#include "support/UIniFile.h"

TEST(IniFile, ReadsSectionsAndKeysWithoutRegardToCase) {
  TTempDir dir;
  WriteFileBytes(dir.File("a.ini"),
                 "; comment\n[RecordBrowerParam]\nLogLevel = 2 \nDireRecordPath=/out/dir/\n"
                 "[Other]\nLogLevel=7\n");
  TIniFile ini(dir.File("a.ini"));
  EXPECT_EQ(ini.ReadString("recordbrowerparam", "LOGLEVEL", "0"), "2");
  EXPECT_EQ(ini.ReadString("RecordBrowerParam", "DireRecordPath", ""), "/out/dir/");
  EXPECT_EQ(ini.ReadString("other", "loglevel", ""), "7");
  EXPECT_EQ(ini.ReadString("Missing", "LogLevel", "dflt"), "dflt");
  EXPECT_EQ(ini.ReadString("Other", "Missing", "dflt"), "dflt");
  EXPECT_EQ(ini.ReadInteger("other", "loglevel", 0), 7);
  EXPECT_TRUE(ini.SectionExists("OTHER"));
  EXPECT_FALSE(ini.SectionExists("Nope"));
}

TEST(IniFile, ValuesAreReadAsStored) {
  TTempDir dir;
  WriteFileBytes(dir.File("a.ini"), "[S]\nq=\"quoted\" \nsemi=a;b\nempty=\nutf=视频转换\neq=a=b\n");
  TIniFile ini(dir.File("a.ini"));
  EXPECT_EQ(ini.ReadString("S", "q", ""), "\"quoted\"");
  EXPECT_EQ(ini.ReadString("S", "semi", ""), "a;b");
  EXPECT_EQ(ini.ReadString("S", "empty", "dflt"), "");
  EXPECT_EQ(ini.ReadString("S", "utf", ""), "视频转换");
  EXPECT_EQ(ini.ReadString("S", "eq", ""), "a=b");
  EXPECT_EQ(ini.ReadInteger("S", "semi", 42), 42);
}

TEST(IniFile, WriteChangesOnlyItsOwnLine) {
  struct Case {
    const char* Name;
    std::string Before;
    const char* Section;
    const char* Key;
    const char* Value;
    std::string After;
  } const cases[] = {
      {"replace value, keep everything else",
       "\xEF\xBB\xBF; top\r\n[A]\r\nk1 = old \r\n; note\r\nk2=x\r\n\r\n[B]\r\nk1=b\r\n",
       "a", "K1", "new",
       "\xEF\xBB\xBF; top\r\n[A]\r\nk1 = new \r\n; note\r\nk2=x\r\n\r\n[B]\r\nk1=b\r\n"},
      {"new key after the section's last key", "[A]\nk1=1\n\n[B]\nx=1\n", "A", "k2", "2",
       "[A]\nk1=1\nk2=2\n\n[B]\nx=1\n"},
      {"new key in an empty section at the end", "[A]\nk=1\n[B]", "B", "x", "y", "[A]\nk=1\n[B]\nx=y\n"},
      {"new section at the end", "[A]\nk=1", "RecordBrowerParam", "DireRecordPath", "/o/",
       "[A]\nk=1\n[RecordBrowerParam]\nDireRecordPath=/o/\n"},
      {"empty file", "", "S", "k", "v", "[S]\nk=v\n"},
      {"CRLF file gets CRLF lines", "[A]\r\nk=1\r\n", "C", "k", "v", "[A]\r\nk=1\r\n[C]\r\nk=v\r\n"},
      {"a lone CR is no line ending", "?\r", "Section", "Key", "Value", "?\r\n[Section]\nKey=Value\n"},
      {"same key in another section untouched", "[B]\nk=b\n[A]\nk=a\n", "A", "k", "z",
       "[B]\nk=b\n[A]\nk=z\n"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(TIniFile::SetValueInText(c.Before, c.Section, c.Key, c.Value), c.After) << c.Name;
  }
}

TEST(IniFile, WriteReachesTheFileAtOnceAndReadSeesOutsideChanges) {
  TTempDir dir;
  std::string path = dir.File("s.ini");
  WriteFileBytes(path, "[S]\nk=1\n");
  TIniFile ini(path);
  ini.WriteString("S", "k", "2");
  EXPECT_EQ(ReadFileBytes(path), "[S]\nk=2\n");
  WriteFileBytes(path, "[S]\nk=3\n");  // another program changes the file
  EXPECT_EQ(ini.ReadString("S", "k", ""), "3");
}

TEST(IniFile, RefusedWriteRaisesUnableToWrite) {
  // A folder in place of the file is refused for every user, root included.
  TTempDir dir;
  std::string path = dir.File("folder.ini");
  ASSERT_EQ(::mkdir(path.c_str(), 0755), 0);
  TIniFile ini(path);
  try {
    ini.WriteString("S", "k", "v");
    ADD_FAILURE() << "no error raised";
  } catch (const EIniWriteError& e) {
    EXPECT_EQ(std::string(e.what()), "Unable to write to " + path);
  }
}

TEST(IniFile, SectionListsAndValues) {
  std::string text = "[One]\na=1\nb=2\n[two]\n c = 3\n[One]\nd=4\n";
  EXPECT_EQ(TIniFile::SectionsFromText(text), (std::vector<std::string>{"One", "two", "One"}));
  auto values = TIniFile::SectionValuesFromText(text, "one");
  ASSERT_EQ(values.size(), 3u);
  EXPECT_EQ(values[0], (std::pair<std::string, std::string>{"a", "1"}));
  EXPECT_EQ(values[2], (std::pair<std::string, std::string>{"d", "4"}));
  EXPECT_EQ(TIniFile::SectionValuesFromText(text, "TWO")[0].first, "c");
}

TEST(IniFile, MissingFileReadsDefaults) {
  TIniFile ini("/nonexistent/dir/x.ini");
  EXPECT_EQ(ini.ReadString("S", "k", "d"), "d");
  EXPECT_TRUE(ini.ReadSections().empty());
}
