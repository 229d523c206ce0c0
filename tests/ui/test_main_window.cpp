// The main window: layout, file list additions and removals, progress drawing, output
// folder, closing.
#include <QAbstractItemView>
#include <QGroupBox>
#include <QHeaderView>
#include <QImage>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPainter>
#include <QPushButton>
#include <QTableView>
#include <QTimer>
#include <QToolButton>
#include <QtTest>
#include <sys/stat.h>
#include <unistd.h>

#include "UiTestSupport.h"
#include "support/UDmReadSysParamIni.h"
#include "support/uFunctionsLib.h"
#include "ui/UFileListModel.h"
#include "ui/UFmVyrToMp4.h"
#include "ui/UProgressDelegate.h"

class TestMainWindow : public TWindowTest {
  Q_OBJECT

 private:
  QString Rec(const std::string& AName) { return QString::fromStdString(TWindowTest::Rec(AName)); }
  QStringList FileNames() {
    QStringList l;
    for (int i = 1; i <= W().cdsConvert->RecordCount(); ++i) l << W().cdsConvert->Row(i)->FileName;
    return l;
  }

 private slots:
  void init() {
    SetUp();
    MakeWindow(FTasks->Backend(), true);
  }
  void cleanup() {
    TearDown();
  }

  void layoutMatchesTheDesign_data() {
    QTest::addColumn<QString>("name");
    QTest::addColumn<QRect>("geometry");
    QTest::newRow("grpWorkArea") << "grpWorkArea" << QRect(1, 1, 638, 495);
    QTest::newRow("dbgVyrSourceFile") << "dbgVyrSourceFile" << QRect(2, 15, 634, 478);
    QTest::newRow("grpOptions") << "grpOptions" << QRect(1, 496, 638, 129);
    QTest::newRow("lblSetOutDir") << "lblSetOutDir" << QRect(16, 28, 150, 21);
    QTest::newRow("txtSavePath") << "txtSavePath" << QRect(170, 28, 385, 21);
    QTest::newRow("btnSelOutDir") << "btnSelOutDir" << QRect(571, 25, 26, 26);
    QTest::newRow("rgOutFormat") << "rgOutFormat" << QRect(16, 65, 241, 42);
    QTest::newRow("lblOpenOutDir") << "lblOpenOutDir" << QRect(287, 79, 179, 25);
    QTest::newRow("btnConvert") << "btnConvert" << QRect(477, 79, 120, 25);
  }
  void layoutMatchesTheDesign() {
    QFETCH(QString, name);
    QFETCH(QRect, geometry);
    auto* widget = W().findChild<QWidget*>(name);
    QVERIFY2(widget, qPrintable(name));
    QCOMPARE(widget->geometry(), geometry);
  }

  void windowSettings() {
    QCOMPARE(W().size(), QSize(640, 626));
    QCOMPARE(W().minimumSize(), W().maximumSize());
    QVERIFY(!(W().windowFlags() & Qt::WindowMaximizeButtonHint));
    QVERIFY(!(W().windowFlags() & Qt::WindowMinimizeButtonHint));
    QVERIFY(W().windowFlags() & Qt::WindowCloseButtonHint);
    QCOMPARE(W().windowTitle(), QStringLiteral("Vyr转为Mp4"));
    QCOMPARE(W().font().pointSize(), 8);
    QVERIFY(W().windowIcon().availableSizes().contains(QSize(128, 128)));
    QVERIFY(W().txtSavePath->isReadOnly());
    QCOMPARE(W().btnSelOutDir->focusPolicy(), Qt::StrongFocus);  // the keyboard reaches it
    QCOMPARE(W().btnSelOutDir->iconSize(), QSize(20, 20));
    QVERIFY(W().lblOpenOutDir->font().underline());
    QCOMPARE(W().lblOpenOutDir->cursor().shape(), Qt::PointingHandCursor);
    QCOMPARE(W().OutFormatIndex(), 0);
    QVERIFY(!W().tmrUpdateTask->isActive());
    QCOMPARE(W().tmrUpdateTask->interval(), 200);
    QCOMPARE(W().dbgVyrSourceFile->selectionBehavior(), QAbstractItemView::SelectRows);
    QCOMPARE(W().dbgVyrSourceFile->selectionMode(), QAbstractItemView::ExtendedSelection);
    QCOMPARE(W().dbgVyrSourceFile->editTriggers(), QAbstractItemView::NoEditTriggers);
    QVERIFY(!W().dbgVyrSourceFile->verticalHeader()->isHidden());  // the row indicator
    QCOMPARE(W().dbgVyrSourceFile->columnWidth(1), 100);
    QCOMPARE(W().cdsConvert->headerData(0, Qt::Horizontal, Qt::DisplayRole).toString(), QStringLiteral("文件名"));
    QCOMPARE(W().cdsConvert->headerData(1, Qt::Horizontal, Qt::DisplayRole).toString(), QStringLiteral("进度"));
    QStringList menu;
    for (QAction* a : W().popVyr->actions()) menu << a->objectName() + "=" + a->text();
    QCOMPARE(menu, QStringList({"mniSelFiles=打开文件", "mniDelSelFile=删除", "mniDelAllFile=删除全部",
                                "mniConvertSelFile=转换"}));
    QCOMPARE(W().GridPopupMenu(), W().popVyr);
  }

