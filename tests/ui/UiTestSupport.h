// Helpers for the window tests: a private environment (settings, home, runtime folder),
// dialogs that answer without a person, and a conversion task whose progress the test
// drives.
#pragma once

#include <QStringList>
#include <atomic>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "TestSupport.h"
#include "ui/UConversionBackend.h"
#include "ui/UWindowDialogs.h"

class TFmVyrToMp4;

// APPDATA, HOME, XDG_CONFIG_HOME, XDG_RUNTIME_DIR and TMPDIR in a fresh temporary
// folder, and the language engine with the shipped English texts.
class TUiTestEnv {
 public:
  TUiTestEnv();
  ~TUiTestEnv();
  const TTempDir& Dir() const { return FDir; }
  std::string AppData() const { return FDir.File("appdata"); }
  std::string Home() const { return FDir.File("home"); }
  std::string Runtime() const { return FDir.File("run"); }
  std::string ConfigHome() const { return FDir.File("config"); }
  std::string SettingsFile() const { return AppData() + "/Vyr Player/SysParams.ini"; }
  void WriteSettings(const std::string& AText) const;

 private:
  TTempDir FDir;
  std::unique_ptr<TScopedEnv> FAppData, FHome, FConfigHome, FRuntime, FTmp;
};

// Records every message box and answers it.
struct TDialogRecorder {
  std::vector<TMessageBoxRequest> Messages;
  TMsgResult Answer = TMsgResult::Yes;
  // The answer to a Replace / Skip existing / Cancel question.
  TMsgResult Choice = TMsgResult::Replace;
  QStringList FilesToOpen;
  QString FolderToPick;
  QString LastFolderTitle;
  QString LastOpenFilter;
  TWindowDialogs Dialogs();
  QStringList Texts() const;
};

// A conversion task the test controls. Each call is recorded; the task copies Target into
// the queue's progress until it is released or stopped. With AutoFinish it ends at once.
class TScriptedTasks {
 public:
  struct TCall {
    std::string Src, OutBase;
    bool Raw;
  };
  TConversionBackend Backend();

  std::vector<TCall> Calls() const;
  size_t CallCount() const;
  std::atomic<int> Target{0};
  std::atomic<bool> Release{false};
  std::atomic<bool> AutoFinish{true};
  // Outcome reported by the next finished tasks.
  std::atomic<bool> Fail{false};
  std::atomic<bool> Running{false};
  std::atomic<bool> SawStop{false};

 private:
  void Run(const std::string& ASrc, const std::string& AOut, bool ARaw, std::atomic<int>& AProgress,
           const std::atomic<bool>* AStop, TConversionOutcome* AOutcome);
  mutable std::mutex FLock;
  std::vector<TCall> FCalls;
};

// Calls the queue's tick until the run ends (at most AMaxTicks), giving a started task a
// moment between ticks.
void RunTicksUntilIdle(TFmVyrToMp4& AWindow, int AMaxTicks = 2000);
// Waits (without an event loop) until the queue's progress value is above 100.
bool WaitTaskEnded(TFmVyrToMp4& AWindow, int AMs = 30000);
