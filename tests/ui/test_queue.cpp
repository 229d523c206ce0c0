// The conversion queue, step by step, with a conversion task the test controls: the order
// of the files, the rows' status and progress, stopping, selected rows, failed files.
#include <QGroupBox>
#include <QItemSelectionModel>
#include <QLineEdit>
#include <QMenu>
#include <QPushButton>
#include <QTableView>
#include <QTimer>
#include <QtTest>
#include <thread>

#include "UiTestSupport.h"
#include "ui/UFileListModel.h"
#include "ui/UFmVyrToMp4.h"

class TestQueue : public TWindowTest {
  Q_OBJECT

 private:
  std::vector<int> Statuses() {
    std::vector<int> s;
    for (int i = 1; i <= W().cdsConvert->RecordCount(); ++i) s.push_back(Row(i).ConvertStatus);
    return s;
  }
  std::vector<int> Progresses() {
    std::vector<int> s;
    for (int i = 1; i <= W().cdsConvert->RecordCount(); ++i) s.push_back(Row(i).ConvertProgress);
    return s;
  }

 private slots:
  void init() {
    SetUp();
    MakeWindow();
  }
  void cleanup() {
    TearDown();
  }

  void emptyListShowsAMessage() {
    W().btnConvertClick();
    QVERIFY(!W().IsWorking());
    QCOMPARE(FDialogs->Texts(), QStringList({TFmVyrToMp4::Lang("sSelectVYRFileError")}));
  }

  void threeRowsInListOrder() {
    AddRows(3);
    FTasks->AutoFinish = false;
    W().btnConvertClick();
    QVERIFY(W().IsWorking());
    QCOMPARE(W().TimerTag(), -1);
    QCOMPARE(W().btnConvert->text(), TFmVyrToMp4::Lang("sStop"));
    QVERIFY(W().GridPopupMenu() == nullptr);
    QVERIFY(!W().rgOutFormat->isEnabled());

    for (int row = 1; row <= 3; ++row) {
      W().tmrUpdateTaskTimer();  // ends the previous file (if any) and starts this one
      QCOMPARE(W().FCurrentRowNo, row);
      QCOMPARE(int(Row(row).ConvertStatus), int(eCSing));
      QCOMPARE(Row(row).ConvertProgress, 0);
      QCOMPARE(W().TimerTag(), 0);
      QTRY_VERIFY(FTasks->Running.load());
      // Progress reaches the row through the tick.
      FTasks->Target = 37;
      QTRY_COMPARE(W().FCurTaskProgress.load(), 37);
      W().tmrUpdateTaskTimer();
      QCOMPARE(Row(row).ConvertProgress, 37);
      QCOMPARE(W().TimerTag(), 37);
      W().tmrUpdateTaskTimer();  // unchanged: nothing happens
      QCOMPARE(Row(row).ConvertProgress, 37);
      FTasks->Release = true;
      QVERIFY(WaitTaskEnded(W()));
      FTasks->Release = false;
      FTasks->Target = 0;
    }
    W().tmrUpdateTaskTimer();  // ends the third file and the run
    QVERIFY(!W().IsWorking());
    QCOMPARE(Statuses(), std::vector<int>({eCSOver, eCSOver, eCSOver}));
    QCOMPARE(Progresses(), std::vector<int>({100, 100, 100}));
    QCOMPARE(FDialogs->Texts(), QStringList({TFmVyrToMp4::Lang("sConvertOver")}));
    QCOMPARE(W().btnConvert->text(), TFmVyrToMp4::Lang("sBtnConvert"));
    QCOMPARE(W().GridPopupMenu(), W().popVyr);
    QVERIFY(W().rgOutFormat->isEnabled());
    QCOMPARE(W().SelOutDirTag(), 0);

    const auto calls = FTasks->Calls();
    QCOMPARE(calls.size(), size_t(3));
    for (int i = 0; i < 3; ++i) {
      QCOMPARE(calls[i].Src, FEnv->Dir().File("rec" + std::to_string(i + 1) + ".vyr"));
      QCOMPARE(calls[i].OutBase, FOut + "rec" + std::to_string(i + 1));
      QVERIFY(!calls[i].Raw);
    }
  }

