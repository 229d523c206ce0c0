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
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMimeData>
#include <QPushButton>
#include <QRadioButton>
#include <QTableView>
#include <QTimer>
#include <QToolButton>
#include <QUrl>
#include <algorithm>
#include <stdexcept>
#include <sys/stat.h>

#include "conversion/UMp4ConversionState.h"
#include "conversion/UOutputNames.h"
#include "support/UDmReadSysParamIni.h"
#include "support/UPathParts.h"
#include "support/UText.h"
#include "support/uFunctionsLib.h"
#include "ui/UAppPictures.h"
#include "ui/UFileListModel.h"
#include "ui/UInstanceActivation.h"
#include "ui/UOpenExplorer.h"
#include "ui/UOutcomeReasons.h"
#include "ui/UOutputPlan.h"
#include "ui/UProgramSettings.h"
#include "ui/UProgressDelegate.h"
#include "ui/UWindowMessageServer.h"
#include "ui/UWindowTexts.h"

TFmVyrToMp4* FmVyrToMp4 = nullptr;

namespace {

constexpr int TIMER_INTERVAL_MS = 200;
// The largest style sheet the window reads.
constexpr qint64 StyleSheetLimit = 1024 * 1024;

std::string ToStd(const QString& AText) { return AText.toStdString(); }

// Counts the dialogs of the window that are open while it lives.
class TDialogScope {
 public:
  explicit TDialogScope(int& ADepth) : FDepth(ADepth) { ++FDepth; }
  ~TDialogScope() { --FDepth; }
  TDialogScope(const TDialogScope&) = delete;
  TDialogScope& operator=(const TDialogScope&) = delete;

 private:
  int& FDepth;
};

// At most this many names in a message; the rest are counted.
constexpr int MessageNameLimit = 10;

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

