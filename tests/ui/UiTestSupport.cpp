#include "UiTestSupport.h"

#include <QItemSelectionModel>
#include <QLineEdit>
#include <chrono>
#include <sys/stat.h>
#include <thread>

#include "support/uFunctionsLib.h"
#include "support/uMultiLanguage.h"
#include "ui/UFileListModel.h"
#include "ui/UFmVyrToMp4.h"

TUiTestEnv::TUiTestEnv() {
  // The shipped language files beside the test programs; no configuration: English.
  CreateMultiLanguage(GetInstallDir(), AppData() + "/Vyr Player/Language.ini");
}

TUiTestEnv::~TUiTestEnv() { FreeMultiLanguage(); }

TWindowDialogs TDialogRecorder::Dialogs() {
  TWindowDialogs d;
  d.MessageBox = [this](QWidget*, const TMessageBoxRequest& ARequest) {
    Messages.push_back(ARequest);
    if (ARequest.Buttons == TMsgButtons::ReplaceSkipCancel) return Choice;
    if (ARequest.Buttons == TMsgButtons::YesNo) return Answer == TMsgResult::Yes ? TMsgResult::Yes : TMsgResult::No;
    return TMsgResult::Ok;
  };
  d.OpenFiles = [this](QWidget*, const QString& AFilter) {
    LastOpenFilter = AFilter;
    return FilesToOpen;
  };
  d.SelectFolder = [this](QWidget*, const QString& ATitle, const QString&) {
    LastFolderTitle = ATitle;
    return FolderToPick;
  };
  return d;
}

QStringList TDialogRecorder::Texts() const {
  QStringList l;
  for (const auto& m : Messages) l << m.Text;
  return l;
}

TConversionBackend TScriptedTasks::Backend() {
  TConversionBackend b;
  b.RecordToMp4 = [this](const std::string& ASrc, const std::string& AOut, std::atomic<int>& AProgress,
                         const std::atomic<bool>& ATerminated, TConversionOutcome* AOutcome) {
    Run(ASrc, AOut, false, AProgress, &ATerminated, AOutcome);
    return true;
  };
  b.RecordToRaw = [this](const std::string& ASrc, const std::string& AOut, std::atomic<int>& AProgress,
                         TConversionOutcome* AOutcome, const std::atomic<bool>*) {
    // A raw export is not shortened by a stop request.
    Run(ASrc, AOut, true, AProgress, nullptr, AOutcome);
  };
  return b;
}

void TScriptedTasks::Run(const std::string& ASrc, const std::string& AOut, bool ARaw,
                         std::atomic<int>& AProgress, const std::atomic<bool>* AStop,
                         TConversionOutcome* AOutcome) {
  {
    std::lock_guard<std::mutex> g(FLock);
    FCalls.push_back({ASrc, AOut, ARaw});
  }
  Running = true;
  AProgress = 0;
  bool stopped = false;
  while (!AutoFinish && !Release) {
    if (AStop && AStop->load()) {
      stopped = true;
      SawStop = true;
      break;
    }
    AProgress = Target.load();
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
  }
  if (AOutcome) {
    AOutcome->Status = Fail ? TConversionStatus::OpenFailed
                            : (stopped ? TConversionStatus::Stopped : TConversionStatus::Converted);
  }
  Running = false;
  AProgress = 101;
}

std::vector<TScriptedTasks::TCall> TScriptedTasks::Calls() const {
  std::lock_guard<std::mutex> g(FLock);
  return FCalls;
}

size_t TScriptedTasks::CallCount() const {
  std::lock_guard<std::mutex> g(FLock);
  return FCalls.size();
}

bool WaitTaskEnded(TFmVyrToMp4& AWindow, int AMs) {
  auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(AMs);
  while (AWindow.FCurTaskProgress.load() <= 100) {
    if (std::chrono::steady_clock::now() > until) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
  }
  return true;
}

void RunTicksUntilIdle(TFmVyrToMp4& AWindow, int AMaxTicks) {
  for (int i = 0; i < AMaxTicks && AWindow.IsWorking(); ++i) {
    AWindow.tmrUpdateTaskTimer();
    if (AWindow.IsWorking()) std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
}

void TWindowTest::SetUp() {
  FEnv = std::make_unique<TUiTestEnv>();
  FTasks = std::make_unique<TScriptedTasks>();
  FDialogs = std::make_unique<TDialogRecorder>();
  FOut = FEnv->Dir().File("out") + "/";
}

void TWindowTest::MakeWindow(TConversionBackend ABackend, bool AKeepOutputFolder) {
  FWindow = std::make_unique<TFmVyrToMp4>(std::move(ABackend));
  FWindow->SetDialogs(FDialogs->Dialogs());
  if (!AKeepOutputFolder) FWindow->txtSavePath->setText(QString::fromStdString(FOut));
}

void TWindowTest::TearDown() {
  FWindow.reset();
  FDialogs.reset();
  FTasks.reset();
  FEnv.reset();
}

const TFileListRow& TWindowTest::Row(int ARecNo) { return *W().cdsConvert->Row(ARecNo); }

std::string TWindowTest::Rec(const std::string& AName) {
  const std::string path = FEnv->Dir().File(AName);
  WriteFileBytes(path, "x");
  return path;
}

void TWindowTest::AddRows(int ACount, const std::string& APrefix) {
  QStringList names;
  for (int i = 1; i <= ACount; ++i) names << QString::fromStdString(Rec(APrefix + std::to_string(i) + ".vyr"));
  W().DropFiles(names);
}

void TWindowTest::SelectRows(std::initializer_list<int> ARows) {
  auto* sm = W().dbgVyrSourceFile->selectionModel();
  sm->clearSelection();
  for (int r : ARows)
    sm->select(W().cdsConvert->index(r - 1, 0), QItemSelectionModel::Select | QItemSelectionModel::Rows);
}