  void languageTextsReachTheirControls() {
    // The shipped English texts are loaded.
    QCOMPARE(TFmVyrToMp4::Lang("sBtnConvert"), QStringLiteral("Convert"));
    W().UpdateLanguage();
    QCOMPARE(W().windowTitle(), TFmVyrToMp4::Lang("sTitleVYRToMP4"));
    QCOMPARE(W().grpWorkArea->title(), TFmVyrToMp4::Lang("sVYRFile"));
    QCOMPARE(W().grpOptions->title(), TFmVyrToMp4::Lang("sMP4SavePathSet"));
    QCOMPARE(W().btnConvert->text(), TFmVyrToMp4::Lang("sBtnConvert"));
    QCOMPARE(W().lblOpenOutDir->text(), TFmVyrToMp4::Lang("sOpenSaveDirectory"));
    QCOMPARE(W().lblSetOutDir->text(), TFmVyrToMp4::Lang("sConvertFileSavePath"));
    QCOMPARE(W().cdsConvert->ColumnTitle(0), TFmVyrToMp4::Lang("sFileName"));
    QCOMPARE(W().cdsConvert->ColumnTitle(1), TFmVyrToMp4::Lang("sProgress"));
    QCOMPARE(W().mniSelFiles->text(), TFmVyrToMp4::Lang("sOpenFile"));
    QCOMPARE(W().mniDelSelFile->text(), TFmVyrToMp4::Lang("sDelSelect"));
    QCOMPARE(W().mniDelAllFile->text(), TFmVyrToMp4::Lang("sDelAll"));
    QCOMPARE(W().mniConvertSelFile->text(), TFmVyrToMp4::Lang("sConvertSelect"));
    QCOMPARE(W().rgOutFormat->title(), TFmVyrToMp4::Lang("sFormat"));
  }

  void dropStopsAtTheFirstRefusedName() {
    const QString a = Rec("a.vyr"), b = Rec("b.txt"), c = Rec("c.vyr");
    W().DropFiles({a, b, c});
    QCOMPARE(FileNames(), QStringList({"a.vyr"}));
    QCOMPARE(FDialogs->Texts(), QStringList({TFmVyrToMp4::Lang("sPlayFormatError")}));
    // The first row is not selected after a refusal.
    QVERIFY(W().dbgVyrSourceFile->selectionModel()->selectedRows().isEmpty());
  }

  void dropAddsRecordFilesAndSelectsTheFirst() {
    W().DropFiles({Rec("one.vyr"), QString(), Rec("two.VYR")});
    QCOMPARE(FileNames(), QStringList({"one.vyr", "two.VYR"}));
    QVERIFY(FDialogs->Messages.empty());
    const auto sel = W().dbgVyrSourceFile->selectionModel()->selectedRows();
    QCOMPARE(sel.size(), 1);
    QCOMPARE(sel[0].row(), 0);
    const TFileListRow* row = W().cdsConvert->Row(2);
    QCOMPARE(row->FilePath, QString::fromStdString(FEnv->Dir().File("two.VYR")));
    QCOMPARE(row->ConvertProgress, 0);
    QCOMPARE(row->ConvertStatus, int16_t(eCSNull));
  }