  dbgVyrSourceFile = new TFileListView(grpWorkArea);
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
  // The menu by a right click, the Menu key or Shift+F10; Delete removes the selected rows.
  // Neither while a run is active (the menu is detached then).
  connect(dbgVyrSourceFile, &TFileListView::ContextMenuWanted, this, [this](const QPoint& AGlobalPos) {
    if (FGridPopupMenu && !FGridPopupMenu->isVisible()) FGridPopupMenu->popup(AGlobalPos);
  });
  connect(dbgVyrSourceFile, &TFileListView::DeleteWanted, this, [this] {
    if (!IsWorking()) mniDelSelFileClick();
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
  // In the Tab chain like every other control, so the keyboard reaches it.
  btnSelOutDir->setFocusPolicy(Qt::StrongFocus);
  btnSelOutDir->setAutoRaise(false);
  btnSelOutDir->installEventFilter(this);
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
    FFormatItems[i]->installEventFilter(this);
  }
  FFormatItems[0]->setChecked(true);
  // A format the user picks is remembered.
  connect(FFormatGroup, &QButtonGroup::idClicked, this, [this](int AId) { StoreOutputFormat(AId); });

  lblOpenOutDir = new TLinkLabel(QStringLiteral("打开保存目录"), grpOptions);
  lblOpenOutDir->setObjectName(QStringLiteral("lblOpenOutDir"));
  lblOpenOutDir->setGeometry(287, 79, 179, 25);
  lblOpenOutDir->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
  {
    QFont f = DefaultWindowFont();
    f.setUnderline(true);
    lblOpenOutDir->setFont(f);
  }
  connect(lblOpenOutDir, &TLinkLabel::Activated, this, [this] { lblOpenOutDirClick(); });

  btnConvert = new QPushButton(QStringLiteral("开始转换"), grpOptions);
  btnConvert->setObjectName(QStringLiteral("btnConvert"));
  btnConvert->setGeometry(477, 79, 120, 25);
  btnConvert->installEventFilter(this);
  connect(btnConvert, &QPushButton::clicked, this, [this] { btnConvertClick(); });

  tmrUpdateTask = new QTimer(this);
  tmrUpdateTask->setObjectName(QStringLiteral("tmrUpdateTask"));
  tmrUpdateTask->setInterval(TIMER_INTERVAL_MS);
  connect(tmrUpdateTask, &QTimer::timeout, this, [this] { tmrUpdateTaskTimer(); });

  FOpener = new TFolderOpener(this);
  connect(FOpener, &TFolderOpener::Failed, this, [this](const std::string& APath) { ShowOpenFolderFailed(APath); });

  SetTabOrder();
}

void TFmVyrToMp4::SetTabOrder() {
  // Layout order: the list, the output folder and its button, the format, the link to the
  // folder, the convert button.
  QWidget::setTabOrder(dbgVyrSourceFile, txtSavePath);
  QWidget::setTabOrder(txtSavePath, btnSelOutDir);
  QWidget::setTabOrder(btnSelOutDir, FFormatItems[0]);
  QWidget::setTabOrder(FFormatItems[0], FFormatItems[1]);
  QWidget::setTabOrder(FFormatItems[1], lblOpenOutDir);
  QWidget::setTabOrder(lblOpenOutDir, btnConvert);
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
    connect(FActivationServer, &TActivationServer::HandOverReceived, this,
            [this](const std::vector<std::string>& ANames) {
              ActivateFromSecondStart();
              if (!ANames.empty()) {
                PrintDebugString("A second start handed over " + std::to_string(ANames.size()) + " file(s)");
                HandOverFiles(ANames);
              }
            });
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
  // Beside the program, or in the installed data folder. Only a regular file is read, and
  // at most StyleSheetLimit bytes of it; anything else keeps the default look.
  const QString name = QString::fromStdString(GetDataDir("Styles")) + QStringLiteral("Styles/Sky.qss");
  const QFileInfo info(name);
  if (!info.isFile() || info.size() > StyleSheetLimit) return;
  QFile file(name);
  if (!file.open(QIODevice::ReadOnly | QIODevice::Text)) return;
  const QString sheet = QString::fromUtf8(file.read(StyleSheetLimit));
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

std::string TFmVyrToMp4::StoredOutputFolder() const {
  std::string stored;
  if (DmReadSysParamIni && DmReadSysParamIni->IsOpen()) {
    DmReadSysParamIni->GetRecordPath(stored);
  } else {
    stored = TProgramSettings().OutputFolder();
  }
  return stored;
}

void TFmVyrToMp4::StoreOutputFolder(const std::string& AFolder, bool AOnlyInSysParams) {
  try {
    if (DmReadSysParamIni && DmReadSysParamIni->IsOpen()) {
      DmReadSysParamIni->SetRecordPath(AFolder);
    } else if (!AOnlyInSysParams) {
      // Without the companion's settings file the program remembers the folder itself,
      // and never creates that file or its folder.
      TProgramSettings().SetOutputFolder(AFolder);
    }
  } catch (const std::exception& e) {
    ShowMessage(QString::fromUtf8(e.what()), windowTitle(), TMsgIcon::Error, TMsgButtons::Ok);
  }
}

void TFmVyrToMp4::StoreOutputFormat(int AIndex) {
  try {
    TProgramSettings().SetOutputFormat(AIndex);
  } catch (const std::exception& e) {
    ShowMessage(QString::fromUtf8(e.what()), windowTitle(), TMsgIcon::Error, TMsgButtons::Ok);
  }
}

void TFmVyrToMp4::FormShow() {
  // The list model exists from creation on (an empty list).
  // Errors of the settings file and of the disk list are shown here; the language texts are
  // applied in any case.
  try {
    const std::string stored = StoredOutputFolder();
    if (stored.empty()) {
      const std::string disk = GetIdeDisk();
      txtSavePath->setText(disk.empty() ? FallbackOutDir()
                                        : QString::fromStdString(disk) + QStringLiteral("VyrRecord/"));
      // A proposed folder is stored in the companion's file as before; the program's own
      // file keeps only what the user chose.
      StoreOutputFolder(ToStd(txtSavePath->text().trimmed()), true);
    } else {
      txtSavePath->setText(QString::fromStdString(stored));
    }
  } catch (const std::exception& e) {
    ShowMessage(QString::fromUtf8(e.what()), windowTitle(), TMsgIcon::Error, TMsgButtons::Ok);
  }
  const QString dir = txtSavePath->text().trimmed();
  if (!dir.isEmpty() && !QFileInfo(dir).isDir()) {
    ::mkdir(dir.toLocal8Bit().constData(), 0777);  // one level; a missing parent leaves it
  }
  const int format = TProgramSettings().OutputFormat();
  if (format >= 0 && !IsWorking()) SetOutFormatIndex(format);
  UpdateLanguage();
  // The keyboard starts in the list (Delete, the arrows, the menu key work at once).
  if (!FShown) dbgVyrSourceFile->setFocus(Qt::OtherFocusReason);
  FShown = true;
  ScheduleHandedOverFiles();
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
  cdsConvert->SetMarkTexts(Lang("sConvertFailed"), Lang("sConvertStopped"), Lang("sConvertSkipped"));
  dbgVyrSourceFile->SetEmptyHint(FormatText(Lang("sEmptyListHint"), {Lang("sOpenFile")}));
}

QString TFmVyrToMp4::Lang(const char* AKey) { return GetLangText(AKey); }

// ---- closing -----------------------------------------------------------------------

bool TFmVyrToMp4::FormClose() {
  if (!IsWorking()) return true;
  return ShowMessage(Lang("sConfirmCancelAll"), windowTitle(), TMsgIcon::Question, TMsgButtons::YesNo) ==
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
  if (!FHandedOver.empty())
    PrintDebugString("The window closed with " + std::to_string(FHandedOver.size()) + " handed-over file(s) not listed");
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
  if (AButtons == TMsgButtons::ReplaceSkipCancel) req.ChoiceTexts = {Lang("sReplace"), Lang("sSkipExisting")};
  TMsgResult result;
  if (!FDialogs.MessageBox) {
    result = AButtons == TMsgButtons::YesNo               ? TMsgResult::No
             : AButtons == TMsgButtons::ReplaceSkipCancel ? TMsgResult::Cancel
                                                          : TMsgResult::Ok;
  } else {
    TDialogScope scope(FDialogDepth);
    result = FDialogs.MessageBox(this, req);
  }
  // Files handed over while the box was open wait for it.
  ScheduleHandedOverFiles();
  return result;
}

QString TFmVyrToMp4::NameList(const QStringList& ANames) {
  QStringList shown = ANames.mid(0, MessageNameLimit);
  QString text = shown.join(QLatin1Char('\n'));
  if (ANames.size() > MessageNameLimit)
    text += QLatin1Char('\n') + FormatText(Lang("sAndMore"), {QString::number(ANames.size() - MessageNameLimit)});
  return text;
}

// ---- output folder -----------------------------------------------------------------

void TFmVyrToMp4::btnSelOutDirClick() {
  if (FSelOutDirTag == 1) return;  // busy while the queue works
  QString start = txtSavePath->text().trimmed();
  if (start.isEmpty() || !QFileInfo(start).isDir()) start = QString::fromStdString(GetHomeDir());
  if (!FDialogs.SelectFolder) return;
  QString chosen;
  {
    TDialogScope scope(FDialogDepth);
    chosen = FDialogs.SelectFolder(this, QStringLiteral("选择目录"), start);
  }
  ScheduleHandedOverFiles();
  if (chosen.isEmpty()) return;
  txtSavePath->setText(chosen + QLatin1Char('/'));
  StoreOutputFolder(ToStd(txtSavePath->text().trimmed()), false);
}

void TFmVyrToMp4::lblOpenOutDirClick() {
  // A missing output folder is made first, as at show and at Convert; the folder the
  // outputs go to is opened.
  const std::string folder = FolderPart(MakeOutputFileNameOf("x.vyr"));
  std::string error;
  MakeOutputFolder(folder, error);
  FOpener->Open(folder);
}

void TFmVyrToMp4::ShowOpenFolderFailed(const std::string& APath) {
  ShowMessage(FormatText(Lang("sOpenFolderFailed"), {ShownName(APath)}), windowTitle(), TMsgIcon::Warning,
              TMsgButtons::Ok);
}

bool TFmVyrToMp4::eventFilter(QObject* AWatched, QEvent* AEvent) {
  // Enter and Return press the focused button, as Space does.
  if (AEvent->type() == QEvent::KeyPress) {
    auto* ke = static_cast<QKeyEvent*>(AEvent);
    const bool enter = ke->key() == Qt::Key_Return || ke->key() == Qt::Key_Enter;
    auto* button = qobject_cast<QAbstractButton*>(AWatched);
    if (enter && button && (ke->modifiers() & ~Qt::KeypadModifier) == Qt::NoModifier) {
      if (!ke->isAutoRepeat() && button->isEnabled()) button->click();
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
  QStringList files;
  {
    TDialogScope scope(FDialogDepth);
    files = FDialogs.OpenFiles(this, QStringLiteral("VYR(*.VYR)"));
  }
  if (files.isEmpty()) {
    ScheduleHandedOverFiles();
    return;
  }
  std::vector<std::string> paths;
  for (const QString& f : files) paths.push_back(QFile::encodeName(f).toStdString());
  AddRecordFiles(paths);
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
  std::vector<std::string> paths;
  for (const QString& name : ANames) paths.push_back(QFile::encodeName(name).toStdString());
  AddRecordFiles(paths);
}

void TFmVyrToMp4::AddRecordFiles(const std::vector<std::string>& APaths) {
  QStringList clashes;
  auto reportClashes = [this, &clashes] {
    if (clashes.isEmpty()) return;
    ShowMessage(Lang("sSameNameNotAdded") + QLatin1Char('\n') + NameList(clashes), windowTitle(),
                TMsgIcon::Information, TMsgButtons::Ok);
  };
  for (const std::string& path : APaths) {
    if (path.empty()) continue;
    if (!CheckIsVyr(path)) {
      reportClashes();
      ShowMessage(Lang("sPlayFormatError"), windowTitle(), TMsgIcon::None, TMsgButtons::Ok);
      return;
    }
    if (AddRecordFile(path) == TAddResult::NameClash) clashes << ShownName(path);
  }
  ChoseFirst();
  reportClashes();
}

void TFmVyrToMp4::HandOverFiles(const std::vector<std::string>& APaths) {
  FHandedOver.insert(FHandedOver.end(), APaths.begin(), APaths.end());
  ScheduleHandedOverFiles();
}

void TFmVyrToMp4::ScheduleHandedOverFiles() {
  if (FHandedOver.empty()) return;
  QTimer::singleShot(0, this, [this] { ProcessHandedOverFiles(); });
}

void TFmVyrToMp4::ProcessHandedOverFiles() {
  // While a run is active, before the window is shown, or while one of its boxes is open,
  // the files wait; each of those ends by looking again.
  if (FHandedOver.empty() || IsWorking() || !FShown || FDialogDepth > 0 || FCloseOrdered) return;
  const std::vector<std::string> paths = std::move(FHandedOver);
  FHandedOver.clear();
  AddRecordFiles(paths);
}

TFmVyrToMp4::TAddResult TFmVyrToMp4::AddRecordFile(const std::string& APath) {
  const std::string shortName = GetVYRFileShortName(APath);
  // A name is listed at most once: the outputs are named after it. What is compared is the
  // output name the core makes of it, by the core's rule for clashing names, so names that
  // differ in case only, or give one output ("abcvyr", "abdvyr"), clash as well.
  const std::string key = ::MakeOutputFileName("/", shortName);
  for (int recNo = 1; recNo <= cdsConvert->RecordCount(); ++recNo) {
    const TFileListRow* row = cdsConvert->Row(recNo);
    if (!SameOutputName(row->OutputKey, key)) continue;
    return row->Path == APath ? TAddResult::Listed : TAddResult::NameClash;
  }
  cdsConvert->Append(ShownName(shortName), ShownName(APath), APath, key);
  PrintDebugString("Add file to list: " + APath);
  return TAddResult::Added;
}

void TFmVyrToMp4::AddSelFileToList(const QString& AFullFileName) {
  AddRecordFile(QFile::encodeName(AFullFileName).toStdString());
}

bool TFmVyrToMp4::CheckFileHasInList(const QString& sFileName) {
  // The letters A to Z without their case, every other character exactly: in UTF-8 that is
  // the bytes with ASCII letters folded.
  const std::string name = sFileName.toStdString();
  for (cdsConvert->First(); !cdsConvert->Eof(); cdsConvert->Next()) {
    if (SameTextAscii(cdsConvert->Row(cdsConvert->RecNo())->FileName.toStdString(), name)) return true;
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
    ShowMessage(Lang("sSelectVYRFileError"), windowTitle(), TMsgIcon::None, TMsgButtons::Ok);
  }
}

std::vector<int> TFmVyrToMp4::RowsToConvert(bool ASpecifiedFileMode) const {
  std::vector<int> rows;
  if (ASpecifiedFileMode) {
    for (const QModelIndex& i : dbgVyrSourceFile->selectionModel()->selectedRows()) rows.push_back(i.row() + 1);
    std::sort(rows.begin(), rows.end());
    rows.erase(std::unique(rows.begin(), rows.end()), rows.end());
  } else {
    for (int recNo = 1; recNo <= cdsConvert->RecordCount(); ++recNo) rows.push_back(recNo);
  }
  return rows;
}

QString TFmVyrToMp4::OutputFolderText() {
  if (txtSavePath->text().isEmpty()) txtSavePath->setText(FallbackOutDir());
  return txtSavePath->text();
}

bool TFmVyrToMp4::PrepareRun(const std::vector<int>& ARows, std::vector<std::pair<int, std::string>>& ASkip) {
  ASkip.clear();
  if (ARows.empty()) return true;
  // The folder the outputs go to, made when missing; when it cannot be, nothing starts.
  OutputFolderText();
  const std::string folder = FolderPart(MakeOutputFileNameOf("x.vyr"));
  std::string error;
  if (!MakeOutputFolder(folder, error)) {
    ShowMessage(FormatText(Lang("sOutDirCreateFailed"), {ShownName(folder), QString::fromStdString(error)}),
                windowTitle(), TMsgIcon::Error, TMsgButtons::Ok);
    return false;
  }
  // Outputs that exist already: the user chooses once for all of them.
  const bool mp4 = OutFormatIndex() == 0;
  std::vector<std::pair<int, std::string>> existing;
  QStringList names;
  for (int recNo : ARows) {
    const TFileListRow* row = cdsConvert->Row(recNo);
    if (!row) continue;
    std::string name;
    if (ExistingOutputFile(row->Path, MakeOutputFileNameOf(GetVYRFileShortName(row->Path)), mp4, name)) {
      names << ShownName(GetVYRFileShortName(name));
      existing.emplace_back(recNo, std::move(name));
    }
  }
  if (existing.empty()) return true;
  const QString question = FormatText(Lang("sOutputsExist"), {QString::number(existing.size())}) +
                           QLatin1Char('\n') + NameList(names);
  switch (ShowMessage(question, windowTitle(), TMsgIcon::Question, TMsgButtons::ReplaceSkipCancel)) {
    case TMsgResult::Replace:
      return true;
    case TMsgResult::Skip:
      // Existing outputs are kept, except the part of a recording that a stopped run left
      // under the final name (its MP4 says so): that recording is converted again.
      for (auto& e : existing)
        if (!mp4 || ReadMp4ConversionState(e.second) != TMp4ConversionState::Stopped) ASkip.push_back(std::move(e));
      return true;
    default:
      return false;
  }
}

void TFmVyrToMp4::StartConvertWork(bool ASpecifiedFileMode) {
  const std::vector<int> rows = RowsToConvert(ASpecifiedFileMode);
  std::vector<std::pair<int, std::string>> skip;
  if (!PrepareRun(rows, skip)) return;
  SwitchConvertStatus(true);
  if (!ASpecifiedFileMode) {
    ResetFileListStatus();
  } else {
    // The rows this run converts lose the marks of the previous one.
    for (int recNo : rows) cdsConvert->SetMark(recNo, TRowMark::None);
  }
  for (const auto& [recNo, name] : skip)
    cdsConvert->SetMark(recNo, TRowMark::Skipped, FormatText(Lang("sSkippedExists"), {ShownName(name)}));
  FTimerTag = -1;
  FCurTaskProgress.store(-1);
  FTerminated.store(false);
  FAbortRaw.store(false);
  FSpecifiedFileMode = ASpecifiedFileMode;
  FSpecifiedFileIndex = 0;
  // The rows of a run over the selection are taken now: a selection changed during the
  // run neither adds rows that were not asked about nor drops any.
  FSpecifiedRows = ASpecifiedFileMode ? rows : std::vector<int>();
  FFailedCount = 0;
  FFailedNames.clear();
  FSkippedCount = static_cast<int>(skip.size());
  tmrUpdateTask->start();
}

void TFmVyrToMp4::FinishTask() {
  if (!FTaskRunning) return;
  // The body has set 101; it only closes the record file before it returns.
  FTaskThread.Join();
  FTaskRunning = false;
  const TRowVerdict verdict = JudgeOutcome(FTaskOutcome, FTaskRaw);
  cdsConvert->SetMark(FCurrentRowNo, verdict.Mark, verdict.Tip);
  if (verdict.Mark == TRowMark::Failed) {
    ++FFailedCount;
    if (const TFileListRow* row = cdsConvert->Row(FCurrentRowNo)) FFailedNames << row->FileName;
  }
}

QString TFmVyrToMp4::RunEndText() const {
  QString text = Lang("sConvertOver");
  if (FFailedCount > 0) text += QStringLiteral("\n\n") + Lang("sConvertFailedFiles") + QLatin1Char('\n') + NameList(FFailedNames);
  if (FSkippedCount > 0) text += QStringLiteral("\n\n") + FormatText(Lang("sSkippedCount"), {QString::number(FSkippedCount)});
  return text;
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

  // 4. The next file; rows whose outputs the user chose to keep are passed over.
  auto skipped = [this](int ARecNo) {
    const TFileListRow* row = cdsConvert->Row(ARecNo);
    return row && row->ConvertMark == TRowMark::Skipped;
  };
  std::string srcPath, outBase;
  if (FSpecifiedFileMode) {
    while (FSpecifiedFileIndex < static_cast<int>(FSpecifiedRows.size()) && skipped(FSpecifiedRows[FSpecifiedFileIndex]))
      ++FSpecifiedFileIndex;
    if (FSpecifiedFileIndex < static_cast<int>(FSpecifiedRows.size())) {
      const int recNo = FSpecifiedRows[FSpecifiedFileIndex];
      if (const TFileListRow* row = cdsConvert->Row(recNo)) {
        cdsConvert->MoveTo(recNo);
        outBase = MakeOutputFileNameOf(GetVYRFileShortName(row->Path));
        srcPath = row->Path;
        FCurrentRowNo = recNo;
      }
      ++FSpecifiedFileIndex;
    }
  } else {
    while (!cdsConvert->Eof() && skipped(cdsConvert->RecNo())) cdsConvert->Next();
    if (!cdsConvert->Eof()) {
      const TFileListRow* row = cdsConvert->Row(cdsConvert->RecNo());
      FCurrentRowNo = cdsConvert->RecNo();
      outBase = MakeOutputFileNameOf(GetVYRFileShortName(row->Path));
      srcPath = row->Path;
    }
  }

  // 5. Start it.
  if (!outBase.empty() && !srcPath.empty()) {
    SetCdsStatusStart(FCurrentRowNo);
    CalculatedPercentage(0, 100, 100);
    FTimerTag = 0;
    FCurTaskProgress.store(0);
    FTaskOutcome = TConversionOutcome();
    FTaskRunning = true;
    FTaskRaw = OutFormatIndex() != 0;
    if (!FTaskRaw) {
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
  ShowMessage(RunEndText(), windowTitle(), FFailedCount > 0 ? TMsgIcon::Warning : TMsgIcon::None, TMsgButtons::Ok);
  SwitchConvertStatus(false);
}

std::string TFmVyrToMp4::MakeOutputFileName(const QString& sVYRFileName) {
  return MakeOutputFileNameOf(QFile::encodeName(sVYRFileName).toStdString());
}

std::string TFmVyrToMp4::MakeOutputFileNameOf(const std::string& AFileName) {
  if (txtSavePath->text().isEmpty()) {
    txtSavePath->setText(FallbackOutDir());
    QDir().mkpath(txtSavePath->text());
  }
  return ::MakeOutputFileName(QFile::encodeName(txtSavePath->text()).toStdString(), AFileName);
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
  // The folder button is inert while working, and looks it.
  btnSelOutDir->setEnabled(!AIsWorking);
  FIsWorking = AIsWorking;
  if (AIsWorking) {
    FGridPopupMenu = nullptr;
    btnConvert->setText(Lang("sStop"));
    FSelOutDirTag = 1;
  } else {
    FGridPopupMenu = popVyr;
    btnConvert->setText(Lang("sBtnConvert"));
    FSelOutDirTag = 0;
    // Files handed over during the run are listed now.
    ScheduleHandedOverFiles();
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