  void rawFormatRunsTheRawExport() {
    AddRows(2);
    W().SetOutFormatIndex(1);
    W().btnConvertClick();
    RunTicksUntilIdle(W());
    const auto calls = FTasks->Calls();
    QCOMPARE(calls.size(), size_t(2));
    QVERIFY(calls[0].Raw && calls[1].Raw);
    QCOMPARE(Statuses(), std::vector<int>({eCSOver, eCSOver}));
    QCOMPARE(FDialogs->Texts(), QStringList({TFmVyrToMp4::Lang("sConvertOver")}));
  }

  void aSecondRunResetsTheRows() {
    AddRows(2);
    W().btnConvertClick();
    RunTicksUntilIdle(W());
    QCOMPARE(Progresses(), std::vector<int>({100, 100}));
    FTasks->AutoFinish = false;
    W().btnConvertClick();
    QCOMPARE(Statuses(), std::vector<int>({eCSNull, eCSNull}));
    QCOMPARE(Progresses(), std::vector<int>({0, 0}));
    W().ShutdownTasks();
  }

  void selectedRowsOnlyInListOrder() {
    AddRows(5);
    W().btnConvertClick();
    RunTicksUntilIdle(W());  // every row finished once
    FDialogs->Messages.clear();
    W().cdsConvert->SetProgress(1, 11);
    W().cdsConvert->SetProgress(3, 33);
    W().cdsConvert->SetProgress(5, 55);
    const size_t before = FTasks->CallCount();
    // Selected in reverse order: the queue still takes them in list order.
    SelectRows({4, 2});
    W().mniConvertSelFileClick();
    RunTicksUntilIdle(W());
    const auto calls = FTasks->Calls();
    QCOMPARE(calls.size() - before, size_t(2));
    QCOMPARE(calls[before].Src, FEnv->Dir().File("rec2.vyr"));
    QCOMPARE(calls[before + 1].Src, FEnv->Dir().File("rec4.vyr"));
    QCOMPARE(Progresses(), std::vector<int>({11, 100, 33, 100, 55}));
    QCOMPARE(FDialogs->Texts(), QStringList({TFmVyrToMp4::Lang("sConvertOver")}));
  }

  void convertSelectedWithNothingSelected() {
    AddRows(2);
    W().dbgVyrSourceFile->clearSelection();
    W().mniConvertSelFileClick();
    QVERIFY(W().IsWorking());
    W().tmrUpdateTaskTimer();
    QVERIFY(!W().IsWorking());
    QCOMPARE(FTasks->CallCount(), size_t(0));
    QCOMPARE(FDialogs->Texts(), QStringList({TFmVyrToMp4::Lang("sConvertOver")}));
    QCOMPARE(Statuses(), std::vector<int>({eCSNull, eCSNull}));
  }

  void stopDuringAConversion() {
    AddRows(3);
    FTasks->AutoFinish = false;
    W().btnConvertClick();
    W().tmrUpdateTaskTimer();
    QTRY_VERIFY(FTasks->Running.load());
    FTasks->Target = 42;
    QTRY_COMPARE(W().FCurTaskProgress.load(), 42);
    W().tmrUpdateTaskTimer();
    W().btnConvertClick();  // stop
    QVERIFY(W().FTerminated.load());
    QVERIFY(WaitTaskEnded(W(), 2000));  // the task saw the stop
    QVERIFY(FTasks->SawStop.load());
    W().tmrUpdateTaskTimer();
    QVERIFY(!W().IsWorking());
    QCOMPARE(Statuses(), std::vector<int>({eCSOver, eCSNull, eCSNull}));
    QCOMPARE(Progresses(), std::vector<int>({42, 0, 0}));  // keeps its last progress
    QVERIFY(FDialogs->Messages.empty());                   // no end message after a stop
    QCOMPARE(W().btnConvert->text(), TFmVyrToMp4::Lang("sBtnConvert"));
    QCOMPARE(FTasks->CallCount(), size_t(1));
  }

