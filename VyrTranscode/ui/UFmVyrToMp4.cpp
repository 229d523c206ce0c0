#include "ui/UFmVyrToMp4.h"

#include <QAction>
#include <QApplication>
#include <QButtonGroup>
#include <QCloseEvent>
#include <QCoreApplication>
#include <QDir>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFile>
#include <QFileInfo>
#include <QFontDatabase>
#include <QFrame>
#include <QGroupBox>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMimeData>
#include <QMouseEvent>
#include <QPushButton>
#include <QRadioButton>
#include <QTableView>
#include <QTimer>
#include <QToolButton>
#include <QUrl>
#include <algorithm>
#include <stdexcept>
#include <sys/stat.h>

#include "conversion/UOutputNames.h"
#include "support/UDmReadSysParamIni.h"
#include "support/uFunctionsLib.h"
#include "ui/UAppPictures.h"
#include "ui/UFileListModel.h"
#include "ui/UInstanceActivation.h"
#include "ui/UOpenExplorer.h"
#include "ui/UProgressDelegate.h"
#include "ui/UWindowMessageServer.h"
#include "ui/UWindowTexts.h"

TFmVyrToMp4* FmVyrToMp4 = nullptr;

namespace {

constexpr int TIMER_INTERVAL_MS = 200;

std::string ToStd(const QString& AText) { return AText.toStdString(); }

// Same text when the letters A to Z are taken without their case; every other character
// must match exactly.
bool SameTextAZ(const QString& A, const QString& B) {
  if (A.size() != B.size()) return false;
  for (qsizetype i = 0; i < A.size(); ++i) {
    char16_t a = A[i].unicode(), b = B[i].unicode();
    if (a >= u'a' && a <= u'z') a = static_cast<char16_t>(a - 32);
    if (b >= u'a' && b <= u'z') b = static_cast<char16_t>(b - 32);
    if (a != b) return false;
  }
  return true;
}

}  // namespace

// ---- creation ----------------------------------------------------------------------

TFmVyrToMp4::TFmVyrToMp4(TConversionBackend ABackend, QWidget* AParent)
    : QWidget(AParent), FBackend(std::move(ABackend)), FDialogs(DefaultWindowDialogs()) {
  setObjectName(QStringLiteral("FmVyrToMp4"));
  CreateControls();
  FormCreate();
}

TFmVyrToMp4::~TFmVyrToMp4() {
  ShutdownTasks();
  if (FmVyrToMp4 == this) FmVyrToMp4 = nullptr;
}

QFont TFmVyrToMp4::DefaultWindowFont() {
  QFont f;
  if (QFontDatabase::families().contains(QStringLiteral("Tahoma"), Qt::CaseInsensitive)) {
    f = QFont(QStringLiteral("Tahoma"));
  } else {
    f = QFontDatabase::systemFont(QFontDatabase::GeneralFont);
  }
  f.setPointSize(8);
  return f;
}

QString TFmVyrToMp4::FallbackOutDir() { return QString::fromStdString(DefaultOutputDir()); }

