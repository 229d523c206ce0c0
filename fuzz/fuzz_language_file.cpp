// The language engine's file reading over any bytes: the input is the language
// configuration, a NUL byte, then a language file. Both are written to a private folder
// (the language file under every name the engine may look for: "English.ini", and the
// file names of the configuration's [LangFile] section), then the engine is created from
// them and its lookups, list and choice are called. A configuration holding "/" is
// skipped, so that no name in it reaches outside the private folder.
//
// Checked: the language list never names more languages than the configuration lists,
// a language chosen within the configuration's count reads back as the default, and a
// lookup in the loaded language answers what a search through the file finds.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

#include <QString>
#include <QStringList>

#include "FuzzPrivateFolder.h"
#include "support/UIniFile.h"
#include "support/UText.h"
#include "support/uMultiLanguage.h"

namespace {


void WriteText(const std::filesystem::path& AFile, const std::string& AText) {
  std::ofstream out(AFile, std::ios::binary | std::ios::trunc);
  out.write(AText.data(), static_cast<std::streamsize>(AText.size()));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* AData, size_t ASize) {
  const std::string input(reinterpret_cast<const char*>(AData), ASize);
  const size_t split = input.find('\0');
  const std::string conf = input.substr(0, split);
  const std::string language = split == std::string::npos ? std::string() : input.substr(split + 1);
  if (conf.find('/') != std::string::npos) return 0;

  const std::filesystem::path run = FuzzPrivateFolder() / "run";
  const std::filesystem::path languageDir = run / "Language";
  std::error_code ec;
  std::filesystem::create_directories(languageDir, ec);
  const std::filesystem::path confFile = run / "Language.ini";
  WriteText(confFile, conf);
  WriteText(languageDir / "English.ini", language);
  const auto files = TIniFile::SectionValuesFromText(conf, "LangFile");
  for (size_t i = 0; i < files.size() && i < 8; ++i) {
    const std::string& name = files[i].second;
    if (name.empty() || name == "." || name == ".." || name.find('\0') != std::string::npos) continue;
    WriteText(languageDir / name, language);
  }

  {
    TMultiLanguage engine(run.string(), confFile.string());
    const QString someKeys[] = {QString::fromLatin1("sTitleVYRToMP4"), QString::fromLatin1("Caption"), QString(),
                                QString::fromLatin1("Strings")};
    for (const QString& key : someKeys) engine.GetStrings(key);
    // A lookup answers what a search through the file finds (a loaded language is this
    // text, under whatever name was chosen), for keys that pass unchanged through Qt's text.
    const auto strings = TIniFile::SectionValuesFromText(language, "Strings");
    for (size_t i = 0; i < strings.size() && i < 8; ++i) {
      const QString key = QString::fromStdString(strings[i].first);
      if (key.toStdString() != strings[i].first || !engine.IsLanguageLoaded() || language.size() > IniReadLimit)
        continue;
      const QString expected = QString::fromStdString(TIniFile::ValueFromText(language, "Strings", strings[i].first, nullptr));
      if (engine.GetStrings(key) != expected) __builtin_trap();
    }
    QStringList names;
    engine.GetLanguageList(names);
    if (static_cast<size_t>(names.size()) > TIniFile::SectionValuesFromText(conf, "Language").size())
      __builtin_trap();
    const int count = TIniFile(confFile.string()).ReadInteger("Default", "Count", 0);
    for (int choice : {1, 2, count}) {
      try {
        engine.SetDefaultLanguage(choice);
      } catch (const EIniWriteError&) {
        continue;
      }
      if (choice >= 1 && choice <= count) {
        // Only text without a second [Default] section must read the choice back: a key
        // line earlier in a duplicate section of the same name may shadow it.
        size_t sections = 0;
        for (const std::string& s : TIniFile::SectionsFromText(conf)) sections += SameTextAscii(s, "Default");
        if (sections <= 1 && engine.GetDefaultLanguage() != choice) __builtin_trap();
      }
      engine.GetStrings(someKeys[0]);
    }
    engine.DoUpdateLanguage();
  }
  std::filesystem::remove_all(run, ec);
  return 0;
}
