// The program's own settings file, "$XDG_CONFIG_HOME/VyrTranscode/VyrTranscode.ini"
// ("~/.config" when that variable is unset or not an absolute path). It remembers what the
// user chose where the companion player's "SysParams.ini" does not:
//   [Output]
//   Folder=<the output folder, with its trailing "/">   (only while SysParams.ini is missing)
//   Format=mp4 | raw
// The folder and the file are made on the first write (the folder private to the user);
// reads and writes go through the INI layer (support/UIniFile.h), so a write never damages
// the file and a refused one raises EIniWriteError.
#pragma once

#include <string>

class TProgramSettings {
 public:
  static std::string FileName();

  // The stored output folder; empty when none is stored.
  std::string OutputFolder() const;
  void SetOutputFolder(const std::string& AFolder);
  // 0 MP4, 1 raw stream; -1 when none is stored.
  int OutputFormat() const;
  void SetOutputFormat(int AIndex);

 private:
  static void MakeFolder();
};
