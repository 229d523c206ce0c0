// The program-wide objects of the desktop program and their order of life: the allocator's
// policy for large blocks fixed first (support/UMemoryPolicy.h), Qt's own translations for the
// chosen language installed, then created as the main window, the conversion task
// DmRecordToMP4, then the settings module DmReadSysParamIni (which sets the debug-log
// level before any worker thread exists); released as: running task threads stopped and
// joined, the language engine freed, then the settings module, the conversion task and the
// window. The program entry holds one, once the application object exists.
#pragma once

#include <memory>

class TFmVyrToMp4;
class TDmRecordToMP4;
class TDmReadSysParamIni;
class TQtTranslations;

class TProgramModules {
 public:
  TProgramModules();
  ~TProgramModules();
  TProgramModules(const TProgramModules&) = delete;
  TProgramModules& operator=(const TProgramModules&) = delete;

  TFmVyrToMp4& Window() { return *FWindow; }

 private:
  std::unique_ptr<TQtTranslations> FQtTranslations;
  std::unique_ptr<TFmVyrToMp4> FWindow;
  std::unique_ptr<TDmRecordToMP4> FTask;
  std::unique_ptr<TDmReadSysParamIni> FSettings;
};
