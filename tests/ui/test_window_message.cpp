// The window message "VyrMp4MsgProc" over the local socket, with a real client: the query
// answered only while a conversion runs, the close order (also while the window shows a
// box), log lines, the socket folder, a socket file left behind by a killed instance, a
// client in another process that never reads its answers; and the single-instance lock.
#include <QApplication>
#include <QDialog>
#include <QLineEdit>
#include <QTimer>
#include <QtTest>
#include <fstream>
#include <future>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include "UiTestSupport.h"
#include "support/UDmReadSysParamIni.h"
#include "ui/UFmVyrToMp4.h"
#include "ui/UInstanceActivation.h"
#include "ui/UInstanceLock.h"
#include "ui/UUserRuntimeDir.h"
#include "ui/UWindowMessage.h"

namespace {

// Sends a message from another thread while this one runs the event loop.
std::vector<TWindowMessage> SendAndWait(const TWindowMessage& AMsg, int AWaitMs, TSendResult* AResult = nullptr) {
  auto fut = std::async(std::launch::async, [AMsg, AWaitMs] {
    std::vector<TWindowMessage> replies;
    TSendResult r = SendWindowMessage(AMsg, AWaitMs, replies);
    return std::make_pair(r, replies);
  });
  while (fut.wait_for(std::chrono::milliseconds(0)) != std::future_status::ready) {
    QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
  }
  auto res = fut.get();
  if (AResult) *AResult = res.first;
  return res.second;
}

bool AnyDialogShown() {
  for (QWidget* w : QApplication::topLevelWidgets())
    if (qobject_cast<QDialog*>(w) && w->isVisible()) return true;
  return false;
}

}  // namespace

class TestWindowMessage : public TWindowTest {
  Q_OBJECT

 private:
  void StartBlockingRun() {
    const std::string p = FEnv->Dir().File("a.vyr");
    WriteFileBytes(p, "x");
    W().DropFiles({QString::fromStdString(p)});
    FTasks->AutoFinish = false;
    W().btnConvertClick();
    W().tmrUpdateTaskTimer();
    QTRY_VERIFY(FTasks->Running.load());
  }
  std::string LogLine(int64_t AValue) {
    return "MP4 Maker receive msg, handle=" + std::to_string(W().FMp4MsgHndl) +
           ", Value=" + std::to_string(AValue);
  }

 private slots:
  void init() {
    SetUp();
    MakeWindow();
    FWindow->txtSavePath->setText(QString::fromStdString(FEnv->Dir().Path() + "/"));
    QVERIFY(FWindow->StartMessageServers());
  }
  void cleanup() {
    TearDown();
  }

  void messageEncoding() {
    const TWindowMessage m{101, -2};
    auto b = EncodeWindowMessage(m);
    QCOMPARE(int(b[0]), 101);
    QCOMPARE(int(b[8]), 0xFE);
    QCOMPARE(int(b[15]), 0xFF);
    QVERIFY(DecodeWindowMessage(b.data()) == m);
    QCOMPARE(RegisterWindowMessageId(VYR_MP4_MSG_NAME), W().FMp4MsgHndl);
    QVERIFY(W().FMp4MsgHndl >= 0xC000u && W().FMp4MsgHndl <= 0xFFFFu);
  }

  void socketLivesInAPrivateFolder() {
    const std::string dir = GetUserRuntimeDir();
    QCOMPARE(dir, FEnv->Runtime() + "/VyrTranscode/");
    struct stat st {};
    QVERIFY(::stat(dir.c_str(), &st) == 0);
    QCOMPARE(int(st.st_mode & 0777), 0700);
    QVERIFY(::stat((dir + VYR_MP4_MSG_NAME).c_str(), &st) == 0 && S_ISSOCK(st.st_mode));
  }

  void queryWhenIdleGetsNoAnswer() {
    TLogCapture log;
    TSendResult r = TSendResult::Failed;
    auto replies = SendAndWait({VYR_MSG_QUERY, 4242}, 2000, &r);
    QCOMPARE(int(r), int(TSendResult::Sent));
    QVERIFY(replies.empty());
    QVERIFY(log.Contains(LogLine(101)));
  }

  void queryDuringARunIsAnswered() {
    StartBlockingRun();
    auto replies = SendAndWait({VYR_MSG_QUERY, 4242}, 2000);
    QCOMPARE(replies.size(), size_t(1));
    QVERIFY(replies[0] == (TWindowMessage{VYR_MSG_BUSY, 0}));
    W().ShutdownTasks();
  }