void TFmVyrToMp4::CreateControls() {
  // A fixed-size window with only a close button; a normal top-level window, so it keeps
  // its taskbar entry.
  setWindowFlags(Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                 Qt::WindowCloseButtonHint);
  setFixedSize(640, 626);
  setFont(DefaultWindowFont());
  setWindowTitle(QStringLiteral("Vyr转为Mp4"));
  setWindowIcon(MakeWindowIcon());

  pnlMain = new QFrame(this);
  pnlMain->setObjectName(QStringLiteral("pnlMain"));
  pnlMain->setGeometry(0, 0, 640, 626);

  grpWorkArea = new QGroupBox(QStringLiteral("VYR文件"), pnlMain);
  grpWorkArea->setObjectName(QStringLiteral("grpWorkArea"));
  grpWorkArea->setGeometry(1, 1, 638, 495);

  cdsConvert = new TFileListModel(this);
  cdsConvert->setObjectName(QStringLiteral("cdsConvert"));

  dbgVyrSourceFile = new QTableView(grpWorkArea);
  dbgVyrSourceFile->setObjectName(QStringLiteral("dbgVyrSourceFile"));
  dbgVyrSourceFile->setGeometry(2, 15, 634, 478);
  dbgVyrSourceFile->setModel(cdsConvert);
  dbgVyrSourceFile->setEditTriggers(QAbstractItemView::NoEditTriggers);
  dbgVyrSourceFile->setSelectionBehavior(QAbstractItemView::SelectRows);
  dbgVyrSourceFile->setSelectionMode(QAbstractItemView::ExtendedSelection);
  dbgVyrSourceFile->setShowGrid(true);
  dbgVyrSourceFile->setWordWrap(false);
  dbgVyrSourceFile->setTextElideMode(Qt::ElideMiddle);
  dbgVyrSourceFile->verticalHeader()->setVisible(true);  // the row indicator
  dbgVyrSourceFile->verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
  dbgVyrSourceFile->verticalHeader()->setDefaultSectionSize(20);
  dbgVyrSourceFile->verticalHeader()->setDefaultAlignment(Qt::AlignCenter);
  dbgVyrSourceFile->verticalHeader()->setMinimumWidth(28);
  dbgVyrSourceFile->horizontalHeader()->setSectionResizeMode(QHeaderView::Interactive);
  dbgVyrSourceFile->horizontalHeader()->setHighlightSections(false);
  dbgVyrSourceFile->horizontalHeader()->setStretchLastSection(false);
  {
    // The selection stays visible when the grid has no focus.
    QPalette pal = dbgVyrSourceFile->palette();
    pal.setColor(QPalette::Inactive, QPalette::Highlight, pal.color(QPalette::Active, QPalette::Highlight));
    pal.setColor(QPalette::Inactive, QPalette::HighlightedText,
                 pal.color(QPalette::Active, QPalette::HighlightedText));
    dbgVyrSourceFile->setPalette(pal);
  }
  FProgressDelegate = new TProgressDelegate(dbgVyrSourceFile);
  dbgVyrSourceFile->setItemDelegateForColumn(1, FProgressDelegate);
  // Column 0: the display width of 80 characters, within what the grid can show beside
  // the 100 pixels of the progress column.
  {
    const int digit = dbgVyrSourceFile->fontMetrics().horizontalAdvance(QLatin1Char('0'));
    const int room = 634 - 4 - 28 - 100;
    dbgVyrSourceFile->setColumnWidth(0, std::min(80 * digit, room));
    dbgVyrSourceFile->setColumnWidth(1, 100);
  }

  popVyr = new QMenu(this);
  popVyr->setObjectName(QStringLiteral("popVyr"));
  mniSelFiles = popVyr->addAction(QStringLiteral("打开文件"));
  mniSelFiles->setObjectName(QStringLiteral("mniSelFiles"));
  mniDelSelFile = popVyr->addAction(QStringLiteral("删除"));
  mniDelSelFile->setObjectName(QStringLiteral("mniDelSelFile"));
  mniDelAllFile = popVyr->addAction(QStringLiteral("删除全部"));
  mniDelAllFile->setObjectName(QStringLiteral("mniDelAllFile"));
  mniConvertSelFile = popVyr->addAction(QStringLiteral("转换"));
  mniConvertSelFile->setObjectName(QStringLiteral("mniConvertSelFile"));
  connect(mniSelFiles, &QAction::triggered, this, [this] { mniSelFilesClick(); });
  connect(mniDelSelFile, &QAction::triggered, this, [this] { mniDelSelFileClick(); });
  connect(mniDelAllFile, &QAction::triggered, this, [this] { mniDelAllFileClick(); });
  connect(mniConvertSelFile, &QAction::triggered, this, [this] { mniConvertSelFileClick(); });
  FGridPopupMenu = popVyr;
  dbgVyrSourceFile->setContextMenuPolicy(Qt::CustomContextMenu);
  connect(dbgVyrSourceFile, &QWidget::customContextMenuRequested, this, [this](const QPoint& APos) {
    if (FGridPopupMenu) FGridPopupMenu->popup(dbgVyrSourceFile->viewport()->mapToGlobal(APos));
  });

  grpOptions = new QGroupBox(QStringLiteral("MP4存放路径"), pnlMain);
  grpOptions->setObjectName(QStringLiteral("grpOptions"));
  grpOptions->setGeometry(1, 496, 638, 129);

  lblSetOutDir = new QLabel(QStringLiteral("转换后文件存放路径："), grpOptions);
  lblSetOutDir->setObjectName(QStringLiteral("lblSetOutDir"));
  // The two labels are as tall as the controls beside them, text centred, so that taller
  // glyphs (Chinese, larger desktop fonts) are not cut; the output-folder caption reaches
  // up to the path box so longer translations fit.
  lblSetOutDir->setGeometry(16, 28, 150, 21);
  lblSetOutDir->setAlignment(Qt::AlignLeft | Qt::AlignVCenter);

  txtSavePath = new QLineEdit(grpOptions);
  txtSavePath->setObjectName(QStringLiteral("txtSavePath"));
  txtSavePath->setGeometry(170, 28, 385, 21);
  txtSavePath->setReadOnly(true);

  btnSelOutDir = new QToolButton(grpOptions);
  btnSelOutDir->setObjectName(QStringLiteral("btnSelOutDir"));
  btnSelOutDir->setGeometry(571, 25, 26, 26);
  btnSelOutDir->setIcon(QIcon(MakeOpenFolderPixmap()));
  btnSelOutDir->setIconSize(QSize(20, 20));
  btnSelOutDir->setFocusPolicy(Qt::NoFocus);
  btnSelOutDir->setAutoRaise(false);
  connect(btnSelOutDir, &QToolButton::clicked, this, [this] { btnSelOutDirClick(); });

  rgOutFormat = new QGroupBox(QStringLiteral("格式"), grpOptions);
  rgOutFormat->setObjectName(QStringLiteral("rgOutFormat"));
  rgOutFormat->setGeometry(16, 65, 241, 42);
  FFormatGroup = new QButtonGroup(rgOutFormat);
  const QString items[2] = {QStringLiteral("MP4"), QStringLiteral("H264/H265/MJPG")};
  for (int i = 0; i < 2; ++i) {
    // Two columns, each half of the group's inner width.
    FFormatItems[i] = new QRadioButton(items[i], rgOutFormat);
    FFormatItems[i]->setObjectName(QStringLiteral("rgOutFormatItem%1").arg(i));
    FFormatItems[i]->setGeometry(8 + i * 116, 17, 112, 20);
    FFormatGroup->addButton(FFormatItems[i], i);
  }
  FFormatItems[0]->setChecked(true);

  lblOpenOutDir = new QLabel(QStringLiteral("打开保存目录"), grpOptions);
  lblOpenOutDir->setObjectName(QStringLiteral("lblOpenOutDir"));
  lblOpenOutDir->setGeometry(287, 79, 179, 25);
  lblOpenOutDir->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
  {
    QFont f = DefaultWindowFont();
    f.setUnderline(true);
    lblOpenOutDir->setFont(f);
  }
  lblOpenOutDir->setCursor(Qt::PointingHandCursor);
  lblOpenOutDir->installEventFilter(this);

  btnConvert = new QPushButton(QStringLiteral("开始转换"), grpOptions);
  btnConvert->setObjectName(QStringLiteral("btnConvert"));
  btnConvert->setGeometry(477, 79, 120, 25);
  connect(btnConvert, &QPushButton::clicked, this, [this] { btnConvertClick(); });

  tmrUpdateTask = new QTimer(this);
  tmrUpdateTask->setObjectName(QStringLiteral("tmrUpdateTask"));
  tmrUpdateTask->setInterval(TIMER_INTERVAL_MS);
  connect(tmrUpdateTask, &QTimer::timeout, this, [this] { tmrUpdateTaskTimer(); });
}

