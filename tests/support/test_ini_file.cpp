#include <gtest/gtest.h>

#include <grp.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>
#include <filesystem>
#include <functional>
#include <map>
#include <memory>

#include "AllocationMeter.h"
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

// ---- Reading: regular files only, at most 1 MiB ----------------------------------------

namespace {

// Text of exactly ASize bytes: AHead, then comment lines, ending with a line ending.
std::string PaddedText(const std::string& AHead, size_t ASize) {
  std::string s = AHead;
  while (s.size() + 81 <= ASize) s += "; " + std::string(78, 'x') + "\n";
  s += "; " + std::string(ASize - s.size() - 3, 'y') + "\n";
  return s;
}

}  // namespace

TEST(IniFileRead, OnlyRegularFilesAreReadAndNothingWaits) {
  struct Case {
    const char* Name;
    std::function<void(const std::string& ADir, const std::string& AFile)> Make;
    const char* Expected;
    bool Logged;  // "not a regular file"
  } const cases[] = {
      {"FIFO without a writer", [](const std::string&, const std::string& f) { ::mkfifo(f.c_str(), 0644); },
       "dflt", true},
      {"link to a character device",
       [](const std::string&, const std::string& f) { ::symlink("/dev/zero", f.c_str()); }, "dflt", true},
      {"folder", [](const std::string&, const std::string& f) { ::mkdir(f.c_str(), 0755); }, "dflt", true},
      {"link that leads nowhere",
       [](const std::string& d, const std::string& f) { ::symlink((d + "/absent.ini").c_str(), f.c_str()); },
       "dflt", false},
      {"link to a regular file",
       [](const std::string& d, const std::string& f) {
         WriteFileBytes(d + "/target.ini", "[S]\nk=linked\n");
         ::symlink("target.ini", f.c_str());
       },
       "linked", false},
  };
  for (const Case& c : cases) {
    TTempDir dir;
    const std::string file = dir.File("a.ini");
    c.Make(dir.Path(), file);
    TLogCapture log;
    TIniFile ini(file);
    EXPECT_EQ(ini.ReadString("S", "k", "dflt"), c.Expected) << c.Name;
    EXPECT_EQ(log.Contains("INI file is not a regular file, not read: " + file), c.Logged) << c.Name;
  }
}

TEST(IniFileRead, LargeFileIsReadUpToItsLastWholeLineWithin1MiB) {
  TTempDir dir;
  const std::string file = dir.File("big.ini");
  const std::string logLine = "INI file larger than 1 MiB, read up to 1 MiB and never written: " + file;
  // The line "cut=..." starts 4 bytes before the limit and ends after it.
  std::string text = PaddedText("[S]\nfirst=1\n", IniReadLimit - 4) + "cut=abcdefgh\n" + "late=2\n";
  ASSERT_TRUE(WriteFileBytes(file, text));
  {
    TLogCapture log;
    TIniFile ini(file);
    EXPECT_EQ(ini.ReadString("S", "first", "dflt"), "1");
    EXPECT_EQ(ini.ReadString("S", "cut", "dflt"), "dflt");  // never a value cut short
    EXPECT_EQ(ini.ReadString("S", "late", "dflt"), "dflt");
    EXPECT_EQ(ini.ReadText().size(), IniReadLimit - 4);
    EXPECT_TRUE(log.Contains(logLine));
  }
  // A file of exactly 1 MiB is read whole, without a log line.
  text = PaddedText("[S]\nfirst=1\n", IniReadLimit - 6) + "k=end\n";
  ASSERT_EQ(text.size(), IniReadLimit);
  ASSERT_TRUE(WriteFileBytes(file, text));
  TLogCapture log;
  EXPECT_EQ(TIniFile(file).ReadString("S", "k", "dflt"), "end");
  EXPECT_FALSE(log.Contains(logLine));
}

// ---- Memory ------------------------------------------------------------------------------