  void duplicatesLeaveOneRow() {
    ::mkdir(FEnv->Dir().File("other").c_str(), 0700);
    const QString a = Rec("cam.vyr");
    W().DropFiles({a, a});  // the same file twice: no message, it is listed
    QVERIFY(FDialogs->Messages.empty());
    W().DropFiles({Rec("other/cam.vyr")});  // same name, other folder
    W().DropFiles({Rec("CAM.vyr")});        // differs in case only
    QCOMPARE(FileNames(), QStringList({"cam.vyr"}));
    // Each of those was told why it was not added, with its name.
    QCOMPARE(FDialogs->Messages.size(), size_t(2));
    QVERIFY(FDialogs->Messages[0].Text.startsWith(TFmVyrToMp4::Lang("sSameNameNotAdded")));
    QVERIFY(FDialogs->Messages[0].Text.contains(QString::fromStdString(FEnv->Dir().File("other/cam.vyr"))));
    QVERIFY(FDialogs->Messages[1].Text.contains(QStringLiteral("CAM.vyr")));
    QCOMPARE(FDialogs->Messages[1].Title, W().windowTitle());
    // Only A to Z are taken without case: other letters are different names.
    FDialogs->Messages.clear();
    W().DropFiles({Rec("Ärger.vyr"), Rec("ärger.vyr")});
    QCOMPARE(FileNames(), QStringList({"cam.vyr", "Ärger.vyr", "ärger.vyr"}));
    QVERIFY(FDialogs->Messages.empty());
    // Names whose outputs are the same ("abcvyr" and "abdvyr" both give "ab") clash too.
    W().DropFiles({Rec("abcvyr"), Rec("abdvyr")});
    QCOMPARE(FileNames(), QStringList({"cam.vyr", "Ärger.vyr", "ärger.vyr", "abcvyr"}));
    QCOMPARE(FDialogs->Messages.size(), size_t(1));
  }

  void namesAreKeptWholeInUnicode() {
    const std::string longName = std::string(150, 'n') + "_监控录像_камера.vyr";
    const QString path = Rec(longName);
    W().DropFiles({path});
    QCOMPARE(W().cdsConvert->RecordCount(), 1);
    QCOMPARE(W().cdsConvert->Row(1)->FileName, QString::fromStdString(longName));
    QCOMPARE(W().cdsConvert->Row(1)->FilePath, path);
    // The same name added again is a duplicate.
    W().DropFiles({path});
    QCOMPARE(W().cdsConvert->RecordCount(), 1);
  }

  void dropsWhileWorkingAreIgnored() {
    FTasks->AutoFinish = false;
    W().DropFiles({Rec("a.vyr")});
    W().btnConvertClick();
    QVERIFY(W().IsWorking());
    W().DropFiles({Rec("b.vyr"), Rec("bad.txt")});
    QCOMPARE(FileNames(), QStringList({"a.vyr"}));
    QVERIFY(FDialogs->Messages.empty());
    W().ShutdownTasks();
  }

  void openDialogAddsTheChosenFiles() {
    FDialogs->FilesToOpen = {Rec("d1.vyr"), Rec("d2.vyr"), Rec("d3.avi"), Rec("d4.vyr")};
    W().mniSelFilesClick();
    QCOMPARE(FDialogs->LastOpenFilter, QStringLiteral("VYR(*.VYR)"));
    QCOMPARE(FileNames(), QStringList({"d1.vyr", "d2.vyr"}));
    QCOMPARE(FDialogs->Texts(), QStringList({TFmVyrToMp4::Lang("sPlayFormatError")}));
    FDialogs->FilesToOpen.clear();  // cancelled
    W().mniSelFilesClick();
    QCOMPARE(W().cdsConvert->RecordCount(), 2);
  }

  void removingRows() {
    W().DropFiles({Rec("r1.vyr"), Rec("r2.vyr"), Rec("r3.vyr"), Rec("r4.vyr")});
    W().dbgVyrSourceFile->clearSelection();
    W().mniDelSelFileClick();  // nothing selected: nothing removed
    QCOMPARE(W().cdsConvert->RecordCount(), 4);
    auto* sm = W().dbgVyrSourceFile->selectionModel();
    sm->select(W().cdsConvert->index(1, 0), QItemSelectionModel::Select | QItemSelectionModel::Rows);
    sm->select(W().cdsConvert->index(3, 0), QItemSelectionModel::Select | QItemSelectionModel::Rows);
    W().mniDelSelFileClick();
    QCOMPARE(FileNames(), QStringList({"r1.vyr", "r3.vyr"}));
    W().mniDelAllFileClick();
    QCOMPARE(W().cdsConvert->RecordCount(), 0);
    QCOMPARE(W().dbgVyrSourceFile->model()->rowCount(), 0);
  }