void TFmVyrToMp4::FormCreate() {
  // The registered message's number; the sockets themselves are opened by the program
  // entry once it holds the single-instance lock (StartMessageServers).
  FMp4MsgHndl = RegisterWindowMessageId(VYR_MP4_MSG_NAME);
  setAcceptDrops(true);
  FRawAudioFileOut = false;
  LoadStyle();
  setAcceptDrops(true);
}

bool TFmVyrToMp4::StartMessageServers() {
  if (!FMsgServer) {
    FMsgServer = new TWindowMessageServer(this);
    connect(FMsgServer, &TWindowMessageServer::MessageReceived, this,
            [this](const TWindowMessage& AMsg, QLocalSocket* AConn) { WndProc(AMsg, AConn); });
  }
  if (!FActivationServer) {
    FActivationServer = new TActivationServer(this);
    connect(FActivationServer, &TActivationServer::ActivationRequested, this,
            [this] { ActivateFromSecondStart(); });
  }
  bool ok = FMsgServer->IsListening() || FMsgServer->Listen(VYR_MP4_MSG_NAME);
  ok = FActivationServer->Listen() && ok;
  return ok;
}

void TFmVyrToMp4::ActivateFromSecondStart() {
  PrintDebugString("Activate main window for a second start");
  if (isMinimized()) setWindowState((windowState() & ~Qt::WindowMinimized) | Qt::WindowActive);
  show();
  raise();
  activateWindow();
  emit Activated();
}

