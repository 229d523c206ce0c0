// The shipped language files: every key the program looks up is there, with a text, in
// every language, and the build puts the files beside the executables.
#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <map>
#include <regex>
#include <set>
#include <sstream>

#include "TestSupport.h"
#include "support/UIniFile.h"

namespace fs = std::filesystem;

namespace {

const char* const SHIPPED[] = {"English.ini", "Chinese.ini"};

// The keys the windows use.
const char* const WINDOW_KEYS[] = {
    "sTitleVYRToMP4",
    "sVYRFile",
    "sMP4SavePathSet",
    "sBtnConvert",
    "sOpenSaveDirectory",
    "sConvertFileSavePath",
    "sFileName",
    "sProgress",
    "sOpenFile",
    "sDelSelect",
    "sDelAll",
    "sConvertSelect",
    "sFormat",
    "sPlayFormatError",
    "sConfirmCancelAll",
    "sSelectVYRFileError",
    "sConvertOver",
    "sStop",
    "sConvertFailed",
    // The marks of the list's rows and the reasons in their tooltips.
    "sConvertStopped",
    "sConvertSkipped",
    "sConvertRecovered",
    "sRecordEndedEarly",
    "sStoppedKept",
    "sStoppedNothingKept",
    "sSkippedExists",
    "sReasonOpen",
    "sReasonOutDirMissing",
    "sReasonOutDirNotWritable",
    "sReasonOutput",
    "sReasonDiskFull",
    "sReasonWrite",
    "sReasonNothing",
    "sReasonNoVideo",
    "sReasonMemory",
    "sReasonFailed",
    // Messages of a run, of the list and of a second start.
    "sConvertFailedFiles",
    "sAndMore",
    "sSkippedCount",
    "sOutputsExist",
    "sReplace",
    "sSkipExisting",
    "sOutDirCreateFailed",
    "sOpenFolderFailed",
    "sSameNameNotAdded",
    "sEmptyListHint",
    "sHandOverFailed",
    // The locale of Qt's own dialogs.
    "sQtLocale",
};

std::string SourceLanguageFile(const std::string& AName) {
  return std::string(VYR_SOURCE_DIR) + "/Language/" + AName;
}

std::string Lower(std::string AText) {
  for (char& c : AText)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  return AText;
}

// Every key in a literal lookup of the program's sources: GetStrings("...") of the engine
// and the window's wrappers around it, GetLangText("...") and Lang("..."). Tests are left
// out: they look up keys of their own test files.
std::set<std::string> KeysLookedUpInSources() {
  std::set<std::string> keys;
  const std::regex call(
      R"re(\b(?:GetStrings|GetLangText|Lang)\s*\(\s*(?:QStringLiteral\s*\(\s*|QLatin1String\s*\(\s*|u)?"([^"]*)")re");
  const fs::path root(VYR_SOURCE_DIR);
  for (auto it = fs::recursive_directory_iterator(root); it != fs::recursive_directory_iterator();
       ++it) {
    const std::string name = it->path().filename().string();
    if (it->is_directory()) {
      if (name == "tests" || name == ".git" || name.rfind("build", 0) == 0)
        it.disable_recursion_pending();
      continue;
    }
    const std::string ext = it->path().extension().string();
    if (ext != ".cpp" && ext != ".h" && ext != ".hpp" && ext != ".cc") continue;
    const std::string text = ReadFileBytes(it->path().string());
    for (auto m = std::sregex_iterator(text.begin(), text.end(), call); m != std::sregex_iterator();
         ++m)
      keys.insert((*m)[1].str());
  }
  return keys;
}

bool IsValidUtf8(const std::string& AText) {
  size_t i = 0;
  while (i < AText.size()) {
    const unsigned char c = static_cast<unsigned char>(AText[i]);
    size_t length;
    uint32_t cp, least;
    if (c < 0x80) {
      ++i;
      continue;
    } else if ((c & 0xE0) == 0xC0) {
      length = 2, cp = c & 0x1F, least = 0x80;
    } else if ((c & 0xF0) == 0xE0) {
      length = 3, cp = c & 0x0F, least = 0x800;
    } else if ((c & 0xF8) == 0xF0) {
      length = 4, cp = c & 0x07, least = 0x10000;
    } else {
      return false;
    }
    if (i + length > AText.size()) return false;
    for (size_t k = 1; k < length; ++k) {
      const unsigned char cc = static_cast<unsigned char>(AText[i + k]);
      if ((cc & 0xC0) != 0x80) return false;
      cp = (cp << 6) | (cc & 0x3F);
    }
    if (cp < least || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) return false;
    i += length;
  }
  return true;
}

}  // namespace

TEST(LanguageFiles, EveryKeyThatIsLookedUpHasATextInEveryLanguage) {
  std::set<std::string> keys = KeysLookedUpInSources();
  EXPECT_FALSE(keys.empty()) << "no lookups found: the scan misses the program's calls";
  keys.insert(std::begin(WINDOW_KEYS), std::end(WINDOW_KEYS));
  for (const char* file : SHIPPED) {
    const std::string text = ReadFileBytes(SourceLanguageFile(file));
    for (const std::string& key : keys) {
      bool found = false;
      const std::string value = TIniFile::ValueFromText(text, "Strings", key, &found);
      EXPECT_TRUE(found) << file << " lacks " << key;
      EXPECT_FALSE(value.empty()) << file << " has no text for " << key;
    }
  }
}

TEST(LanguageFiles, AllLanguagesHaveTheSameSectionsAndKeys) {
  std::map<std::string, std::set<std::string>> reference;
  for (const char* file : SHIPPED) {
    const std::string text = ReadFileBytes(SourceLanguageFile(file));
    ASSERT_FALSE(text.empty()) << file;
    EXPECT_TRUE(IsValidUtf8(text)) << file;
    std::map<std::string, std::set<std::string>> sections;
    for (const std::string& section : TIniFile::SectionsFromText(text)) {
      std::set<std::string>& keys = sections[Lower(section)];
      for (const auto& line : TIniFile::SectionValuesFromText(text, section)) {
        EXPECT_TRUE(keys.insert(Lower(line.first)).second)
            << file << ": " << line.first << " twice";
        EXPECT_FALSE(line.second.empty()) << file << ": " << line.first << " is empty";
      }
    }
    if (reference.empty())
      reference = sections;
    else
      EXPECT_EQ(sections, reference) << file << " differs from " << SHIPPED[0];
  }
}

TEST(LanguageFiles, TheBuildPutsThemBesideTheExecutables) {
  for (const char* file : SHIPPED) {
    const std::string installed = std::string(VYR_BIN_DIR) + "/Language/" + file;
    ASSERT_TRUE(FileExists(installed)) << installed;
    EXPECT_EQ(ReadFileBytes(installed), ReadFileBytes(SourceLanguageFile(file))) << file;
  }
}

TEST(LanguageFiles, Utf8CheckRejectsOtherEncodings) {
  EXPECT_TRUE(IsValidUtf8("plain ascii, 转换完成。"));
  EXPECT_FALSE(IsValidUtf8("\xD7\xAA\xBB\xBB"));  // GBK bytes of the same text
  EXPECT_FALSE(IsValidUtf8("cut \xE8\xBD"));      // a sequence cut short
  EXPECT_FALSE(IsValidUtf8("overlong \xC0\xAF"));
}
