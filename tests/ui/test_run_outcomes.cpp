// What a run does before it starts and what it tells afterwards, on real files: the
// question about outputs that exist (replace, skip existing, cancel), the rule that a
// stopped output never replaces a complete file, the output folder made at Convert, the
// reasons a row gives in its tooltip, the end message that names the failed files, and
// opening the output folder.
#include <QLineEdit>
#include <QtTest>
#include <cerrno>
#include <cstring>
#include <sys/stat.h>
#include <unistd.h>

#include "UFfmpegMedia.h"
#include "UVideoPayloadEncoders.h"
#include "UVyrSampleGen.h"
#include "UiTestSupport.h"
#include "conversion/UDmRecordToMP4.h"
#include "conversion/UMp4ConversionState.h"
#include "conversion/UMp4v2Lib.h"
#include "conversion/URawExport.h"
#include "ui/UFileListModel.h"
#include "ui/UFmVyrToMp4.h"
#include "ui/UOpenExplorer.h"
#include "ui/UOutcomeReasons.h"
#include "ui/UWindowTexts.h"

namespace {

// A recording of real video (CIF) with A-law audio. AAfterFrame may damage it.
std::string MakeRecording(const TTempDir& ADir, const std::string& AName, uint32_t AFrames,
                          int AVideoType = OmVideoType_H264, const TFrameWrittenHook& AAfterFrame = nullptr) {
  TRecordingSpec spec;
  spec.VideoType = AVideoType;
  spec.VideoMode = OmResolution_CIF;
  spec.Frames = AFrames;
  spec.KeyInterval = 25;
  std::string error;
  const std::string path = ADir.File(AName);
  return SaveEncodedRecording(spec, path, error, AAfterFrame) ? path : std::string();
}

// A recording whose blocks carry pattern bytes in place of video: enough for the probe.
std::string MakePatternRecording(const TTempDir& ADir, const std::string& AName, int AVideoType,
                                 uint32_t AFrames = 5, size_t APayloadSize = 200) {
  TRecordingSpec spec;
  spec.VideoType = AVideoType;
  spec.Frames = AFrames;
  TVyrRecordBuilder b;
  GenerateRecording(spec, PatternPayloadSource(spec, APayloadSize), b);
  const std::string path = ADir.File(AName);
  return b.SaveToFile(path) ? path : std::string();
}

QString Q(const std::string& AText) { return QString::fromStdString(AText); }
QString L(const char* AKey) { return TFmVyrToMp4::Lang(AKey); }

}  // namespace

class TestRunOutcomes : public TWindowTest {
  Q_OBJECT

 private:
  std::unique_ptr<TDmRecordToMP4> FTask;

  void MakeWindow(TConversionBackend ABackend) {
    TWindowTest::MakeWindow(std::move(ABackend));
    FWindow->UpdateLanguage();
  }
  void MakeCoreWindow() {
    FTask = std::make_unique<TDmRecordToMP4>();
    DmRecordToMP4 = FTask.get();
    MakeWindow(CoreConversionBackend());
  }
  void Drop(const std::vector<std::string>& APaths) {
    QStringList l;
    for (const auto& p : APaths) l << Q(p);
    W().DropFiles(l);
  }
  std::vector<std::string> CalledSources() {
    std::vector<std::string> s;
    for (const auto& c : FTasks->Calls()) s.push_back(c.Src);
    return s;
  }
  QString Tip(int ARecNo) { return W().cdsConvert->data(W().cdsConvert->index(ARecNo - 1, 1), Qt::ToolTipRole).toString(); }

 private slots:
  void init() {
    SetUp();
    QVERIFY(QDir().mkpath(Q(FOut)));
  }
  void cleanup() {
    FWindow.reset();
    DmRecordToMP4 = nullptr;
    FTask.reset();
    TearDown();
  }

  // ---- the question about existing outputs ------------------------------------------

