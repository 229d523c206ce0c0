// Helpers for the window tests: a private environment (settings, home, runtime folder),
// dialogs that answer without a person, and a conversion task whose progress the test
// drives.
#pragma once

#include <QObject>
#include <QStringList>
#include <initializer_list>
#include <atomic>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "TestSupport.h"
#include "ui/UConversionBackend.h"
#include "ui/UWindowDialogs.h"

class TFmVyrToMp4;
struct TFileListRow;

// A private user (see TPrivateUserEnv) and the language engine with the shipped English
// texts.
class TUiTestEnv : public TPrivateUserEnv {
 public:
  TUiTestEnv();
  ~TUiTestEnv();
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

// The fixture of the window tests: a private environment, dialogs that answer, scripted
// conversion tasks and the window. A test class derives from it and calls SetUp and
// TearDown from its init and cleanup slots.
class TWindowTest : public QObject {
 protected:
  // A fresh environment, dialogs and tasks; FOut is the folder "out/" in it (not made).
  void SetUp();
  // The window on ABackend (the scripted tasks when not given), answering through the
  // recorded dialogs; its output folder is FOut unless AKeepOutputFolder.
  void MakeWindow(TConversionBackend ABackend, bool AKeepOutputFolder = false);
  void MakeWindow() { MakeWindow(FTasks->Backend()); }
  // Ends the window first, then the dialogs, the tasks and the environment.
  void TearDown();

  TFmVyrToMp4& W() { return *FWindow; }
  const TFileListRow& Row(int ARecNo);
  // A file AName in the environment's folder, holding one byte: enough for the list.
  std::string Rec(const std::string& AName);
  // Drops ACount such files, named APrefix1.vyr, APrefix2.vyr, ..., on the window.
  void AddRows(int ACount, const std::string& APrefix = "rec");
  // Selects these rows (counted from 1) and no others.
  void SelectRows(std::initializer_list<int> ARows);

  std::unique_ptr<TUiTestEnv> FEnv;
  std::unique_ptr<TScriptedTasks> FTasks;
  std::unique_ptr<TDialogRecorder> FDialogs;
  std::unique_ptr<TFmVyrToMp4> FWindow;
  std::string FOut;
};

// Calls the queue's tick until the run ends (at most AMaxTicks), giving a started task a
// moment between ticks.
void RunTicksUntilIdle(TFmVyrToMp4& AWindow, int AMaxTicks = 2000);
// Waits (without an event loop) until the queue's progress value is above 100.
bool WaitTaskEnded(TFmVyrToMp4& AWindow, int AMs = 30000);
