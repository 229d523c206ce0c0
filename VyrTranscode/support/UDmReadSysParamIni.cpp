#include "support/UDmReadSysParamIni.h"

#include <sys/stat.h>

#include "support/uFunctionsLib.h"

namespace {
const char* const SectionRecordBrowerParam = "RecordBrowerParam";
const char* const KeyLogLevel = "LogLevel";
const char* const KeyDireRecordPath = "DireRecordPath";
}  // namespace

TDmReadSysParamIni* DmReadSysParamIni = nullptr;

TDmReadSysParamIni::TDmReadSysParamIni() { DataModuleCreate(); }

TDmReadSysParamIni::~TDmReadSysParamIni() { DataModuleDestroy(); }

std::string TDmReadSysParamIni::SettingsFileName() {
  return GetAppDataPath() + "/Vyr Player/SysParams.ini";
}

void TDmReadSysParamIni::DataModuleCreate() {
  std::string path = SettingsFileName();
  struct stat st {};
  if (::stat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) return;
  FIni = std::make_unique<TIniFile>(path);
  SetLogLevelStr(FIni->ReadString(SectionRecordBrowerParam, KeyLogLevel, "0"));
}

void TDmReadSysParamIni::DataModuleDestroy() { FIni.reset(); }

bool TDmReadSysParamIni::GetRecordPath(std::string& sRecordPath) const {
  sRecordPath = FIni ? FIni->ReadString(SectionRecordBrowerParam, KeyDireRecordPath, "") : "";
  return true;
}

bool TDmReadSysParamIni::SetRecordPath(const std::string& sRecordPath) {
  if (FIni) FIni->WriteString(SectionRecordBrowerParam, KeyDireRecordPath, sRecordPath);
  return true;
}