void TFmVyrToMp4::LoadStyle() {
  QFile file(QString::fromStdString(GetInstallDir()) + QStringLiteral("Styles/Sky.qss"));
  if (!file.open(QIODevice::ReadOnly | QIODevice::Text)) return;  // the default look
  const QString sheet = QString::fromUtf8(file.readAll());
  if (sheet.trimmed().isEmpty()) return;
  if (auto* app = qobject_cast<QApplication*>(QCoreApplication::instance())) app->setStyleSheet(sheet);
}

// ---- showing -----------------------------------------------------------------------

void TFmVyrToMp4::showEvent(QShowEvent* AEvent) {
  QWidget::showEvent(AEvent);
  if (AEvent->spontaneous()) return;
  FInShow = true;
  FormShow();
  FInShow = false;
  // A close order that came while FormShow's box was open (or before the window was
  // shown) is carried out once showing is complete: a window closed in the middle of
  // being shown would be shown all the same, and the program would not end.
  if (FCloseOrdered) QTimer::singleShot(0, this, [this] { close(); });
}

void TFmVyrToMp4::FormShow() {
  // The list model exists from creation on (an empty list).
  // Errors of the settings file and of the disk list are shown here; the language texts are
  // applied in any case.
  try {
    std::string stored;
    if (DmReadSysParamIni) DmReadSysParamIni->GetRecordPath(stored);
    if (stored.empty()) {
      const std::string disk = GetIdeDisk();
      txtSavePath->setText(disk.empty() ? FallbackOutDir()
                                        : QString::fromStdString(disk) + QStringLiteral("VyrRecord/"));
      if (DmReadSysParamIni) DmReadSysParamIni->SetRecordPath(ToStd(txtSavePath->text().trimmed()));
    } else {
      txtSavePath->setText(QString::fromStdString(stored));
    }
  } catch (const std::exception& e) {
    ShowMessage(QString::fromUtf8(e.what()), QCoreApplication::applicationName(), TMsgIcon::Error,
                TMsgButtons::Ok);
  }
  const QString dir = txtSavePath->text().trimmed();
  if (!dir.isEmpty() && !QFileInfo(dir).isDir()) {
    ::mkdir(dir.toLocal8Bit().constData(), 0777);  // one level; a missing parent leaves it
  }
  UpdateLanguage();
}