  void existingOutputs_data() {
    QTest::addColumn<int>("choice");
    QTest::addColumn<QStringList>("converted");
    QTest::newRow("cancel") << int(TMsgResult::Cancel) << QStringList();
    QTest::newRow("skip existing") << int(TMsgResult::Skip) << QStringList({"a.vyr", "c.vyr"});
    QTest::newRow("replace") << int(TMsgResult::Replace) << QStringList({"a.vyr", "b.vyr", "c.vyr", "d.vyr"});
  }
  void existingOutputs() {
    QFETCH(int, choice);
    QFETCH(QStringList, converted);
    MakeWindow(FTasks->Backend());
    Drop({Rec("a.vyr"), Rec("b.vyr"), Rec("c.vyr"), Rec("d.vyr")});
    WriteFileBytes(FOut + "b.mp4", "OLD");
    ::symlink("/nowhere", (FOut + "d.mp4").c_str());  // a link counts as an output too
    FDialogs->Choice = static_cast<TMsgResult>(choice);
    W().btnConvertClick();
    // Asked once, naming how many, in a box with the window's title.
    QCOMPARE(FDialogs->Messages.size(), size_t(1));
    const TMessageBoxRequest& q = FDialogs->Messages[0];
    QCOMPARE(q.Buttons, TMsgButtons::ReplaceSkipCancel);
    QCOMPARE(q.Title, W().windowTitle());
    QVERIFY(q.Text.startsWith(FormatText(L("sOutputsExist"), {"2"})));
    QVERIFY(q.Text.contains("b.mp4") && q.Text.contains("d.mp4") && !q.Text.contains("a.mp4"));
    QCOMPARE(q.ChoiceTexts, QStringList({L("sReplace"), L("sSkipExisting")}));
    if (choice == int(TMsgResult::Cancel)) {
      QVERIFY(!W().IsWorking());
      for (int i = 1; i <= 4; ++i) QCOMPARE(Row(i).ConvertMark, TRowMark::None);
    }
    RunTicksUntilIdle(W());
    QStringList called;
    for (const auto& s : CalledSources()) called << QFileInfo(Q(s)).fileName();
    QCOMPARE(called, converted);
    QCOMPARE(ReadFileBytes(FOut + "b.mp4"), std::string("OLD"));  // the scripted task writes nothing
    if (choice == int(TMsgResult::Skip)) {
      QCOMPARE(Row(2).ConvertMark, TRowMark::Skipped);
      QCOMPARE(Row(4).ConvertMark, TRowMark::Skipped);
      QCOMPARE(Tip(2), FormatText(L("sSkippedExists"), {Q(FOut + "b.mp4")}));
      QCOMPARE(Row(2).ConvertProgress, 0);
      QCOMPARE(Row(1).ConvertMark, TRowMark::None);
      // The end message tells how many were skipped.
      QCOMPARE(FDialogs->Messages.size(), size_t(2));
      QVERIFY(FDialogs->Messages[1].Text.contains(FormatText(L("sSkippedCount"), {"2"})));
      // The next Convert asks again and clears the skip marks first.
      FDialogs->Choice = TMsgResult::Replace;
      W().btnConvertClick();
      QCOMPARE(Row(2).ConvertMark, TRowMark::None);
      RunTicksUntilIdle(W());
    }
  }

  // "Skip existing" keeps what the user has, but not the part that a stopped run of ours
  // left under the final name: that recording is converted again.
  void skipExistingConvertsAStoppedOutputAgain() {
    MakeWindow(FTasks->Backend());
    Drop({Rec("a.vyr"), Rec("b.vyr"), Rec("c.vyr")});
    const struct {
      std::string Name;
      uint32_t Flags;
    } outputs[] = {{"a.mp4", MP4_CLOSE_STOPPED}, {"b.mp4", 0}};
    for (const auto& o : outputs) {
      MP4FileHandle h = MP4Create(FOut + o.Name, 0);
      QVERIFY(h != MP4_INVALID_FILE_HANDLE);
      const MP4TrackId t = MP4AddAudioTrack(h, 8000, 1024, 0x40);
      const uint8_t frame[4] = {1, 2, 3, 4};
      QVERIFY(MP4WriteSample(h, t, frame, sizeof frame));
      QVERIFY(MP4Close(h, o.Flags));
    }
    QCOMPARE(ReadMp4ConversionState(FOut + "a.mp4"), TMp4ConversionState::Stopped);
    WriteFileBytes(FOut + "c.mp4", "a file of the user's");
    FDialogs->Choice = TMsgResult::Skip;
    W().btnConvertClick();
    QVERIFY(FDialogs->Messages[0].Text.startsWith(FormatText(L("sOutputsExist"), {"3"})));
    RunTicksUntilIdle(W());
    QCOMPARE(CalledSources(), std::vector<std::string>({FEnv->Dir().File("a.vyr")}));
    QCOMPARE(Row(1).ConvertMark, TRowMark::None);
    QCOMPARE(Row(2).ConvertMark, TRowMark::Skipped);
    QCOMPARE(Row(3).ConvertMark, TRowMark::Skipped);
  }

