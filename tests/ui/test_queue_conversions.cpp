// The queue with real conversions of generated recordings: the files the queue writes are
// judged by ffprobe and ffmpeg.
#include <QLineEdit>
#include <QPushButton>
#include <QtTest>
#include <algorithm>
#include <unistd.h>

#include "UFfmpegMedia.h"
#include "UVideoPayloadEncoders.h"
#include "UVyrSampleGen.h"
#include "UiTestSupport.h"
#include "conversion/UDmRecordToMP4.h"
#include "conversion/URawExport.h"
#include "ui/UFileListModel.h"
#include "ui/UFmVyrToMp4.h"
#include "ui/UWindowMessage.h"

namespace {

// A short recording with real video (CIF, H.264 unless asked otherwise) and A-law audio.
// Motion JPEG is transcoded, so its conversion takes long enough to be stopped midway.
std::string MakeRecording(const TTempDir& ADir, const std::string& AName, uint32_t AFrames,
                          int AVideoType = OmVideoType_H264) {
  TRecordingSpec spec;
  spec.VideoType = AVideoType;
  spec.VideoMode = OmResolution_CIF;
  spec.FrameRate = 25;
  spec.Frames = AFrames;
  spec.KeyInterval = 25;
  std::string error;
  const std::string path = ADir.File(AName);
  return SaveEncodedRecording(spec, path, error) ? path : std::string();
}

}  // namespace

class TestQueueConversions : public TWindowTest {
  Q_OBJECT

 private:
  std::unique_ptr<TDmRecordToMP4> FTask;

  // The window with the program's backend and its conversion task.
  void MakeCoreWindow() {
    FTask = std::make_unique<TDmRecordToMP4>();
    DmRecordToMP4 = FTask.get();
    MakeWindow(CoreConversionBackend());
  }
  static TConversionBackend RawBackend() {
    TConversionBackend b;
    b.RecordToRaw = [](const std::string& ASrc, const std::string& AOut, std::atomic<int>& AProgress,
                       TConversionOutcome* AOutcome, const std::atomic<bool>* AAbort) {
      ExecRecordToRawFile(ASrc, AOut, AProgress, AOutcome, AAbort);
    };
    return b;
  }

 private slots:
  void init() {
    SetUp();
    QVERIFY(QDir().mkpath(QString::fromStdString(FOut)));
  }
  void cleanup() {
    FWindow.reset();
    DmRecordToMP4 = nullptr;
    FTask.reset();
    TearDown();
  }

  void threeRowsToMp4() {
    MakeCoreWindow();
    QStringList names;
    for (const char* n : {"m1.vyr", "m2.vyr", "m3.vyr"}) {
      const std::string p = MakeRecording(FEnv->Dir(), n, 25);
      QVERIFY(!p.empty());
      names << QString::fromStdString(p);
    }
    W().DropFiles(names);
    W().btnConvertClick();
    int maxEcsing = 0;
    // Rows turn eCSing one at a time, in list order.
    std::vector<int> order;
    QTRY_VERIFY_WITH_TIMEOUT(
        [&] {
          int n = 0;
          for (int i = 1; i <= 3; ++i) {
            if (Row(i).ConvertStatus == eCSing) {
              ++n;
              if (order.empty() || order.back() != i) order.push_back(i);
            }
          }
          maxEcsing = std::max(maxEcsing, n);
          return !W().IsWorking();
        }(),
        60000);
    QCOMPARE(maxEcsing, 1);
    QVERIFY(std::is_sorted(order.begin(), order.end()));
    QCOMPARE(FDialogs->Texts(), QStringList({TFmVyrToMp4::Lang("sConvertOver")}));
    QCOMPARE(W().btnConvert->text(), TFmVyrToMp4::Lang("sBtnConvert"));
    for (int i = 1; i <= 3; ++i) {
      QCOMPARE(int(Row(i).ConvertStatus), int(eCSOver));
      QCOMPARE(Row(i).ConvertProgress, 100);
      QCOMPARE(Row(i).ConvertMark, TRowMark::None);
      const std::string out = FOut + "m" + std::to_string(i) + ".mp4";
      const TMediaInfo info = ProbeMedia(out);
      QVERIFY2(info.Ok, out.c_str());
      QVERIFY(info.Video() && info.Audio());
      QCOMPARE(info.Video()->CodecName, std::string("h264"));
      QCOMPARE(info.Video()->Frames, 25LL);
      QCOMPARE(info.Audio()->CodecName, std::string("aac"));
      QCOMPARE(DecodeErrors(out), std::string());
    }
  }

  void stopDuringAnMp4Conversion() {
    MakeCoreWindow();
    const std::string p1 = MakeRecording(FEnv->Dir(), "long.vyr", 750, OmVideoType_MJPEG);
    const std::string p2 = MakeRecording(FEnv->Dir(), "next.vyr", 10);
    W().DropFiles({QString::fromStdString(p1), QString::fromStdString(p2)});
    W().btnConvertClick();
    QTRY_VERIFY_WITH_TIMEOUT(Row(1).ConvertProgress > 0, 30000);
    QVERIFY(Row(1).ConvertStatus == eCSing);
    W().btnConvertClick();  // stop
    QTRY_VERIFY_WITH_TIMEOUT(!W().IsWorking(), 30000);
    QVERIFY(FDialogs->Messages.empty());
    QCOMPARE(W().btnConvert->text(), TFmVyrToMp4::Lang("sBtnConvert"));
    QCOMPARE(int(Row(1).ConvertStatus), int(eCSOver));
    QVERIFY(Row(1).ConvertProgress > 0 && Row(1).ConvertProgress < 100);  // its last progress
    QCOMPARE(Row(1).ConvertMark, TRowMark::Stopped);
    QCOMPARE(int(Row(2).ConvertStatus), int(eCSNull));
    // What was converted before the stop is a playable MP4.
    const TMediaInfo info = ProbeMedia(FOut + "long.mp4");
    QVERIFY(info.Ok && info.Video());
    QVERIFY(info.Video()->Frames > 0 && info.Video()->Frames < 750);
    QCOMPARE(DecodeErrors(FOut + "long.mp4"), std::string());
    QVERIFY(!FileExists(FOut + "next.mp4"));
  }