void TFmVyrToMp4::UpdateLanguage() {
  setWindowTitle(Lang("sTitleVYRToMP4"));
  grpWorkArea->setTitle(Lang("sVYRFile"));
  grpOptions->setTitle(Lang("sMP4SavePathSet"));
  btnConvert->setText(Lang(IsWorking() ? "sStop" : "sBtnConvert"));
  lblOpenOutDir->setText(Lang("sOpenSaveDirectory"));
  lblSetOutDir->setText(Lang("sConvertFileSavePath"));
  cdsConvert->SetColumnTitle(0, Lang("sFileName"));
  cdsConvert->SetColumnTitle(1, Lang("sProgress"));
  mniSelFiles->setText(Lang("sOpenFile"));
  mniDelSelFile->setText(Lang("sDelSelect"));
  mniDelAllFile->setText(Lang("sDelAll"));
  mniConvertSelFile->setText(Lang("sConvertSelect"));
  rgOutFormat->setTitle(Lang("sFormat"));
  cdsConvert->SetFailedText(Lang("sConvertFailed"));
}

QString TFmVyrToMp4::Lang(const char* AKey) { return GetLangText(AKey); }

// ---- closing -----------------------------------------------------------------------

bool TFmVyrToMp4::FormClose() {
  if (!IsWorking()) return true;
  return ShowMessage(Lang("sConfirmCancelAll"), QString(), TMsgIcon::Question, TMsgButtons::YesNo) ==
         TMsgResult::Yes;
}

void TFmVyrToMp4::closeEvent(QCloseEvent* AEvent) {
  // A close order that came while the question was open has closed the question: the
  // window closes whatever the answer was.
  if (!FormClose() && !FCloseOrdered) {
    AEvent->ignore();
    return;
  }
  tmrUpdateTask->stop();
  // The program ends with the window: a conversion still running is stopped (its MP4 closed
  // properly), a raw export aborted, and the task thread joined before anything goes.
  ShutdownTasks();
  AEvent->accept();
}

void TFmVyrToMp4::ShutdownTasks() {
  tmrUpdateTask->stop();
  FTerminated.store(true);
  FAbortRaw.store(true);
  FTaskThread.Join();
  FTaskRunning = false;
}

// ---- message boxes and dialogs -------------------------------------------------------

TMsgResult TFmVyrToMp4::ShowMessage(const QString& AText, const QString& ATitle, TMsgIcon AIcon,
                                    TMsgButtons AButtons) {
  TMessageBoxRequest req;
  req.Text = AText;
  req.Title = ATitle;
  req.Icon = AIcon;
  req.Buttons = AButtons;
  if (!FDialogs.MessageBox) return AButtons == TMsgButtons::YesNo ? TMsgResult::No : TMsgResult::Ok;
  return FDialogs.MessageBox(this, req);
}

// ---- output folder -----------------------------------------------------------------

void TFmVyrToMp4::btnSelOutDirClick() {
  if (FSelOutDirTag == 1) return;  // busy while the queue works
  QString start = txtSavePath->text().trimmed();
  if (start.isEmpty() || !QFileInfo(start).isDir()) start = QString::fromStdString(GetHomeDir());
  if (!FDialogs.SelectFolder) return;
  const QString chosen = FDialogs.SelectFolder(this, QStringLiteral("选择目录"), start);
  if (chosen.isEmpty()) return;
  txtSavePath->setText(chosen + QLatin1Char('/'));
  try {
    if (DmReadSysParamIni) DmReadSysParamIni->SetRecordPath(ToStd(txtSavePath->text().trimmed()));
  } catch (const std::exception& e) {
    ShowMessage(QString::fromUtf8(e.what()), QCoreApplication::applicationName(), TMsgIcon::Error,
                TMsgButtons::Ok);
  }
}

void TFmVyrToMp4::lblOpenOutDirClick() { OpenWindowsExplorer(ToStd(txtSavePath->text())); }

bool TFmVyrToMp4::eventFilter(QObject* AWatched, QEvent* AEvent) {
  if (AWatched == lblOpenOutDir && AEvent->type() == QEvent::MouseButtonRelease) {
    auto* me = static_cast<QMouseEvent*>(AEvent);
    if (me->button() == Qt::LeftButton && lblOpenOutDir->rect().contains(me->position().toPoint())) {
      lblOpenOutDirClick();
      return true;
    }
  }
  return QWidget::eventFilter(AWatched, AEvent);
}