  void noQuestionWithoutExistingOutputs() {
    MakeWindow(FTasks->Backend());
    Drop({Rec("a.vyr"), Rec("b.vyr")});
    WriteFileBytes(FOut + "a.mp4.part", "left by a stop");  // not an output
    WriteFileBytes(FOut + "b.H264", "a raw output, not an MP4");
    W().btnConvertClick();
    RunTicksUntilIdle(W());
    QCOMPARE(FTasks->CallCount(), size_t(2));
    QCOMPARE(FDialogs->Texts(), QStringList({L("sConvertOver")}));
  }

  void selectedRowsAreTheOnlyOnesAskedAbout() {
    MakeWindow(FTasks->Backend());
    Drop({Rec("a.vyr"), Rec("b.vyr"), Rec("c.vyr")});
    WriteFileBytes(FOut + "b.mp4", "OLD");
    auto* sm = W().dbgVyrSourceFile->selectionModel();
    sm->clearSelection();
    sm->select(W().cdsConvert->index(2, 0), QItemSelectionModel::Select | QItemSelectionModel::Rows);
    sm->select(W().cdsConvert->index(0, 0), QItemSelectionModel::Select | QItemSelectionModel::Rows);
    W().mniConvertSelFileClick();
    // The selection changes during the run: the run keeps the rows it started with.
    sm->clearSelection();
    sm->select(W().cdsConvert->index(1, 0), QItemSelectionModel::Select | QItemSelectionModel::Rows);
    RunTicksUntilIdle(W());
    QCOMPARE(FDialogs->Texts(), QStringList({L("sConvertOver")}));
    QCOMPARE(CalledSources(), std::vector<std::string>({FEnv->Dir().File("a.vyr"), FEnv->Dir().File("c.vyr")}));
  }

  void rawOutputsAreNamedByTheProbedCodec() {
    MakeWindow(FTasks->Backend());
    const std::string mjpeg = MakePatternRecording(FEnv->Dir(), "m.vyr", OmVideoType_MJPEG);
    const std::string h264 = MakePatternRecording(FEnv->Dir(), "h.vyr", OmVideoType_H264);
    const std::string mpeg4 = MakePatternRecording(FEnv->Dir(), "p.vyr", OmVideoType_MPEG4);
    Drop({mjpeg, h264, mpeg4});
    W().SetOutFormatIndex(1);
    // Outputs of other codecs' names are no concern: h.MJPG does not clash with h.H264.
    WriteFileBytes(FOut + "m.MJPG", "OLD");
    WriteFileBytes(FOut + "h.MJPG", "OTHER");
    WriteFileBytes(FOut + "p", "OLD");  // MPEG-4 has no extension
    FDialogs->Choice = TMsgResult::Skip;
    W().btnConvertClick();
    QCOMPARE(FDialogs->Messages.size(), size_t(1));
    QVERIFY(FDialogs->Messages[0].Text.startsWith(FormatText(L("sOutputsExist"), {"2"})));
    QVERIFY(FDialogs->Messages[0].Text.contains("m.MJPG"));
    RunTicksUntilIdle(W());
    QCOMPARE(CalledSources(), std::vector<std::string>({h264}));
    QCOMPARE(Row(1).ConvertMark, TRowMark::Skipped);
    QCOMPARE(Row(3).ConvertMark, TRowMark::Skipped);
  }

  // ---- a stopped output never replaces a complete file --------------------------------

