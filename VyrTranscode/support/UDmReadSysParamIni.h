// The settings module: reads the settings file "SysParams.ini" that the program shares
// with the companion player, in the per-user "Vyr Player" folder. The program never
// creates the file; when it is missing at start, the log stays off and the output folder
// is not remembered.
#pragma once

#include <memory>
#include <string>

#include "support/UIniFile.h"

class TDmReadSysParamIni {
 public:
  // Runs DataModuleCreate.
  TDmReadSysParamIni();
  // Runs DataModuleDestroy.
  ~TDmReadSysParamIni();
  TDmReadSysParamIni(const TDmReadSysParamIni&) = delete;
  TDmReadSysParamIni& operator=(const TDmReadSysParamIni&) = delete;

  // sRecordPath receives "DireRecordPath", or empty text when the file is not open or
  // holds no such key. Always true.
  bool GetRecordPath(std::string& sRecordPath) const;
  // Writes "DireRecordPath" when the file is open. Always true; a refused write raises
  // EIniWriteError ("Unable to write to <path>").
  bool SetRecordPath(const std::string& sRecordPath);

  bool IsOpen() const { return FIni != nullptr; }
  // GetAppDataPath + "/Vyr Player/SysParams.ini".
  static std::string SettingsFileName();

 private:
  void DataModuleCreate();
  void DataModuleDestroy();

  std::unique_ptr<TIniFile> FIni;
};

// The program-wide settings module, created by the program entry.
extern TDmReadSysParamIni* DmReadSysParamIni;
