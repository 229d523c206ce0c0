// Files given to the program: handed over by a second start through the activation socket
// (the window lists them and comes forward; during a run they wait for its end; a second
// start before the window listens tries again), and refused messages.
#include <QLineEdit>
#include <QLocalSocket>
#include <QtTest>
#include <future>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include "UiTestSupport.h"
#include "ui/UFileListModel.h"
#include "ui/UFmVyrToMp4.h"
#include "ui/UHandOver.h"
#include "ui/UInstanceActivation.h"
#include "ui/UUserRuntimeDir.h"
#include "ui/UWindowMessage.h"

namespace {

// Runs AWork on another thread while this one runs the event loop.
template <typename T>
T WhileServing(std::function<T()> AWork) {
  auto fut = std::async(std::launch::async, std::move(AWork));
  while (fut.wait_for(std::chrono::milliseconds(0)) != std::future_status::ready)
    QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
  return fut.get();
}

// Sends raw bytes to the activation socket and returns the one-byte answer (0: none).
char SendRaw(const std::string& ABytes) {
  bool noListener = false;
  const int fd = ConnectUserSocket(VYR_ACTIVATION_NAME, noListener);
  if (fd < 0) return 0;
  size_t at = 0;
  while (at < ABytes.size()) {
    const ssize_t n = ::send(fd, ABytes.data() + at, ABytes.size() - at, MSG_NOSIGNAL);
    if (n <= 0) break;
    at += static_cast<size_t>(n);
  }
  char answer = 0;
  timeval tv{5, 0};
  ::setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv);
  if (::recv(fd, &answer, 1, 0) != 1) answer = 0;
  ::close(fd);
  return answer;
}

}  // namespace

class TestFilesGiven : public TWindowTest {
  Q_OBJECT

 private:
  QStringList Paths() {
    QStringList l;
    for (int i = 1; i <= W().cdsConvert->RecordCount(); ++i)
      l << QString::fromStdString(W().cdsConvert->Row(i)->Path);
    return l;
  }
  static QStringList Q(const std::vector<std::string>& ANames) {
    QStringList l;
    for (const auto& n : ANames) l << QString::fromStdString(n);
    return l;
  }
  THandOverResult HandOver(const std::vector<std::string>& ANames, int ARetryMs = 0) {
    return WhileServing<THandOverResult>([ANames, ARetryMs] { return HandOverToRunningInstance(ANames, ARetryMs, 5000); });
  }

 private slots:
  void init() {
    SetUp();
    MakeWindow();
  }
  void cleanup() {
    TearDown();
  }

  // A listed name is found whatever the case of its letters A to Z; other letters keep theirs.
  void listedNamesAreFoundWithoutTheCaseOfAToZ() {
    W().DropFiles({QString::fromStdString(Rec("Cam.vyr")), QString::fromStdString(Rec("d\xc3\xa9.vyr"))});
    QCOMPARE(W().cdsConvert->RecordCount(), 2);
    QVERIFY(W().CheckFileHasInList(QStringLiteral("CAM.VYR")));
    QVERIFY(W().CheckFileHasInList(QStringLiteral("cam.vyr")));
    QVERIFY(W().CheckFileHasInList(QString::fromUtf8("D\xc3\xa9.VYR")));
    QVERIFY(!W().CheckFileHasInList(QString::fromUtf8("D\xc3\x89.VYR")));
    QVERIFY(!W().CheckFileHasInList(QStringLiteral("Cam")));
    QVERIFY(!W().CheckFileHasInList(QString()));
  }