  void stoppedOutputKeepsTheCompleteFile() {
    MakeCoreWindow();
    const std::string src = MakeRecording(FEnv->Dir(), "long.vyr", 750, OmVideoType_MJPEG);
    QVERIFY(!src.empty());
    Drop({src});
    const std::string complete = "a complete MP4 of an earlier run";
    WriteFileBytes(FOut + "long.mp4", complete);
    FDialogs->Choice = TMsgResult::Replace;
    W().btnConvertClick();
    QTRY_VERIFY_WITH_TIMEOUT(Row(1).ConvertProgress > 0, 30000);
    W().btnConvertClick();  // stop
    QTRY_VERIFY_WITH_TIMEOUT(!W().IsWorking(), 30000);
    QCOMPARE(Row(1).ConvertMark, TRowMark::Stopped);
    QVERIFY(Row(1).ConvertProgress < 100);
    // The earlier file is untouched; the part converted so far is beside it, playable.
    QCOMPARE(ReadFileBytes(FOut + "long.mp4"), complete);
    const std::string part = FOut + "long.mp4.part";
    const TMediaInfo info = ProbeMedia(part);
    QVERIFY2(info.Ok && info.Video(), part.c_str());
    QVERIFY(info.Video()->Frames > 0 && info.Video()->Frames < 750);
    QCOMPARE(Tip(1), FormatText(L("sStoppedKept"), {Q(part)}));
    QVERIFY(FDialogs->Messages.size() == 1);  // the question; no end message after a stop

    // Without an earlier file the stopped output takes the final name.
    ::unlink((FOut + "long.mp4").c_str());
    ::unlink(part.c_str());
    FDialogs->Messages.clear();
    W().btnConvertClick();
    QVERIFY(FDialogs->Messages.empty());
    QCOMPARE(Row(1).ConvertMark, TRowMark::None);  // the new run cleared the mark
    QTRY_VERIFY_WITH_TIMEOUT(Row(1).ConvertProgress > 0, 30000);
    W().btnConvertClick();
    QTRY_VERIFY_WITH_TIMEOUT(!W().IsWorking(), 30000);
    QCOMPARE(Row(1).ConvertMark, TRowMark::Stopped);
    QVERIFY(!FileExists(part));
    QVERIFY(ProbeMedia(FOut + "long.mp4").Ok);
    QCOMPARE(Tip(1), FormatText(L("sStoppedKept"), {Q(FOut + "long.mp4")}));
  }

  // ---- the output folder ----------------------------------------------------------------

  void aMissingOutputFolderIsMadeAtConvert() {
    MakeWindow(FTasks->Backend());
    const std::string deep = FEnv->Dir().File("new/deeper/out") + "/";
    W().txtSavePath->setText(Q(deep));
    Drop({Rec("a.vyr")});
    W().btnConvertClick();
    RunTicksUntilIdle(W());
    struct stat st {};
    QVERIFY(::stat(deep.c_str(), &st) == 0 && S_ISDIR(st.st_mode));
    QCOMPARE(FTasks->CallCount(), size_t(1));
    QCOMPARE(FTasks->Calls()[0].OutBase, deep + "a");
  }

  void anOutputFolderThatCannotBeMadeIsToldOnceAndNothingStarts() {
    MakeWindow(FTasks->Backend());
    WriteFileBytes(FEnv->Dir().File("afile"), "x");
    const std::string blocked = FEnv->Dir().File("afile/out") + "/";
    W().txtSavePath->setText(Q(blocked));
    Drop({Rec("a.vyr"), Rec("b.vyr")});
    W().cdsConvert->SetMark(1, TRowMark::Failed, "earlier");
    W().btnConvertClick();
    QVERIFY(!W().IsWorking());
    QCOMPARE(FDialogs->Messages.size(), size_t(1));
    QCOMPARE(FDialogs->Messages[0].Title, W().windowTitle());
    QVERIFY(FDialogs->Messages[0].Text.startsWith(
        FormatText(L("sOutDirCreateFailed"), {Q(FEnv->Dir().File("afile/out")), ""})));
    QCOMPARE(FTasks->CallCount(), size_t(0));
    QCOMPARE(Row(1).ConvertMark, TRowMark::Failed);  // nothing was touched
    QCOMPARE(Row(2).ConvertMark, TRowMark::None);
    QCOMPARE(int(Row(2).ConvertStatus), int(eCSNull));
  }