  void otherValuesAreOnlyLogged() {
    TLogCapture log;
    StartBlockingRun();
    auto replies = SendAndWait({7, 0}, 300);
    QVERIFY(replies.empty());
    QVERIFY(log.Contains(LogLine(7)));
    QVERIFY(W().IsWorking());
    W().ShutdownTasks();
  }

  void closeOrderDuringARunClosesWithoutAsking() {
    W().show();
    StartBlockingRun();
    SendAndWait({VYR_MSG_CLOSE, 0}, 0);
    QTRY_VERIFY(!W().isVisible());
    QVERIFY(FDialogs->Messages.empty());
    QVERIFY(!W().IsWorking());
    // The running task was told to stop and has been joined.
    QVERIFY(FTasks->SawStop.load());
    QVERIFY(!FTasks->Running.load());
  }

  // The close order closes the window even while it waits in one of its own boxes (the
  // real ones): an error at start-up, the end of a run, the question before closing.
  void closeOrderClosesTheWindowOverItsBox_data() {
    QTest::addColumn<QString>("box");
    QTest::newRow("settings error at show") << QStringLiteral("startup");
    QTest::newRow("run finished") << QStringLiteral("finished");
    QTest::newRow("question before closing") << QStringLiteral("question");
  }
  void closeOrderClosesTheWindowOverItsBox() {
    QFETCH(QString, box);
    std::unique_ptr<TDmReadSysParamIni> settings;
    if (box == QStringLiteral("startup")) {
      // No stored folder, and a folder in place of the settings file: the write at show
      // is refused for every user, root included.
      FEnv->WriteSettings("[RecordBrowerParam]\nLogLevel=0\n");
      settings = std::make_unique<TDmReadSysParamIni>();
      DmReadSysParamIni = settings.get();
      ::unlink(FEnv->SettingsFile().c_str());
      ::mkdir(FEnv->SettingsFile().c_str(), 0700);
    } else {
      W().show();
    }
    W().SetDialogs(DefaultWindowDialogs());
    // Once the box is up, another program sends the close order. Should the box stay, it
    // is closed later on (and the case fails) rather than waiting for a person.
    bool boxWasShown = false, boxStayed = false;
    std::future<TSendResult> sender;
    QTimer order, rescue;
    order.setSingleShot(true);
    rescue.setSingleShot(true);
    connect(&order, &QTimer::timeout, [&] {
      boxWasShown = AnyDialogShown();
      sender = std::async(std::launch::async, [] {
        std::vector<TWindowMessage> replies;
        return SendWindowMessage({VYR_MSG_CLOSE, 0}, 0, replies);
      });
    });
    connect(&rescue, &QTimer::timeout, [&] {
      boxStayed = AnyDialogShown();
      CloseOpenDialogs();
    });
    order.start(300);
    rescue.start(5000);
    if (box == QStringLiteral("startup")) {
      W().show();
    } else if (box == QStringLiteral("finished")) {
      const std::string p = FEnv->Dir().File("a.vyr");
      WriteFileBytes(p, "x");
      W().DropFiles({QString::fromStdString(p)});
      W().btnConvertClick();
      RunTicksUntilIdle(W());
    } else {
      StartBlockingRun();
      W().close();  // asks first: a conversion runs
    }
    QTRY_VERIFY(sender.valid());
    QCOMPARE(int(sender.get()), int(TSendResult::Sent));
    DmReadSysParamIni = nullptr;
    QVERIFY(boxWasShown);
    QVERIFY2(!boxStayed, "the box held the close order up");
    QTRY_VERIFY(!W().isVisible());
    QVERIFY(!AnyDialogShown());
    QVERIFY(!W().IsWorking());
    QVERIFY(!FTasks->Running.load());
  }

