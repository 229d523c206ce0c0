#include "ui/UProgramSettings.h"

#include <cstdlib>
#include <sys/stat.h>

#include "support/UIniFile.h"
#include "support/UText.h"
#include "support/uFunctionsLib.h"

namespace {

const char* const SectionOutput = "Output";
const char* const KeyFolder = "Folder";
const char* const KeyFormat = "Format";

std::string ConfigHome() {
  const char* v = std::getenv("XDG_CONFIG_HOME");
  if (v && v[0] == '/') return v;
  return GetHomeDir() + "/.config";
}

std::string SettingsFolder() { return ConfigHome() + "/VyrTranscode"; }

}  // namespace

std::string TProgramSettings::FileName() { return SettingsFolder() + "/VyrTranscode.ini"; }

void TProgramSettings::MakeFolder() {
  // Missing folders are made private to the user; one that exists is left as it is (a
  // write into a folder that cannot take it is refused by the INI layer).
  const std::string config = ConfigHome();
  for (size_t at = 1; at <= config.size(); ++at) {
    if (at < config.size() && config[at] != '/') continue;
    ::mkdir(config.substr(0, at).c_str(), 0700);
  }
  ::mkdir(SettingsFolder().c_str(), 0700);
}

std::string TProgramSettings::OutputFolder() const {
  return TIniFile(FileName()).ReadString(SectionOutput, KeyFolder, "");
}

void TProgramSettings::SetOutputFolder(const std::string& AFolder) {
  MakeFolder();
  TIniFile(FileName()).WriteString(SectionOutput, KeyFolder, AFolder);
}

int TProgramSettings::OutputFormat() const {
  const std::string v = TIniFile(FileName()).ReadString(SectionOutput, KeyFormat, "");
  if (SameTextAscii(v, "mp4")) return 0;
  if (SameTextAscii(v, "raw")) return 1;
  return -1;
}

void TProgramSettings::SetOutputFormat(int AIndex) {
  MakeFolder();
  TIniFile(FileName()).WriteString(SectionOutput, KeyFormat, AIndex == 1 ? "raw" : "mp4");
}