  // ---- reasons -----------------------------------------------------------------------

  void reasonsOnRealFiles() {
    MakeCoreWindow();
    const std::string good = MakeRecording(FEnv->Dir(), "good.vyr", 20);
    // 4000 stray bytes after the tenth frame.
    int frames = 0;
    const std::string damaged = MakeRecording(FEnv->Dir(), "damaged.vyr", 20, OmVideoType_H264,
                                              [&frames](TVyrRecordBuilder& B) {
                                                if (++frames == 10) B.AddBytes(std::vector<uint8_t>(4000, 0x5A));
                                                return true;
                                              });
    // Blocks of another command only: nothing to convert.
    TVyrRecordBuilder nothing;
    for (int i = 0; i < 4; ++i) nothing.AddOther(17, 8, std::vector<uint8_t>(8, 1));
    const std::string empty = FEnv->Dir().File("empty.vyr");
    QVERIFY(nothing.SaveToFile(empty));
    const std::string gone = MakeRecording(FEnv->Dir(), "gone.vyr", 5);
    QVERIFY(!good.empty() && !damaged.empty() && !gone.empty());
    Drop({good, damaged, gone, empty});
    ::unlink(gone.c_str());
    W().btnConvertClick();
    QTRY_VERIFY_WITH_TIMEOUT(!W().IsWorking(), 60000);

    QCOMPARE(Row(1).ConvertMark, TRowMark::None);
    QCOMPARE(Tip(1), QString());
    // Damaged data skipped: a warned row at 100 %, not a failed one.
    QCOMPARE(Row(2).ConvertMark, TRowMark::Warned);
    QCOMPARE(Row(2).ConvertProgress, 100);
    QCOMPARE(Tip(2), FormatText(L("sConvertRecovered"), {"1", "4000"}));
    QVERIFY(ProbeMedia(FOut + "damaged.mp4").Ok);
    // The recording cannot be opened, with the system's reason.
    QCOMPARE(Row(3).ConvertMark, TRowMark::Failed);
    QCOMPARE(Tip(3), L("sReasonOpen") + "\n" + Q(std::strerror(ENOENT)));
    QCOMPARE(Row(4).ConvertMark, TRowMark::Failed);
    QCOMPARE(Tip(4), L("sReasonNothing"));
    // The file name's tooltip tells it too, under the path.
    QCOMPARE(W().cdsConvert->data(W().cdsConvert->index(2, 0), Qt::ToolTipRole).toString(),
             Q(gone) + "\n" + Tip(3));

    // The end message names the failed files, and only those.
    QCOMPARE(FDialogs->Messages.size(), size_t(1));
    const QString end = FDialogs->Messages[0].Text;
    QCOMPARE(end, L("sConvertOver") + "\n\n" + L("sConvertFailedFiles") + "\ngone.vyr\nempty.vyr");
    QCOMPARE(FDialogs->Messages[0].Icon, TMsgIcon::Warning);
    QCOMPARE(FDialogs->Messages[0].Title, W().windowTitle());
  }

  void theDiskIsFull() {
    TSmallTmpfs disk(64 * 1024);
    if (!disk.Ok()) QSKIP(disk.Why().c_str());
    MakeCoreWindow();
    // 50 payloads of 4000 bytes: the raw stream does not fit.
    const std::string src = MakePatternRecording(FEnv->Dir(), "big.vyr", OmVideoType_H264, 50, 4000);
    Drop({src});
    W().txtSavePath->setText(Q(disk.Path() + "/"));
    W().SetOutFormatIndex(1);
    W().btnConvertClick();
    QTRY_VERIFY_WITH_TIMEOUT(!W().IsWorking(), 30000);
    QCOMPARE(Row(1).ConvertMark, TRowMark::Failed);
    QVERIFY2(Tip(1).startsWith(L("sReasonDiskFull") + "\n"), qPrintable(Tip(1)));
  }