  void handedOverFilesAreListedAndTheWindowComesForward() {
    QVERIFY(W().StartMessageServers());
    W().show();
    W().showMinimized();
    QSignalSpy activated(FWindow.get(), &TFmVyrToMp4::Activated);
    // Bytes that are not UTF-8 reach the list unchanged.
    const std::vector<std::string> files = {Rec("a.vyr"), Rec("b \xff\xfe.vyr"), Rec("c.VYR")};
    QCOMPARE(int(HandOver(files)), int(THandOverResult::Delivered));
    QCOMPARE(activated.count(), 1);
    QVERIFY(!W().isMinimized());
    QTRY_COMPARE(Paths(), Q(files));
    QVERIFY(FDialogs->Messages.empty());
    // The first row is selected, as after a drop.
    QCOMPARE(W().dbgVyrSourceFile->selectionModel()->selectedRows().size(), 1);
    // A file that is listed already is left out quietly; one of another folder under a
    // listed name is left out with a message; a name that is not a record's stops the
    // adding with a message, as a drop does.
    ::mkdir(FEnv->Dir().File("other").c_str(), 0700);
    QCOMPARE(int(HandOver({files[0], Rec("other/a.vyr"), Rec("d.vyr"), Rec("notes.txt"), Rec("e.vyr")})),
             int(THandOverResult::Delivered));
    QTRY_COMPARE(FDialogs->Messages.size(), size_t(2));
    QCOMPARE(Paths(), Q({files[0], files[1], files[2], FEnv->Dir().File("d.vyr")}));
    QVERIFY(FDialogs->Messages[0].Text.startsWith(TFmVyrToMp4::Lang("sSameNameNotAdded")));
    QCOMPARE(FDialogs->Messages[1].Text, TFmVyrToMp4::Lang("sPlayFormatError"));
    // A message without files only brings the window forward.
    QCOMPARE(int(HandOver({})), int(THandOverResult::Delivered));
    QCOMPARE(activated.count(), 3);
    QCOMPARE(W().cdsConvert->RecordCount(), 4);
  }

  void filesHandedOverDuringARunAreListedWhenItEnds() {
    QVERIFY(W().StartMessageServers());
    W().show();
    const std::string first = Rec("first.vyr");
    W().DropFiles({QString::fromStdString(first)});
    FTasks->AutoFinish = false;
    W().btnConvertClick();
    W().tmrUpdateTaskTimer();
    QTRY_VERIFY(FTasks->Running.load());
    // Two second starts, one after the other, while the run goes on.
    const std::vector<std::string> batch1 = {Rec("h1.vyr"), Rec("h2.vyr")}, batch2 = {Rec("h3.vyr")};
    QCOMPARE(int(HandOver(batch1)), int(THandOverResult::Delivered));
    QCOMPARE(int(HandOver(batch2)), int(THandOverResult::Delivered));
    QTest::qWait(50);
    QCOMPARE(W().cdsConvert->RecordCount(), 1);  // nothing changes the list during a run
    QCOMPARE(W().PendingHandOverCount(), size_t(3));
    FTasks->Release = true;
    QTRY_VERIFY_WITH_TIMEOUT(!W().IsWorking(), 10000);
    // They are listed after the run, in the order they came; none was converted.
    QTRY_COMPARE(Paths(), Q({first, batch1[0], batch1[1], batch2[0]}));
    QCOMPARE(FTasks->CallCount(), size_t(1));
    QCOMPARE(W().PendingHandOverCount(), size_t(0));
  }

  void filesWaitWhileABoxIsOpen() {
    QVERIFY(W().StartMessageServers());
    W().show();
    // The end-of-run box is open when a second start hands files over: they are listed
    // once it is closed, never while it is open.
    W().DropFiles({QString::fromStdString(Rec("r.vyr"))});
    const std::string late = Rec("late.vyr");
    size_t rowsWhileOpen = 0;
    TWindowDialogs dialogs = FDialogs->Dialogs();
    dialogs.MessageBox = [&](QWidget*, const TMessageBoxRequest&) {
      // The box's own event loop serves the second start meanwhile.
      WhileServing<THandOverResult>([late] { return HandOverToRunningInstance({late}, 0, 5000); });
      QTest::qWait(50);
      rowsWhileOpen = static_cast<size_t>(W().cdsConvert->RecordCount());
      return TMsgResult::Ok;
    };
    W().SetDialogs(dialogs);
    W().btnConvertClick();
    QTRY_VERIFY_WITH_TIMEOUT(!W().IsWorking(), 10000);
    QCOMPARE(rowsWhileOpen, size_t(1));
    QTRY_COMPARE(W().cdsConvert->RecordCount(), 2);
  }