  // A client in another process floods queries during a run and never reads the answers:
  // it is dropped once 64 KiB of answers wait for it, and the program's memory stays put.
  void aClientThatNeverReadsIsDropped() {
    StartBlockingRun();
    const std::string path = UserRuntimeFile(VYR_MP4_MSG_NAME);
    sockaddr_un addr{};
    addr.sun_family = AF_UNIX;
    std::snprintf(addr.sun_path, sizeof(addr.sun_path), "%s", path.c_str());
    std::vector<uint8_t> block;
    const auto query = EncodeWindowMessage({VYR_MSG_QUERY, 1});
    for (int i = 0; i < 4096; ++i) block.insert(block.end(), query.begin(), query.end());
    constexpr size_t FloodBytes = 32u << 20;
    const long before = ResidentKb();
    pid_t pid = ::fork();
    if (pid == 0) {
      // Only calls that are safe after a fork.
      int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
      if (::connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof(addr)) != 0) ::_exit(3);
      timeval limit{10, 0};
      ::setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &limit, sizeof(limit));
      size_t sent = 0;
      while (sent < FloodBytes) {
        ssize_t n = ::send(fd, block.data(), block.size(), MSG_NOSIGNAL);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) ::_exit(errno == EPIPE || errno == ECONNRESET ? 0 : 2);
        sent += size_t(n);
      }
      ::_exit(1);  // all of it went out: never dropped
    }
    QVERIFY(pid > 0);
    long peak = before;
    int status = 0;
    QElapsedTimer t;
    t.start();
    while (::waitpid(pid, &status, WNOHANG) == 0) {
      if (t.elapsed() > 30000) {
        ::kill(pid, SIGKILL);
        ::waitpid(pid, &status, 0);
        QFAIL("the flooding client was never dropped");
      }
      QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
      peak = std::max(peak, ResidentKb());
    }
    QVERIFY(WIFEXITED(status));
    QCOMPARE(WEXITSTATUS(status), 0);
    QVERIFY2(peak - before < 8 * 1024, qPrintable(QString("grew by %1 KiB").arg(peak - before)));
    // The program answers the next client as before.
    auto replies = SendAndWait({VYR_MSG_QUERY, 2}, 2000);
    QCOMPARE(replies.size(), size_t(1));
    W().ShutdownTasks();
  }

  void noProgramMeansNoInstance() {
    FWindow.reset();
    std::vector<TWindowMessage> replies;
    QCOMPARE(int(SendWindowMessage({VYR_MSG_QUERY, 0}, 100, replies)), int(TSendResult::NoInstance));
  }

  void aSocketLeftBehindDoesNotBlockTheNextStart() {
    FWindow.reset();
    // A socket file as a killed process leaves it: bound, never removed.
    const std::string path = UserRuntimeFile(VYR_MP4_MSG_NAME);
    ::unlink(path.c_str());
    int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
    sockaddr_un addr{};
    addr.sun_family = AF_UNIX;
    std::snprintf(addr.sun_path, sizeof(addr.sun_path), "%s", path.c_str());
    QCOMPARE(::bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof(addr)), 0);
    ::close(fd);
    std::vector<TWindowMessage> replies;
    QCOMPARE(int(SendWindowMessage({VYR_MSG_QUERY, 0}, 100, replies)), int(TSendResult::NoInstance));

    FWindow = std::make_unique<TFmVyrToMp4>(FTasks->Backend());
    QVERIFY(FWindow->StartMessageServers());
    TSendResult r = TSendResult::Failed;
    SendAndWait({VYR_MSG_QUERY, 0}, 500, &r);
    QCOMPARE(int(r), int(TSendResult::Sent));
  }

  void activationRequestReachesTheWindow() {
    QSignalSpy spy(FWindow.get(), &TFmVyrToMp4::Activated);
    W().show();
    W().showMinimized();
    auto fut = std::async(std::launch::async, [] { return RequestActivation(3000); });
    while (fut.wait_for(std::chrono::milliseconds(0)) != std::future_status::ready)
      QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
    QVERIFY(fut.get());
    QCOMPARE(spy.count(), 1);
    QVERIFY(!W().isMinimized());
    QVERIFY(W().isVisible());
  }

  void singleInstanceLock() {
    auto first = std::make_unique<TInstanceLock>(VYR_INSTANCE_LOCK_NAME);
    QVERIFY(first->TryAcquire());
    // A second holder in another process is refused while the first holds the lock.
    auto tryInChild = [] {
      pid_t pid = ::fork();
      if (pid == 0) {
        TInstanceLock second(VYR_INSTANCE_LOCK_NAME);
        ::_exit(second.TryAcquire() ? 0 : 1);
      }
      int status = 0;
      ::waitpid(pid, &status, 0);
      return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    };
    QCOMPARE(tryInChild(), 1);
    first.reset();  // released: the next start gets it
    QCOMPARE(tryInChild(), 0);
  }
};

QTEST_MAIN(TestWindowMessage)
#include "test_window_message.moc"
