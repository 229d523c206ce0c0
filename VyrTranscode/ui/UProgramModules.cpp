#include "ui/UProgramModules.h"

#include <csignal>

#include "conversion/UDmRecordToMP4.h"
#include "support/UDmReadSysParamIni.h"
#include "support/UMemoryPolicy.h"
#include "support/uMultiLanguage.h"
#include "ui/UConversionBackend.h"
#include "ui/UFmVyrToMp4.h"
#include "ui/UQtTranslations.h"

TProgramModules::TProgramModules() {
  // Before any conversion thread exists: a long queue run keeps no memory of earlier files.
  FixLargeBlockThreshold();
  // A file-size limit makes an output's write fail (reported for that file) instead of
  // killing the program with the rest of the queue.
  std::signal(SIGXFSZ, SIG_IGN);
  // Qt's dialogs and buttons speak the language of the chosen language file.
  FQtTranslations = std::make_unique<TQtTranslations>();
  FQtTranslations->LoadForLanguageFile();
  FWindow = std::make_unique<TFmVyrToMp4>(CoreConversionBackend());
  FmVyrToMp4 = FWindow.get();
  FTask = std::make_unique<TDmRecordToMP4>();
  DmRecordToMP4 = FTask.get();
  FSettings = std::make_unique<TDmReadSysParamIni>();
  DmReadSysParamIni = FSettings.get();
}

TProgramModules::~TProgramModules() {
  // Nothing may use the conversion task or the window after they are gone.
  FWindow->ShutdownTasks();
  FreeMultiLanguage();
  DmReadSysParamIni = nullptr;
  FSettings.reset();
  DmRecordToMP4 = nullptr;
  FTask.reset();
  FmVyrToMp4 = nullptr;
  FWindow.reset();
  FQtTranslations.reset();
}