  void progressBarDrawing_data() {
    QTest::addColumn<int>("value");
    QTest::addColumn<int>("shown");
    QTest::newRow("-5") << -5 << 0;
    QTest::newRow("0") << 0 << 0;
    QTest::newRow("45") << 45 << 45;
    QTest::newRow("100") << 100 << 100;
    QTest::newRow("130") << 130 << 100;
  }
  void progressBarDrawing() {
    QFETCH(int, value);
    QFETCH(int, shown);
    const QRect cell(0, 0, 104, 40);  // inner width 100: one pixel per per cent
    QImage img(cell.size(), QImage::Format_RGB32);
    img.fill(Qt::white);
    {
      QPainter p(&img);
      TProgressDelegate::DrawProgressBar(&p, cell, value, TFmVyrToMp4::DefaultWindowFont(), Qt::black, Qt::black);
    }
    const int width = shown * (cell.width() - 4) / 100;
    QCOMPARE(TProgressDelegate::BarWidth(cell.width(), value), width);
    // Look along a line near the top, above the label: the bar's fill runs from x=2 to
    // x=width-1 (x=1 and x=width are its outline); beyond it the cell stays white.
    const int y = 4;
    QCOMPARE(QColor(img.pixel(0, y)), QColor(Qt::white));
    if (width > 0) {
      QCOMPARE(QColor(img.pixel(1, y)), QColor(Qt::black));
      QCOMPARE(QColor(img.pixel(width, y)), QColor(Qt::black));
      if (width > 2) {
        QCOMPARE(QColor(img.pixel(2, y)), TProgressDelegate::BarColor());
        QCOMPARE(QColor(img.pixel(width - 1, y)), TProgressDelegate::BarColor());
      }
      QCOMPARE(QColor(img.pixel(1, 0)), QColor(Qt::white));            // 1 pixel inside the top
      QCOMPARE(QColor(img.pixel(1, cell.height() - 1)), QColor(Qt::white));  // and the bottom
    } else {
      QCOMPARE(QColor(img.pixel(1, y)), QColor(Qt::white));
      QCOMPARE(QColor(img.pixel(2, y)), QColor(Qt::white));
    }
    if (width + 1 < cell.width()) QCOMPARE(QColor(img.pixel(width + 1, y)), QColor(Qt::white));
    // The label: some dark pixels in the middle of the cell, whatever the bar.
    int dark = 0;
    for (int x = 30; x < 74; ++x)
      for (int yy = 12; yy < 28; ++yy) dark += qGray(img.pixel(x, yy)) < 100;
    QVERIFY(dark > 5);
  }

  void failedRowShowsTheFailureText() {
    W().DropFiles({Rec("f.vyr")});
    W().show();  // applies the language texts
    W().cdsConvert->SetMarkTexts(QStringLiteral("FAILED"), QStringLiteral("STOPPED"), QStringLiteral("SKIPPED"));
    W().cdsConvert->SetProgress(1, 100);
    W().cdsConvert->SetMark(1, TRowMark::Failed, QStringLiteral("why"));
    W().dbgVyrSourceFile->clearSelection();
    QImage img = W().dbgVyrSourceFile->viewport()->grab().toImage();
    const QRect cell = W().dbgVyrSourceFile->visualRect(W().cdsConvert->index(0, 1));
    int red = 0, blue = 0;
    for (int x = cell.left(); x <= cell.right(); ++x)
      for (int y = cell.top(); y <= cell.bottom(); ++y) {
        const QColor c(img.pixel(x, y));
        red += c.red() > 150 && c.green() < 80 && c.blue() < 80;
        blue += c == TProgressDelegate::BarColor();
      }
    QVERIFY(red > 5);
    QCOMPARE(blue, 0);
  }

  void showFillsTheDefaultOutputFolder() {
    FEnv->WriteSettings("[RecordBrowerParam]\nLogLevel=0\n");
    TDmReadSysParamIni settings;
    DmReadSysParamIni = &settings;
    const std::string disk = GetIdeDisk();
    const std::string expected = disk.empty() ? FEnv->Home() + "/VyrRecord/" : disk + "VyrRecord/";
    W().FormShow();
    DmReadSysParamIni = nullptr;
    QCOMPARE(W().txtSavePath->text().toStdString(), expected);
    std::string stored;
    settings.GetRecordPath(stored);
    QCOMPARE(stored, expected);
    if (disk.empty()) {
      struct stat st {};
      QVERIFY(::stat(expected.c_str(), &st) == 0 && S_ISDIR(st.st_mode));
    }
  }

  void showUsesTheStoredFolder() {
    const std::string out = FEnv->Dir().File("stored");
    FEnv->WriteSettings("[RecordBrowerParam]\nDireRecordPath=" + out + "/\n");
    TDmReadSysParamIni settings;
    DmReadSysParamIni = &settings;
    W().FormShow();
    DmReadSysParamIni = nullptr;
    QCOMPARE(W().txtSavePath->text().toStdString(), out + "/");
    struct stat st {};
    QVERIFY(::stat(out.c_str(), &st) == 0 && S_ISDIR(st.st_mode));  // created at show
  }