TEST(IniFileMemory, TextFunctionsNeedNoMemoryPerLine) {
  // 4 million empty lines between a section and its key.
  const std::string text = "[S]\n" + std::string(4u << 20, '\n') + "k=v\n";
  {
    TAllocationMeter meter;
    bool found = false;
    EXPECT_EQ(TIniFile::ValueFromText(text, "S", "k", &found), "v");
    EXPECT_EQ(TIniFile::SectionValuesFromText(text, "S").size(), 1u);
    EXPECT_EQ(TIniFile::SectionsFromText(text).size(), 1u);
    size_t keys = 0;
    TIniFile::ForEachKeyLine(text, [&keys](std::string_view, std::string_view, std::string_view) { ++keys; });
    EXPECT_EQ(keys, 1u);
    EXPECT_LT(meter.PeakBytes(), 64u * 1024);
  }
  // An edit holds the new text and little else.
  TAllocationMeter meter;
  const std::string edited = TIniFile::SetValueInText(text, "S", "k", "new");
  EXPECT_EQ(edited.size(), text.size() + 2);
  EXPECT_LT(meter.PeakBytes(), text.size() + 64u * 1024);
}

TEST(IniFileMemory, ReadingAHugeFileHoldsAboutOneMiB) {
  TTempDir dir;
  const std::string file = dir.File("SysParams.ini");
  // 20 MB of empty lines after the settings.
  ASSERT_TRUE(WriteFileBytes(file, "[RecordBrowerParam]\nDireRecordPath=/out/\n" + std::string(20u << 20, '\n')));
  TIniFile ini(file);
  TAllocationMeter meter;
  EXPECT_EQ(ini.ReadString("RecordBrowerParam", "DireRecordPath", ""), "/out/");
  EXPECT_EQ(ini.ReadSections().size(), 1u);
  EXPECT_EQ(ini.ReadSectionValues("recordbrowerparam").size(), 1u);
  EXPECT_TRUE(ini.SectionExists("RecordBrowerParam"));
  EXPECT_LT(meter.PeakBytes(), 3 * IniReadLimit);
}

// ---- Writing: a temporary file renamed over the file, or refused --------------------------

namespace {

struct stat LinkStat(const std::string& APath) {
  struct stat st {};
  ::lstat(APath.c_str(), &st);
  return st;
}

// What a folder holds: every name with its type, inode, mode, owner, size and, for
// regular files, bytes. Equal states mean nothing in the folder changed.
std::map<std::string, std::string> FolderState(const std::string& AFolder) {
  std::map<std::string, std::string> state;
  std::error_code ec;
  for (const auto& entry : std::filesystem::directory_iterator(AFolder, ec)) {
    const std::string path = entry.path().string();
    const struct stat st = LinkStat(path);
    std::string desc = std::to_string(st.st_mode) + "/" + std::to_string(st.st_ino) + "/" +
                       std::to_string(st.st_uid) + "/" + std::to_string(st.st_size);
    if (S_ISREG(st.st_mode)) desc += "/" + ReadFileBytes(path);
    if (S_ISLNK(st.st_mode)) desc += "/" + std::filesystem::read_symlink(path, ec).string();
    state[entry.path().filename().string()] = desc;
  }
  return state;
}

std::string Utf16Le(const std::string& AAscii) {
  std::string s = "\xFF\xFE";
  for (char c : AAscii) {
    s += c;
    s += '\0';
  }
  return s;
}

const std::string OLD_TEXT = "[S]\nk=old\n";
const std::string NEW_TEXT = "[S]\nk=new\n";

// Runs AWork in a child process as the user and group "nobody"; its exit status, or -1.
int RunAsNobody(const std::function<int()>& AWork) {
  const pid_t pid = ::fork();
  if (pid == 0) {
    if (::setgroups(0, nullptr) != 0 || ::setgid(65534) != 0 || ::setuid(65534) != 0) ::_exit(100);
    ::_exit(AWork());
  }
  int status = 0;
  if (pid < 0 || ::waitpid(pid, &status, 0) != pid || !WIFEXITED(status)) return -1;
  return WEXITSTATUS(status);
}

// 0 when the write went through, 1 when it was refused with the expected message.
int WriteOrRefuse(const std::string& AFile) {
  try {
    TIniFile(AFile).WriteString("S", "k", "new");
    return 0;
  } catch (const EIniWriteError& e) {
    return std::string(e.what()) == "Unable to write to " + AFile ? 1 : 2;
  }
}

}  // namespace

