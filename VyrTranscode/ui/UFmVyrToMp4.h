// The main window `TFmVyrToMp4`: the list of record files to convert, the output folder
// and format, and the conversion queue that converts the listed files one after another,
// driven by a 200 ms timer on the window's thread. Each file runs on a task thread of its
// own (the core's MP4 task body or raw stream export); the task thread only writes the
// progress value, and the timer's tick carries it into the list.
//
// Before a run starts, the output folder is made when it is missing, and when some outputs
// exist already the user chooses once whether to replace them, skip those files, or not
// start. Each row ends with its mark (failed, warned, stopped, skipped) and a tooltip that
// says why; the end message names the files that failed.
//
// The window also answers the window message "VyrMp4MsgProc" (101: is a conversion
// running? answered with 102 while it is; 103: close) and the hand-over of a second start:
// it comes forward and lists the files handed to it (after the run, when one is active).
#pragma once

#include <QStringList>
#include <QWidget>
#include <atomic>
#include <string>
#include <vector>

#include "conversion/UConversionOutcome.h"
#include "support/uMultiLanguage.h"
#include "ui/UConversionBackend.h"
#include "ui/UFileListView.h"
#include "ui/ULinkLabel.h"
#include "ui/UQueueTaskThread.h"
#include "ui/UWindowDialogs.h"
#include "ui/UWindowMessage.h"

class QAction;
class QButtonGroup;
class QFrame;
class QGroupBox;
class QLabel;
class QLineEdit;
class QLocalSocket;
class QMenu;
class QPushButton;
class QRadioButton;
class QTableView;
class QTimer;
class QToolButton;
class TActivationServer;
class TFileListModel;
class TFolderOpener;
class TProgressDelegate;
class TWindowMessageServer;

class TFmVyrToMp4 : public QWidget, public IOMVUpdateLanguage {
  Q_OBJECT

 public:
  explicit TFmVyrToMp4(TConversionBackend ABackend, QWidget* AParent = nullptr);
  // Stops and joins a task thread that still runs.
  ~TFmVyrToMp4() override;

  // ---- handlers (the controls call them; tests call them like a click) ---------------
  void FormCreate();
  void FormShow();
  // True when the window may close; asks first while a conversion runs.
  bool FormClose();
  void btnSelOutDirClick();
  void lblOpenOutDirClick();
  void mniSelFilesClick();
  void mniDelSelFileClick();
  void mniDelAllFileClick();
  void mniConvertSelFileClick();
  // Files dropped from the file manager, as local paths in the order given.
  void DropFiles(const QStringList& ANames);
  void btnConvertClick();
  void tmrUpdateTaskTimer();

  // ---- file list ---------------------------------------------------------------------
  void SelectVyrFiles();
  // Adds record files with the checks of a drop: a name that is not a record file's stops
  // the adding with a message; a file already listed is left out; a file whose name is
  // listed for another file is left out with a message (their outputs would overwrite
  // each other). The first row is selected afterwards. APaths are file-system bytes.
  void AddRecordFiles(const std::vector<std::string>& APaths);
  // Files given on the command line or handed over by a second start: listed as by
  // AddRecordFiles once the window is shown, no run is active and no box is open; kept
  // in order until then.
  void HandOverFiles(const std::vector<std::string>& APaths);
  size_t PendingHandOverCount() const { return FHandedOver.size(); }
  void AddSelFileToList(const QString& AFullFileName);
  bool CheckFileHasInList(const QString& sFileName);
  void ChoseFirst();
  // Applies the language texts; runs at every show.
  void UpdateLanguage() override;
  void LoadStyle();

  // ---- queue -------------------------------------------------------------------------
  void StartConvertWork(bool ASpecifiedFileMode);
  void CalculatedPercentage(int nProgress, int nOverallProgress, int nBase);
  void SetCdsStatusStart(int AIndex);
  void SetCdsStatusEnd(int AIndex);
  void ResetFileListStatus();
  void SwitchConvertStatus(bool AIsWorking);
  // The output base name for a list row's file name: output folder + name without its
  // last four characters. An empty output folder is filled in first.
  std::string MakeOutputFileName(const QString& sVYRFileName);
  // The same for a file name in file-system bytes.
  std::string MakeOutputFileNameOf(const std::string& AFileName);
  // The registered window message: 101 query, 103 close, anything else logged only.
  void WndProc(const TWindowMessage& AMsg, QLocalSocket* AConnection);

  // Listens on "VyrMp4MsgProc" and "TFmVyrToMp4"; only the holder of the single-instance
  // lock may call it. False when either socket could not be had.
  bool StartMessageServers();
  // Ends a run at once: the timer stops, a running task is asked to stop (an MP4 stop; a
  // raw export is aborted) and waited for.
  void ShutdownTasks();

  // A conversion run is active (the queue timer is on).
  bool IsWorking() const;
  // The dialogs the window shows; tests replace them.
  void SetDialogs(TWindowDialogs ADialogs) { FDialogs = std::move(ADialogs); }
  TMsgResult ShowMessage(const QString& AText, const QString& ATitle, TMsgIcon AIcon,
                         TMsgButtons AButtons);
  // The text of a language key.
  static QString Lang(const char* AKey);
  int OutFormatIndex() const;
  void SetOutFormatIndex(int AIndex);
  int TimerTag() const { return FTimerTag; }
  int SelOutDirTag() const { return FSelOutDirTag; }
  QMenu* GridPopupMenu() const { return FGridPopupMenu; }
  int FailedCount() const { return FFailedCount; }
  const QStringList& FailedNames() const { return FFailedNames; }
  TFolderOpener* FolderOpener() const { return FOpener; }
  // The window's font: Tahoma 8 points where installed, else the desktop's sans at 8.
  static QFont DefaultWindowFont();