int TFmVyrToMp4::OutFormatIndex() const { return FFormatGroup->checkedId(); }

void TFmVyrToMp4::SetOutFormatIndex(int AIndex) {
  if (AIndex >= 0 && AIndex < 2) FFormatItems[AIndex]->setChecked(true);
}

// ---- the file list -----------------------------------------------------------------

void TFmVyrToMp4::mniSelFilesClick() { SelectVyrFiles(); }

void TFmVyrToMp4::SelectVyrFiles() {
  if (!FDialogs.OpenFiles) return;
  const QStringList files = FDialogs.OpenFiles(this, QStringLiteral("VYR(*.VYR)"));
  if (files.isEmpty()) return;
  for (const QString& f : files) {
    if (!CheckIsVyr(ToStd(f))) {
      ShowMessage(Lang("sPlayFormatError"), QCoreApplication::applicationName(), TMsgIcon::None,
                  TMsgButtons::Ok);
      return;
    }
    AddSelFileToList(f);
  }
  ChoseFirst();
}

void TFmVyrToMp4::dragEnterEvent(QDragEnterEvent* AEvent) {
  if (AEvent->mimeData()->hasUrls() && !IsWorking()) AEvent->acceptProposedAction();
}

void TFmVyrToMp4::dropEvent(QDropEvent* AEvent) {
  QStringList names;
  for (const QUrl& u : AEvent->mimeData()->urls()) names << u.toLocalFile();
  AEvent->acceptProposedAction();
  DropFiles(names);
}

void TFmVyrToMp4::DropFiles(const QStringList& ANames) {
  if (IsWorking()) return;
  for (const QString& name : ANames) {
    if (name.isEmpty()) continue;
    if (!CheckIsVyr(ToStd(name))) {
      ShowMessage(Lang("sPlayFormatError"), QCoreApplication::applicationName(), TMsgIcon::None,
                  TMsgButtons::Ok);
      return;
    }
    AddSelFileToList(name);
  }
  ChoseFirst();
}

void TFmVyrToMp4::AddSelFileToList(const QString& AFullFileName) {
  const QString name = QString::fromStdString(GetVYRFileShortName(ToStd(AFullFileName)));
  if (CheckFileHasInList(name)) return;
  cdsConvert->Append(name, AFullFileName);
}

bool TFmVyrToMp4::CheckFileHasInList(const QString& sFileName) {
  for (cdsConvert->First(); !cdsConvert->Eof(); cdsConvert->Next()) {
    if (SameTextAZ(cdsConvert->Row(cdsConvert->RecNo())->FileName, sFileName)) return true;
  }
  return false;
}

void TFmVyrToMp4::ChoseFirst() {
  cdsConvert->First();
  if (cdsConvert->RecordCount() == 0) return;
  dbgVyrSourceFile->selectionModel()->select(cdsConvert->index(0, 0),
                                             QItemSelectionModel::Select | QItemSelectionModel::Rows);
}

void TFmVyrToMp4::mniDelSelFileClick() {
  std::vector<int> rows;
  for (const QModelIndex& i : dbgVyrSourceFile->selectionModel()->selectedRows()) rows.push_back(i.row());
  if (rows.empty()) return;
  cdsConvert->DeleteRows(rows);
}

void TFmVyrToMp4::mniDelAllFileClick() { cdsConvert->EmptyDataSet(); }

void TFmVyrToMp4::mniConvertSelFileClick() { StartConvertWork(true); }

// ---- the queue ---------------------------------------------------------------------

bool TFmVyrToMp4::IsWorking() const { return tmrUpdateTask->isActive(); }

void TFmVyrToMp4::btnConvertClick() {
  if (IsWorking()) {
    FTerminated.store(true);
    return;
  }
  if (cdsConvert->RecordCount() > 0) {
    StartConvertWork(false);
  } else {
    ShowMessage(Lang("sSelectVYRFileError"), QCoreApplication::applicationName(), TMsgIcon::None,
                TMsgButtons::Ok);
  }
}