  void aSecondStartTriesAgainUntilTheWindowListens() {
    // The first instance is still starting: its window listens 700 ms from now.
    QTimer::singleShot(700, this, [this] { QVERIFY(W().StartMessageServers()); });
    W().show();
    const std::vector<std::string> files = {Rec("early.vyr")};
    QElapsedTimer clock;
    clock.start();
    QCOMPARE(int(HandOver(files, 5000)), int(THandOverResult::Delivered));
    QVERIFY(clock.elapsed() >= 600);
    QTRY_COMPARE(Paths(), Q(files));
  }

  void aSecondStartGivesUpAfterItsRetryTime() {
    W().show();  // nobody listens
    QElapsedTimer clock;
    clock.start();
    QCOMPARE(int(HandOver({Rec("lost.vyr")}, 400)), int(THandOverResult::NoInstance));
    QVERIFY(clock.elapsed() >= 400);
    QVERIFY(clock.elapsed() < 3000);
  }

  void filesGivenBeforeTheWindowIsShownWaitForIt() {
    // The program's own command line: handed to the window before it is shown.
    const std::vector<std::string> files = {Rec("cli1.vyr"), Rec("cli2.vyr")};
    W().HandOverFiles(files);
    QTest::qWait(20);
    QCOMPARE(W().cdsConvert->RecordCount(), 0);
    W().show();
    QTRY_COMPARE(Paths(), Q(files));
  }

  void manyFilesTravelInSeveralMessagesInOrder() {
    QVERIFY(W().StartMessageServers());
    W().show();
    std::vector<std::string> files;
    for (int i = 0; i < 150; ++i) files.push_back("/nonexistent/" + std::string(900, 'p') + std::to_string(1000 + i) + ".vyr");
    QVERIFY(SplitHandOver(files).size() > 1);
    QCOMPARE(int(HandOver(files)), int(THandOverResult::Delivered));
    QTRY_COMPARE(W().cdsConvert->RecordCount(), 150);
    QCOMPARE(Paths(), Q(files));
  }

  void malformedAndUnknownMessagesAreRefused() {
    QVERIFY(W().StartMessageServers());
    W().show();
    QSignalSpy activated(FWindow.get(), &TFmVyrToMp4::Activated);
    std::string v2 = EncodeHandOver({Rec("v2.vyr")});
    v2[4] = 2;  // version 2
    QCOMPARE(WhileServing<char>([v2] { return SendRaw(v2); }), VYR_HANDOVER_REFUSED);
    QCOMPARE(WhileServing<char>([] { return SendRaw("GET / HTTP/1.0\r\n\r\n"); }), VYR_HANDOVER_REFUSED);
    // A message that claims more than the limit is refused once the limit is passed.
    std::string huge = EncodeHandOver({std::string(VYR_HANDOVER_MAX_NAME, 'a')});
    huge += std::string(VYR_HANDOVER_MAX_BYTES, 'z');
    huge[8] = 3;  // three names: the second would lie past the limit
    QCOMPARE(WhileServing<char>([huge] { return SendRaw(huge); }), VYR_HANDOVER_REFUSED);
    QTest::qWait(20);
    QCOMPARE(activated.count(), 0);
    QCOMPARE(W().cdsConvert->RecordCount(), 0);
    // The window still serves the next start.
    QCOMPARE(int(HandOver({Rec("ok.vyr")})), int(THandOverResult::Delivered));
    QTRY_COMPARE(W().cdsConvert->RecordCount(), 1);
  }
};

QTEST_MAIN(TestFilesGiven)
#include "test_files_given.moc"