TEST(IniFileWrite, WritesReachTheFileBehindTheName) {
  struct Case {
    const char* Name;
    // Makes what the name "s.ini" stands for; "other/" is a second folder.
    std::function<void(const std::string& ADir)> Make;
    const char* Target;  // the file that must hold the new text
    bool InPlace;        // the same file afterwards (same inode) rather than a new one
  } const cases[] = {
      {"a file with one name", [](const std::string& d) { WriteFileBytes(d + "/s.ini", OLD_TEXT); }, "s.ini", false},
      {"a link into another folder",
       [](const std::string& d) {
         WriteFileBytes(d + "/other/c.ini", OLD_TEXT);
         ::symlink((d + "/other/c.ini").c_str(), (d + "/s.ini").c_str());
       },
       "other/c.ini", false},
      {"a relative link to a relative link",
       [](const std::string& d) {
         WriteFileBytes(d + "/other/c.ini", OLD_TEXT);
         ::symlink("c.ini", (d + "/other/l.ini").c_str());
         ::symlink("other/l.ini", (d + "/s.ini").c_str());
       },
       "other/c.ini", false},
      {"a file with two hard links",
       [](const std::string& d) {
         WriteFileBytes(d + "/s.ini", OLD_TEXT);
         ::link((d + "/s.ini").c_str(), (d + "/other/h.ini").c_str());
       },
       "other/h.ini", true},
      {"a link to a file with two hard links",
       [](const std::string& d) {
         WriteFileBytes(d + "/other/c.ini", OLD_TEXT);
         ::link((d + "/other/c.ini").c_str(), (d + "/other/h.ini").c_str());
         ::symlink("other/c.ini", (d + "/s.ini").c_str());
       },
       "other/h.ini", true},
  };
  for (const Case& c : cases) {
    TTempDir dir;
    ::mkdir(dir.File("other").c_str(), 0755);
    c.Make(dir.Path());
    const std::string target = dir.File(c.Target);
    ::chmod(target.c_str(), 0640);
    const struct stat name = LinkStat(dir.File("s.ini"));
    const struct stat before = LinkStat(target);
    const auto namesBefore = FolderState(dir.Path()), otherBefore = FolderState(dir.File("other"));

    TIniFile(dir.File("s.ini")).WriteString("S", "k", "new");

    const struct stat after = LinkStat(target);
    EXPECT_EQ(ReadFileBytes(target), NEW_TEXT) << c.Name;
    EXPECT_EQ(ReadFileBytes(dir.File("s.ini")), NEW_TEXT) << c.Name;
    EXPECT_EQ(after.st_mode, before.st_mode) << c.Name;
    EXPECT_EQ(after.st_ino == before.st_ino, c.InPlace) << c.Name;
    // A link stays the link it was.
    EXPECT_EQ(S_ISLNK(LinkStat(dir.File("s.ini")).st_mode), S_ISLNK(name.st_mode)) << c.Name;
    // No temporary file is left beside it, and no name came or went.
    auto names = [](const std::map<std::string, std::string>& AState) {
      std::vector<std::string> v;
      for (const auto& e : AState) v.push_back(e.first);
      return v;
    };
    EXPECT_EQ(names(FolderState(dir.Path())), names(namesBefore)) << c.Name;
    EXPECT_EQ(names(FolderState(dir.File("other"))), names(otherBefore)) << c.Name;
  }
}

TEST(IniFileWrite, MissingFileIsCreatedUnderItsName) {
  TTempDir dir;
  const std::string file = dir.File("new.ini");
  const mode_t mask = ::umask(022);
  TIniFile(file).WriteString("S", "k", "new");
  ::umask(mask);
  EXPECT_EQ(ReadFileBytes(file), NEW_TEXT);
  EXPECT_EQ(LinkStat(file).st_mode & 0777, 0644u);
  EXPECT_EQ(FolderState(dir.Path()).size(), 1u);
}