  void closeOrderDuringAnMp4ConversionClosesTheFile() {
    MakeCoreWindow();
    QVERIFY(W().StartMessageServers());
    W().show();  // fills in the default output folder: ours again
    W().txtSavePath->setText(QString::fromStdString(FOut));
    const std::string p1 = MakeRecording(FEnv->Dir(), "closed.vyr", 750, OmVideoType_MJPEG);
    W().DropFiles({QString::fromStdString(p1)});
    W().btnConvertClick();
    QTRY_VERIFY_WITH_TIMEOUT(Row(1).ConvertProgress > 0, 30000);
    std::vector<TWindowMessage> replies;
    QCOMPARE(int(SendWindowMessage({VYR_MSG_CLOSE, 0}, 0, replies)), int(TSendResult::Sent));
    QTRY_VERIFY_WITH_TIMEOUT(!W().isVisible(), 30000);
    QVERIFY(FDialogs->Messages.empty());
    QVERIFY(!DmRecordToMP4->IsWorking());
    const TMediaInfo info = ProbeMedia(FOut + "closed.mp4");
    QVERIFY(info.Ok && info.Video());
    QVERIFY(info.Video()->Frames > 0);
    QCOMPARE(DecodeErrors(FOut + "closed.mp4"), std::string());
  }

  void rawFormatWritesTheStreams() {
    MakeWindow(RawBackend());
    QStringList names;
    for (const char* n : {"r1.vyr", "r2.vyr"}) {
      const std::string p = MakeRecording(FEnv->Dir(), n, 30);
      QVERIFY(!p.empty());
      names << QString::fromStdString(p);
    }
    W().DropFiles(names);
    W().SetOutFormatIndex(1);
    W().btnConvertClick();
    QTRY_VERIFY_WITH_TIMEOUT(!W().IsWorking(), 30000);
    QCOMPARE(FDialogs->Texts(), QStringList({TFmVyrToMp4::Lang("sConvertOver")}));
    for (int i = 1; i <= 2; ++i) {
      QCOMPARE(int(Row(i).ConvertStatus), int(eCSOver));
      QCOMPARE(Row(i).ConvertProgress, 100);
      QCOMPARE(Row(i).ConvertMark, TRowMark::None);
      const std::string out = FOut + "r" + std::to_string(i) + ".H264";
      const TMediaInfo info = ProbeMedia(out);
      QVERIFY2(info.Ok, out.c_str());
      QVERIFY(info.Video());
      QCOMPARE(info.Video()->CodecName, std::string("h264"));
      QCOMPARE(info.Video()->Frames, 30LL);
      QCOMPARE(DecodeErrors(out), std::string());
    }
  }

  void stopDuringARawExportLetsItFinish() {
    MakeWindow(RawBackend());
    const std::string p1 = MakeRecording(FEnv->Dir(), "s1.vyr", 100);
    const std::string p2 = MakeRecording(FEnv->Dir(), "s2.vyr", 10);
    W().DropFiles({QString::fromStdString(p1), QString::fromStdString(p2)});
    W().SetOutFormatIndex(1);
    W().btnConvertClick();
    W().tmrUpdateTaskTimer();  // starts the first export
    W().btnConvertClick();     // stop
    QTRY_VERIFY_WITH_TIMEOUT(!W().IsWorking(), 30000);
    QVERIFY(FDialogs->Messages.empty());
    QCOMPARE(int(Row(1).ConvertStatus), int(eCSOver));
    QCOMPARE(int(Row(2).ConvertStatus), int(eCSNull));
    // The export ran to the end of its file: every frame is there.
    const TMediaInfo info = ProbeMedia(FOut + "s1.H264");
    QVERIFY(info.Ok && info.Video());
    QCOMPARE(info.Video()->Frames, 100LL);
    QVERIFY(!FileExists(FOut + "s2.H264"));
  }

  void aDeletedFileEndsItsRowAndTheRunGoesOn() {
    MakeWindow(RawBackend());
    const std::string gone = MakeRecording(FEnv->Dir(), "gone.vyr", 10);
    const std::string kept = MakeRecording(FEnv->Dir(), "kept.vyr", 10);
    W().DropFiles({QString::fromStdString(gone), QString::fromStdString(kept)});
    ::unlink(gone.c_str());
    W().SetOutFormatIndex(1);
    W().btnConvertClick();
    QTRY_VERIFY_WITH_TIMEOUT(!W().IsWorking(), 30000);
    QCOMPARE(int(Row(1).ConvertStatus), int(eCSOver));
    QCOMPARE(Row(1).ConvertProgress, 100);
    QCOMPARE(Row(1).ConvertMark, TRowMark::Failed);
    QCOMPARE(int(Row(2).ConvertStatus), int(eCSOver));
    QCOMPARE(Row(2).ConvertMark, TRowMark::None);
    QVERIFY(FileExists(FOut + "kept.H264"));
    QCOMPARE(FDialogs->Messages.size(), size_t(1));
    QVERIFY(FDialogs->Messages[0].Text.contains(QStringLiteral("\ngone.vyr")));
  }
};

QTEST_MAIN(TestQueueConversions)
#include "test_queue_conversions.moc"