void TFmVyrToMp4::StartConvertWork(bool ASpecifiedFileMode) {
  SwitchConvertStatus(true);
  if (!ASpecifiedFileMode) ResetFileListStatus();
  FTimerTag = -1;
  FCurTaskProgress.store(-1);
  FTerminated.store(false);
  FAbortRaw.store(false);
  FSpecifiedFileMode = ASpecifiedFileMode;
  FSpecifiedFileIndex = 0;
  FFailedCount = 0;
  tmrUpdateTask->start();
}

void TFmVyrToMp4::FinishTask() {
  if (!FTaskRunning) return;
  // The body has set 101; it only closes the record file before it returns.
  FTaskThread.Join();
  FTaskRunning = false;
  if (!FTaskOutcome.Succeeded()) {
    cdsConvert->SetFailed(FCurrentRowNo, true);
    ++FFailedCount;
  }
}

void TFmVyrToMp4::tmrUpdateTaskTimer() {
  const int P = FCurTaskProgress.load();
  const int T = FTimerTag;

  // 1. A stop was asked for: end the run once the current task has ended (or when none
  //    was started); otherwise look again at the next tick.
  if (FTerminated.load()) {
    if (P > 100 || T < 0) {
      if (P > 100) FinishTask();
      SetCdsStatusEnd(FCurrentRowNo);
      tmrUpdateTask->stop();
      SwitchConvertStatus(false);
    }
    return;
  }

  if (T >= 0) {
    // 2. A task has been started in this run.
    if (P == T) return;
    if (P >= 0 && P <= 100) {
      CalculatedPercentage(P, 100, 100);
      FTimerTag = P;
      return;
    }
    // The task has ended.
    FinishTask();
    CalculatedPercentage(100, 100, 100);
    SetCdsStatusEnd(FCurrentRowNo);
    if (!FSpecifiedFileMode) {
      cdsConvert->MoveTo(FCurrentRowNo);
      cdsConvert->Next();
    }
  } else if (!FSpecifiedFileMode) {
    // 3. No task started yet.
    cdsConvert->First();
  }

  // 4. The next file.
  std::string srcPath, outBase;
  if (FSpecifiedFileMode) {
    QModelIndexList sel = dbgVyrSourceFile->selectionModel()->selectedRows();
    std::sort(sel.begin(), sel.end(),
              [](const QModelIndex& A, const QModelIndex& B) { return A.row() < B.row(); });
    if (FSpecifiedFileIndex < sel.size()) {
      const int recNo = sel[FSpecifiedFileIndex].row() + 1;
      cdsConvert->MoveTo(recNo);
      const TFileListRow* row = cdsConvert->Row(recNo);
      outBase = MakeOutputFileName(row->FileName);
      srcPath = ToStd(row->FilePath);
      FCurrentRowNo = recNo;
      ++FSpecifiedFileIndex;
    }
  } else if (!cdsConvert->Eof()) {
    const TFileListRow* row = cdsConvert->Row(cdsConvert->RecNo());
    FCurrentRowNo = cdsConvert->RecNo();
    outBase = MakeOutputFileName(row->FileName);
    srcPath = ToStd(row->FilePath);
  }

  // 5. Start it.
  if (!outBase.empty() && !srcPath.empty()) {
    SetCdsStatusStart(FCurrentRowNo);
    CalculatedPercentage(0, 100, 100);
    FTimerTag = 0;
    FCurTaskProgress.store(0);
    FTaskOutcome = TConversionOutcome();
    FTaskRunning = true;
    if (OutFormatIndex() == 0) {
      FTaskThread.Start(
          [this, srcPath, outBase] {
            if (FBackend.RecordToMp4) {
              FBackend.RecordToMp4(srcPath, outBase, FCurTaskProgress, FTerminated, &FTaskOutcome);
            }
            FCurTaskProgress.store(101);
          },
          FCurTaskProgress);
    } else {
      FTaskThread.Start(
          [this, srcPath, outBase] {
            if (FBackend.RecordToRaw) {
              FBackend.RecordToRaw(srcPath, outBase, FCurTaskProgress, &FTaskOutcome, &FAbortRaw);
            }
            FCurTaskProgress.store(101);
          },
          FCurTaskProgress);
    }
    return;
  }

  // 6. The run is complete.
  tmrUpdateTask->stop();
  QString text = Lang("sConvertOver");
  if (FFailedCount > 0) {
    text += QStringLiteral("\n") + Lang("sConvertFailed") + QStringLiteral(": ") +
            QString::number(FFailedCount);
  }
  ShowMessage(text, QCoreApplication::applicationName(),
              FFailedCount > 0 ? TMsgIcon::Warning : TMsgIcon::None, TMsgButtons::Ok);
  SwitchConvertStatus(false);
}