  void stopDuringARawExportWaitsForIt() {
    AddRows(2);
    W().SetOutFormatIndex(1);
    FTasks->AutoFinish = false;
    W().btnConvertClick();
    W().tmrUpdateTaskTimer();
    QTRY_VERIFY(FTasks->Running.load());
    W().btnConvertClick();  // stop: the export goes on
    for (int i = 0; i < 5; ++i) {
      W().tmrUpdateTaskTimer();
      QVERIFY(W().IsWorking());
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    QVERIFY(FTasks->Running.load());
    FTasks->Release = true;
    QVERIFY(WaitTaskEnded(W()));
    W().tmrUpdateTaskTimer();
    QVERIFY(!W().IsWorking());
    QVERIFY(!FTasks->SawStop.load());
    QCOMPARE(FTasks->CallCount(), size_t(1));
    QCOMPARE(Statuses(), std::vector<int>({eCSOver, eCSNull}));
  }

  void stopBeforeTheFirstTick() {
    AddRows(2);
    W().btnConvertClick();
    W().btnConvertClick();  // stop at once
    W().tmrUpdateTaskTimer();
    QVERIFY(!W().IsWorking());
    QCOMPARE(FTasks->CallCount(), size_t(0));
    QVERIFY(FDialogs->Messages.empty());
    QCOMPARE(Statuses(), std::vector<int>({eCSNull, eCSNull}));
  }

  void failedFilesAreMarkedAndCounted() {
    AddRows(3);
    FTasks->AutoFinish = false;
    W().btnConvertClick();
    W().tmrUpdateTaskTimer();
    FTasks->Fail = true;  // the first file fails
    FTasks->Release = true;
    QVERIFY(WaitTaskEnded(W()));
    FTasks->Fail = false;
    FTasks->AutoFinish = true;
    RunTicksUntilIdle(W());
    // Status and progress as for any ended file; only the mark and the message differ.
    QCOMPARE(Statuses(), std::vector<int>({eCSOver, eCSOver, eCSOver}));
    QCOMPARE(Progresses(), std::vector<int>({100, 100, 100}));
    QCOMPARE(Row(1).ConvertMark, TRowMark::Failed);
    QCOMPARE(Row(2).ConvertMark, TRowMark::None);
    QCOMPARE(Row(3).ConvertMark, TRowMark::None);
    QCOMPARE(W().FailedCount(), 1);
    QCOMPARE(FDialogs->Messages.size(), size_t(1));
    // The end message names the failed file.
    QVERIFY(FDialogs->Messages[0].Text.startsWith(TFmVyrToMp4::Lang("sConvertOver")));
    QVERIFY(FDialogs->Messages[0].Text.contains(TFmVyrToMp4::Lang("sConvertFailedFiles") + "\nrec1.vyr"));
    QVERIFY(!FDialogs->Messages[0].Text.contains(QStringLiteral("rec2.vyr")));
    QCOMPARE(FDialogs->Messages[0].Icon, TMsgIcon::Warning);
    // A new run clears the marks.
    W().btnConvertClick();
    QCOMPARE(Row(1).ConvertMark, TRowMark::None);
    RunTicksUntilIdle(W());
  }

  void emptyOutputFolderIsFilledIn() {
    AddRows(1);
    W().txtSavePath->clear();
    W().btnConvertClick();
    RunTicksUntilIdle(W());
    const std::string fallback = FEnv->Home() + "/VyrRecord/";
    QCOMPARE(W().txtSavePath->text().toStdString(), fallback);
    QCOMPARE(FTasks->Calls().at(0).OutBase, fallback + "rec1");
  }

  void timerDrivesTheRunOnItsOwn() {
    AddRows(2);
    W().btnConvertClick();
    QTRY_VERIFY_WITH_TIMEOUT(!W().IsWorking(), 10000);
    QCOMPARE(Statuses(), std::vector<int>({eCSOver, eCSOver}));
    QCOMPARE(FDialogs->Texts(), QStringList({TFmVyrToMp4::Lang("sConvertOver")}));
  }
};

QTEST_MAIN(TestQueue)
#include "test_queue.moc"