TEST(IniFileWrite, RefusedWritesChangeNothing) {
  struct Case {
    const char* Name;
    // Makes "s.ini" (or what the returned name stands for) in the folder; "other/" is a
    // second folder. Returns the name to write.
    std::function<std::string(const std::string& ADir)> Make;
    std::string Key = "k";
    std::string Value = "new";
    rlim_t SizeLimit = 0;  // a file size limit during the write, as a full disk
  } const cases[] = {
      {"read-only file",
       [](const std::string& d) {
         WriteFileBytes(d + "/s.ini", OLD_TEXT);
         ::chmod((d + "/s.ini").c_str(), 0444);
         return d + "/s.ini";
       }},
      {"read-only file behind a link",
       [](const std::string& d) {
         WriteFileBytes(d + "/other/c.ini", OLD_TEXT);
         ::chmod((d + "/other/c.ini").c_str(), 0444);
         ::symlink((d + "/other/c.ini").c_str(), (d + "/s.ini").c_str());
         return d + "/s.ini";
       }},
      {"binary content",
       [](const std::string& d) {
         WriteFileBytes(d + "/s.ini", OLD_TEXT + std::string("\0\x01\x02\x03", 4));
         return d + "/s.ini";
       }},
      {"UTF-16 text",
       [](const std::string& d) {
         WriteFileBytes(d + "/s.ini", Utf16Le(OLD_TEXT));
         return d + "/s.ini";
       }},
      {"Latin-1 text",
       [](const std::string& d) {
         WriteFileBytes(d + "/s.ini", "[S]\nk=caf\xE9\n");
         return d + "/s.ini";
       }},
      {"larger than 1 MiB",
       [](const std::string& d) {
         WriteFileBytes(d + "/s.ini", PaddedText(OLD_TEXT, IniReadLimit + 1));
         return d + "/s.ini";
       }},
      {"would grow beyond 1 MiB",
       [](const std::string& d) {
         WriteFileBytes(d + "/s.ini", PaddedText(OLD_TEXT, IniReadLimit));
         return d + "/s.ini";
       },
       "k", "longer"},
      {"FIFO",
       [](const std::string& d) {
         ::mkfifo((d + "/s.ini").c_str(), 0644);
         return d + "/s.ini";
       }},
      {"link to a character device",
       [](const std::string& d) {
         ::symlink("/dev/null", (d + "/s.ini").c_str());
         return d + "/s.ini";
       }},
      {"folder",
       [](const std::string& d) {
         ::mkdir((d + "/s.ini").c_str(), 0755);
         return d + "/s.ini";
       }},
      {"link that leads nowhere",
       [](const std::string& d) {
         ::symlink((d + "/other/absent.ini").c_str(), (d + "/s.ini").c_str());
         return d + "/s.ini";
       }},
      {"missing folder", [](const std::string& d) { return d + "/absent/s.ini"; }},
      {"line break in the value",
       [](const std::string& d) {
         WriteFileBytes(d + "/s.ini", OLD_TEXT);
         return d + "/s.ini";
       },
       "k", "x\n[Other]\ny=1"},
      {"NUL byte in the key",
       [](const std::string& d) {
         WriteFileBytes(d + "/s.ini", OLD_TEXT);
         return d + "/s.ini";
       },
       std::string("k\0x", 3), "new"},
      {"value that is not UTF-8",
       [](const std::string& d) {
         WriteFileBytes(d + "/s.ini", OLD_TEXT);
         return d + "/s.ini";
       },
       "k", "\xFF"},
      {"full disk",
       [](const std::string& d) {
         WriteFileBytes(d + "/s.ini", OLD_TEXT);
         return d + "/s.ini";
       },
       "k", "new", 8},
      {"full disk, file with two hard links",
       [](const std::string& d) {
         WriteFileBytes(d + "/s.ini", OLD_TEXT);
         ::link((d + "/s.ini").c_str(), (d + "/other/h.ini").c_str());
         return d + "/s.ini";
       },
       "k", "new", 8},
  };
  for (const Case& c : cases) {
    TTempDir dir;
    ::mkdir(dir.File("other").c_str(), 0755);
    const std::string file = c.Make(dir.Path());
    const auto before = FolderState(dir.Path()), otherBefore = FolderState(dir.File("other"));
    std::string message;
    {
      std::unique_ptr<TFileSizeLimit> limit;
      if (c.SizeLimit) limit = std::make_unique<TFileSizeLimit>(c.SizeLimit);
      try {
        TIniFile(file).WriteString("S", c.Key, c.Value);
      } catch (const EIniWriteError& e) {
        message = e.what();
      }
    }
    EXPECT_EQ(message, "Unable to write to " + file) << c.Name;
    EXPECT_EQ(FolderState(dir.Path()), before) << c.Name;
    EXPECT_EQ(FolderState(dir.File("other")), otherBefore) << c.Name;
  }
}