  // ---- controls, named as their objectName() ------------------------------------------
  QFrame* pnlMain = nullptr;
  QGroupBox* grpWorkArea = nullptr;
  TFileListView* dbgVyrSourceFile = nullptr;
  QGroupBox* grpOptions = nullptr;
  QLabel* lblSetOutDir = nullptr;
  QLineEdit* txtSavePath = nullptr;
  QToolButton* btnSelOutDir = nullptr;
  QGroupBox* rgOutFormat = nullptr;
  TLinkLabel* lblOpenOutDir = nullptr;
  QPushButton* btnConvert = nullptr;
  QMenu* popVyr = nullptr;
  QAction* mniSelFiles = nullptr;
  QAction* mniDelSelFile = nullptr;
  QAction* mniDelAllFile = nullptr;
  QAction* mniConvertSelFile = nullptr;
  TFileListModel* cdsConvert = nullptr;
  QTimer* tmrUpdateTask = nullptr;

  // ---- fields ------------------------------------------------------------------------
  uint32_t FMp4MsgHndl = 0;
  int32_t FCurrentRowNo = 0;
  bool FIsWorking = false;
  bool FRawAudioFileOut = true;
  std::atomic<int> FCurTaskProgress{-1};
  std::atomic<bool> FTerminated{false};
  bool FSpecifiedFileMode = false;
  int32_t FSpecifiedFileIndex = 0;

 signals:
  // The activation request of a second start was carried out.
  void Activated();

 protected:
  void showEvent(QShowEvent* AEvent) override;
  void closeEvent(QCloseEvent* AEvent) override;
  void dragEnterEvent(QDragEnterEvent* AEvent) override;
  void dropEvent(QDropEvent* AEvent) override;
  bool eventFilter(QObject* AWatched, QEvent* AEvent) override;

 private:
  enum class TAddResult { Added, Listed, NameClash };

  void CreateControls();
  void SetTabOrder();
  void ActivateFromSecondStart();
  TAddResult AddRecordFile(const std::string& APath);
  void ProcessHandedOverFiles();
  void ScheduleHandedOverFiles();
  // The rows a run converts: every row, or the selected ones, in list order.
  std::vector<int> RowsToConvert(bool ASpecifiedFileMode) const;
  // Makes the output folder and asks about outputs that exist; false when the run may not
  // start. ASkip receives the rows whose outputs the user chose to keep, each with the name
  // of its existing output (a stopped run's part under the final name is not kept).
  bool PrepareRun(const std::vector<int>& ARows, std::vector<std::pair<int, std::string>>& ASkip);
  // Joins the finished task and marks its row with what its conversion came to.
  void FinishTask();
  // The end-of-run message: the language text and the files that failed.
  QString RunEndText() const;
  // The output folder's text, filled in with the fallback when empty.
  QString OutputFolderText();
  std::string StoredOutputFolder() const;
  // Stores the output folder where it is remembered: "SysParams.ini" when it exists, else
  // the program's own settings file. A refused write is shown.
  void StoreOutputFolder(const std::string& AFolder, bool AOnlyInSysParams);
  void StoreOutputFormat(int AIndex);
  void ShowOpenFolderFailed(const std::string& APath);
  // A list of names for a message: at most ten, then "and N more".
  static QString NameList(const QStringList& ANames);
  // The output folder shown when none is stored or found: the user's "VyrRecord" folder.
  static QString FallbackOutDir();

  TConversionBackend FBackend;
  TWindowDialogs FDialogs;
  TProgressDelegate* FProgressDelegate = nullptr;
  QRadioButton* FFormatItems[2] = {nullptr, nullptr};
  QButtonGroup* FFormatGroup = nullptr;
  QMenu* FGridPopupMenu = nullptr;  // popVyr while idle, none while working
  TWindowMessageServer* FMsgServer = nullptr;
  TActivationServer* FActivationServer = nullptr;
  int FTimerTag = -1;
  int FSelOutDirTag = 0;
  int FFailedCount = 0;
  QStringList FFailedNames;  // of the files that failed in this run, in list order
  int FSkippedCount = 0;
  std::vector<int> FSpecifiedRows;  // the rows of a run over the selected rows
  std::vector<std::string> FHandedOver;  // files waiting to be listed
  int FDialogDepth = 0;      // boxes and dialogs of the window now open
  bool FShown = false;       // FormShow has run
  bool FTaskRaw = false;     // the running task is a raw export
  TFolderOpener* FOpener = nullptr;
  bool FTaskRunning = false;  // a task thread was started and not yet finished
  bool FCloseOrdered = false;  // the close order 103 came: nothing may keep the window open
  bool FInShow = false;        // showEvent runs FormShow (which may show a box)
  std::atomic<bool> FAbortRaw{false};
  TConversionOutcome FTaskOutcome;  // written by the task thread, read after it is joined
  TQueueTaskThread FTaskThread;
};

// The program's main window, created by the program entry.
extern TFmVyrToMp4* FmVyrToMp4;