  void reasonsOfEachOutcome_data() {
    // The tip: the text of "key" (its "%s" filled with "arg"), then "detail" on a line of its
    // own when there is one.
    QTest::addColumn<int>("status");
    QTest::addColumn<QString>("outFile");
    QTest::addColumn<QString>("message");
    QTest::addColumn<bool>("raw");
    QTest::addColumn<int>("mark");
    QTest::addColumn<QString>("key");
    QTest::addColumn<QString>("arg");
    const QString folder = QDir::tempPath() + "/no such folder";
    const QString enospc = Q(std::string("writing x failed: ") + std::strerror(ENOSPC));
    const QString edquot = Q(std::string("writing x failed: ") + std::strerror(EDQUOT));
    const int failed = int(TRowMark::Failed);
    QTest::newRow("output folder missing") << int(TConversionStatus::OutputFailed) << folder + "/a.mp4"
                                           << "cannot open the folder" << false << failed << "sReasonOutDirMissing" << folder;
    QTest::newRow("output refused") << int(TConversionStatus::OutputFailed) << "/dev/null"
                                    << "the output /dev/null is a device" << true << failed << "sReasonOutput"
                                    << "/dev/null";
    QTest::newRow("disk full") << int(TConversionStatus::WriteFailed) << "/tmp/a.mp4" << enospc << false << failed
                               << "sReasonDiskFull" << "";
    QTest::newRow("disk quota") << int(TConversionStatus::WriteFailed) << "/tmp/a.mp4" << edquot << false << failed
                                << "sReasonDiskFull" << "";
    QTest::newRow("disk full at creation") << int(TConversionStatus::OutputFailed) << "/tmp/a.mp4" << enospc << false
                                           << failed << "sReasonDiskFull" << "";
    QTest::newRow("write failed") << int(TConversionStatus::WriteFailed) << "/tmp/a.mp4" << "I/O error" << false
                                  << failed << "sReasonWrite" << "/tmp/a.mp4";
    QTest::newRow("no video, no audio") << int(TConversionStatus::NothingWritten) << "/tmp/a.mp4" << "" << false
                                        << failed << "sReasonNothing" << "";
    QTest::newRow("raw without video") << int(TConversionStatus::NothingWritten) << "/tmp/a.H264" << "" << true
                                       << failed << "sReasonNoVideo" << "";
    QTest::newRow("memory") << int(TConversionStatus::OutOfMemory) << "/tmp/a.mp4" << "" << false << failed
                            << "sReasonMemory" << "";
    QTest::newRow("other failure") << int(TConversionStatus::Failed) << "/tmp/a.mp4" << "" << false << failed
                                   << "sReasonFailed" << "";
    QTest::newRow("stopped, nothing kept") << int(TConversionStatus::Stopped) << "/tmp/a.mp4" << "" << false
                                           << int(TRowMark::Stopped) << "sStoppedNothingKept" << "";
    QTest::newRow("converted") << int(TConversionStatus::Converted) << "/tmp/a.mp4" << "" << false
                               << int(TRowMark::None) << "" << "";
  }
  void reasonsOfEachOutcome() {
    QFETCH(int, status);
    QFETCH(QString, outFile);
    QFETCH(QString, message);
    QFETCH(bool, raw);
    QFETCH(int, mark);
    QFETCH(QString, key);
    QFETCH(QString, arg);
    TConversionOutcome o;
    o.Status = static_cast<TConversionStatus>(status);
    o.OutFileName = outFile.toStdString();
    o.Message = message.toStdString();
    const TRowVerdict v = JudgeOutcome(o, raw);
    QCOMPARE(int(v.Mark), mark);
    QString tip;
    if (!key.isEmpty()) {
      tip = FormatText(L(key.toLatin1().constData()), {arg});
      QVERIFY(!tip.isEmpty());
      if (!message.isEmpty()) tip += "\n" + message;
    }
    QCOMPARE(v.Tip, tip);
  }

  void aRecordingThatEndedEarlyIsWarned() {
    TConversionOutcome o;
    o.Status = TConversionStatus::Converted;
    o.Warning = RecordEndedEarlyWarning;
    o.DamagedRegions = 2;
    o.DamagedBytes = 123;
    const TRowVerdict v = JudgeOutcome(o, false);
    QCOMPARE(v.Mark, TRowMark::Warned);
    QCOMPARE(v.Tip, FormatText(L("sConvertRecovered"), {"2", "123"}) + "\n" + L("sRecordEndedEarly"));
  }