  void pickedFolderIsStored() {
    FEnv->WriteSettings("[RecordBrowerParam]\nDireRecordPath=/x/\n");
    TDmReadSysParamIni settings;
    DmReadSysParamIni = &settings;
    FDialogs->FolderToPick = QString::fromStdString(FEnv->Dir().File("picked"));
    W().btnSelOutDirClick();
    DmReadSysParamIni = nullptr;
    QCOMPARE(FDialogs->LastFolderTitle, QStringLiteral("选择目录"));
    QCOMPARE(W().txtSavePath->text().toStdString(), FEnv->Dir().File("picked") + "/");
    std::string stored;
    settings.GetRecordPath(stored);
    QCOMPARE(stored, FEnv->Dir().File("picked") + "/");
    // Cancelled: nothing changes.
    FDialogs->FolderToPick.clear();
    W().btnSelOutDirClick();
    QCOMPARE(W().txtSavePath->text().toStdString(), FEnv->Dir().File("picked") + "/");
  }

  void refusedSettingsWriteIsShownAndTheWindowGoesOn() {
    FEnv->WriteSettings("[RecordBrowerParam]\nDireRecordPath=/x/\n");
    TDmReadSysParamIni settings;
    DmReadSysParamIni = &settings;
    // A folder in place of the settings file: no user, root included, can write it.
    ::unlink(FEnv->SettingsFile().c_str());
    ::mkdir(FEnv->SettingsFile().c_str(), 0700);
    FDialogs->FolderToPick = QString::fromStdString(FEnv->Dir().File("picked"));
    W().btnSelOutDirClick();
    QCOMPARE(FDialogs->Texts(),
             QStringList({QString::fromStdString("Unable to write to " + FEnv->SettingsFile())}));
    QCOMPARE(W().txtSavePath->text().toStdString(), FEnv->Dir().File("picked") + "/");
    // The same at show time with no stored folder: the message, and the window's texts.
    FDialogs->Messages.clear();
    W().FormShow();
    DmReadSysParamIni = nullptr;
    QCOMPARE(FDialogs->Messages.size(), size_t(1));
    QCOMPARE(W().btnConvert->text(), TFmVyrToMp4::Lang("sBtnConvert"));
  }

  void folderButtonIsInertWhileWorking() {
    FTasks->AutoFinish = false;
    W().DropFiles({Rec("a.vyr")});
    W().txtSavePath->setText(QString::fromStdString(FEnv->Dir().Path() + "/"));
    W().btnConvertClick();
    QCOMPARE(W().SelOutDirTag(), 1);
    FDialogs->FolderToPick = QStringLiteral("/somewhere");
    W().btnSelOutDirClick();
    QCOMPARE(W().txtSavePath->text().toStdString(), FEnv->Dir().Path() + "/");
    W().ShutdownTasks();
  }

  void closeWhileIdleClosesAtOnce() {
    W().show();
    QVERIFY(W().close());
    QVERIFY(FDialogs->Messages.empty());
  }

  void closeWhileWorkingAsksFirst() {
    FTasks->AutoFinish = false;
    W().txtSavePath->setText(QString::fromStdString(FEnv->Dir().Path() + "/"));
    W().DropFiles({Rec("a.vyr")});
    W().show();
    W().btnConvertClick();
    W().tmrUpdateTaskTimer();  // starts the task
    QTRY_VERIFY(FTasks->Running.load());

    FDialogs->Answer = TMsgResult::No;
    QVERIFY(!W().close());
    QVERIFY(W().isVisible());
    QCOMPARE(FDialogs->Messages.size(), size_t(1));
    QCOMPARE(FDialogs->Messages[0].Text, TFmVyrToMp4::Lang("sConfirmCancelAll"));
    QCOMPARE(FDialogs->Messages[0].Buttons, TMsgButtons::YesNo);
    QCOMPARE(FDialogs->Messages[0].Icon, TMsgIcon::Question);
    QCOMPARE(FDialogs->Messages[0].Title, W().windowTitle());
    QVERIFY(W().IsWorking());
    QVERIFY(FTasks->Running.load());  // the conversion goes on

    FDialogs->Answer = TMsgResult::Yes;
    QVERIFY(W().close());
    // The running task was stopped and joined before the close returned.
    QVERIFY(!FTasks->Running.load());
    QVERIFY(FTasks->SawStop.load());
    QVERIFY(!W().IsWorking());
  }
};

QTEST_MAIN(TestMainWindow)
#include "test_main_window.moc"