std::string TFmVyrToMp4::MakeOutputFileName(const QString& sVYRFileName) {
  if (txtSavePath->text().isEmpty()) {
    txtSavePath->setText(FallbackOutDir());
    QDir().mkpath(txtSavePath->text());
  }
  return ::MakeOutputFileName(ToStd(txtSavePath->text()), ToStd(sVYRFileName));
}

void TFmVyrToMp4::CalculatedPercentage(int nProgress, int nOverallProgress, int nBase) {
  for (cdsConvert->First(); !cdsConvert->Eof(); cdsConvert->Next()) {
    const int recNo = cdsConvert->RecNo();
    if (cdsConvert->Row(recNo)->ConvertStatus == eCSing) {
      if (nOverallProgress == 0) return;
      cdsConvert->SetProgress(recNo, nBase * (nProgress * 100 / nOverallProgress) / 100);
      return;
    }
  }
}

void TFmVyrToMp4::SetCdsStatusStart(int AIndex) {
  if (cdsConvert->MoveTo(AIndex)) cdsConvert->SetStatus(AIndex, eCSing);
}

void TFmVyrToMp4::SetCdsStatusEnd(int AIndex) {
  if (cdsConvert->MoveTo(AIndex)) cdsConvert->SetStatus(AIndex, eCSOver);
}

void TFmVyrToMp4::ResetFileListStatus() {
  const int recNo = cdsConvert->RecNo();
  cdsConvert->ResetAll();
  cdsConvert->MoveTo(recNo);
}

void TFmVyrToMp4::SwitchConvertStatus(bool AIsWorking) {
  rgOutFormat->setEnabled(!AIsWorking);
  txtSavePath->setEnabled(!AIsWorking);
  FIsWorking = AIsWorking;
  if (AIsWorking) {
    FGridPopupMenu = nullptr;
    btnConvert->setText(Lang("sStop"));
    FSelOutDirTag = 1;
  } else {
    FGridPopupMenu = popVyr;
    btnConvert->setText(Lang("sBtnConvert"));
    FSelOutDirTag = 0;
  }
}

// ---- window message ----------------------------------------------------------------

void TFmVyrToMp4::WndProc(const TWindowMessage& AMsg, QLocalSocket* AConnection) {
  PrintDebugString("MP4 Maker receive msg, handle=" + std::to_string(FMp4MsgHndl) +
                   ", Value=" + std::to_string(AMsg.WParam));
  if (AMsg.WParam == VYR_MSG_QUERY) {
    if (IsWorking()) TWindowMessageServer::Reply(AConnection, TWindowMessage{VYR_MSG_BUSY, 0});
  } else if (AMsg.WParam == VYR_MSG_CLOSE) {
    tmrUpdateTask->stop();
    FCloseOrdered = true;
    // Closed from the event loop, not from inside the socket's signal. A box the window
    // shows (an error at start-up, say) would hold the order up: it is closed first.
    QTimer::singleShot(0, this, [this] {
      if (FDialogs.CloseAll) FDialogs.CloseAll();
      if (!FInShow) close();  // else showEvent closes the window once it is shown
    });
  }
}