  void theEndMessageNamesTenFailedFilesAndCountsTheRest() {
    MakeWindow(FTasks->Backend());
    std::vector<std::string> files;
    for (int i = 1; i <= 13; ++i) files.push_back(Rec("f" + std::to_string(100 + i) + ".vyr"));
    Drop(files);
    FTasks->Fail = true;
    W().btnConvertClick();
    RunTicksUntilIdle(W());
    QCOMPARE(W().FailedCount(), 13);
    QCOMPARE(FDialogs->Messages.size(), size_t(1));
    const QString text = FDialogs->Messages[0].Text;
    QVERIFY(text.contains("f101.vyr\n") && text.contains("f110.vyr\n"));
    QVERIFY(!text.contains("f111.vyr"));
    QVERIFY(text.endsWith("\n" + FormatText(L("sAndMore"), {"3"})));
  }

  void newConvertClearsTheMarksOfTheRowsItConverts() {
    MakeWindow(FTasks->Backend());
    Drop({Rec("a.vyr"), Rec("b.vyr")});
    W().cdsConvert->SetMark(1, TRowMark::Failed, "earlier");
    W().cdsConvert->SetMark(2, TRowMark::Warned, "earlier");
    auto* sm = W().dbgVyrSourceFile->selectionModel();
    sm->clearSelection();
    sm->select(W().cdsConvert->index(1, 0), QItemSelectionModel::Select | QItemSelectionModel::Rows);
    FTasks->AutoFinish = false;
    W().mniConvertSelFileClick();
    QCOMPARE(Row(1).ConvertMark, TRowMark::Failed);  // not converted in this run: kept
    QCOMPARE(Row(2).ConvertMark, TRowMark::None);
    QCOMPARE(Tip(2), QString());
    W().ShutdownTasks();
  }

  // ---- opening the output folder -------------------------------------------------------

  void openOutputFolder_data() {
    QTest::addColumn<QString>("script");  // the xdg-open on PATH; empty: none
    QTest::addColumn<bool>("told");
    QTest::newRow("opened") << "exit 0" << false;
    QTest::newRow("no handler") << "exit 3" << true;
    QTest::newRow("killed") << "kill -9 $$" << true;
    QTest::newRow("not installed") << QString() << true;
  }
  void openOutputFolder() {
    QFETCH(QString, script);
    QFETCH(bool, told);
    MakeWindow(FTasks->Backend());
    const std::string bin = FEnv->Dir().File("bin");
    ::mkdir(bin.c_str(), 0700);
    const std::string log = FEnv->Dir().File("opened");
    if (!script.isEmpty()) {
      WriteFileBytes(bin + "/xdg-open", "#!/bin/sh\nprintf '%s' \"$1\" > '" + log + "'\n" + script.toStdString() + "\n");
      ::chmod((bin + "/xdg-open").c_str(), 0700);
    }
    TScopedEnv path("PATH", bin);  // only the stand-in, or nothing at all
    const std::string folder = FEnv->Dir().File("to be made");
    W().txtSavePath->setText(Q(folder + "/"));
    W().lblOpenOutDirClick();
    QTRY_COMPARE(W().FolderOpener()->Running(), size_t(0));
    QTest::qWait(10);
    if (!script.isEmpty()) QCOMPARE(ReadFileBytes(log), folder);  // a missing folder is made, then opened
    struct stat st {};
    QVERIFY(::stat(folder.c_str(), &st) == 0 && S_ISDIR(st.st_mode));
    if (told) {
      QCOMPARE(FDialogs->Messages.size(), size_t(1));
      QCOMPARE(FDialogs->Messages[0].Text, FormatText(L("sOpenFolderFailed"), {Q(folder)}));
      QCOMPARE(FDialogs->Messages[0].Title, W().windowTitle());
    } else {
      QVERIFY(FDialogs->Messages.empty());
    }
  }
};

QTEST_MAIN(TestRunOutcomes)
#include "test_run_outcomes.moc"