TEST(IniFileWrite, UnchangedTextLeavesTheFileAsItIs) {
  TTempDir dir;
  const std::string file = dir.File("s.ini");
  WriteFileBytes(file, OLD_TEXT);
  const struct stat before = LinkStat(file);
  TIniFile(file).WriteString("s", "K", "old");
  EXPECT_EQ(LinkStat(file).st_ino, before.st_ino);
  EXPECT_EQ(ReadFileBytes(file), OLD_TEXT);
}

TEST(IniFileWrite, OwnersAndPermissionsOfOtherUsers) {
  if (::geteuid() != 0) GTEST_SKIP() << "acting as another user needs root";
  const uid_t nobody = 65534;
  {
    // A file this user may not write, in a folder where it may create files: a rename
    // would replace the file all the same; it is refused instead.
    TTempDir dir;
    ::chmod(dir.Path().c_str(), 0777);
    const std::string file = dir.File("s.ini");
    WriteFileBytes(file, OLD_TEXT);
    ::chmod(file.c_str(), 0644);
    const auto before = FolderState(dir.Path());
    EXPECT_EQ(RunAsNobody([&] { return WriteOrRefuse(file); }), 1);
    EXPECT_EQ(FolderState(dir.Path()), before);
  }
  {
    // The user's own file in a folder where it may not create files: rewritten in place.
    TTempDir dir;
    ::chmod(dir.Path().c_str(), 0755);
    const std::string file = dir.File("s.ini");
    WriteFileBytes(file, OLD_TEXT);
    ASSERT_EQ(::chown(file.c_str(), nobody, nobody), 0);
    const struct stat before = LinkStat(file);
    EXPECT_EQ(RunAsNobody([&] { return WriteOrRefuse(file); }), 0);
    EXPECT_EQ(ReadFileBytes(file), NEW_TEXT);
    EXPECT_EQ(LinkStat(file).st_ino, before.st_ino);
  }
  {
    // Another user's file written by root keeps its owner and mode.
    TTempDir dir;
    const std::string file = dir.File("s.ini");
    WriteFileBytes(file, OLD_TEXT);
    ASSERT_EQ(::chown(file.c_str(), nobody, nobody), 0);
    ::chmod(file.c_str(), 0640);
    const struct stat before = LinkStat(file);
    EXPECT_EQ(WriteOrRefuse(file), 0);
    const struct stat after = LinkStat(file);
    EXPECT_EQ(ReadFileBytes(file), NEW_TEXT);
    EXPECT_NE(after.st_ino, before.st_ino);
    EXPECT_EQ(after.st_uid, nobody);
    EXPECT_EQ(after.st_gid, nobody);
    EXPECT_EQ(after.st_mode, before.st_mode);
  }
}

TEST(IniFileText, Utf8CheckAcceptsTextOnly) {
  struct Case {
    std::string Text;
    bool Utf8;
  } const cases[] = {
      {"", true},
      {"[S]\r\nk=v\n", true},
      {"\xEF\xBB\xBF[S]\nk=视频转换\n", true},
      {"\xF0\x9F\x8E\xA5", true},                // U+1F3A5
      {std::string("a\0b", 3), false},           // NUL
      {"\xFF\xFE[\0", false},                    // UTF-16 byte order mark
      {"caf\xE9", false},                        // Latin-1
      {"\xC0\xAF", false},                       // overlong
      {"\xE0\x80\xAF", false},                   // overlong
      {"\xED\xA0\x80", false},                   // surrogate
      {"\xF4\x90\x80\x80", false},               // above U+10FFFF
      {"\xE8\xA7", false},                       // cut short
      {"\x80", false},                           // lone continuation byte
  };
  for (const Case& c : cases) EXPECT_EQ(TIniFile::IsUtf8Text(c.Text), c.Utf8) << c.Text;
}
