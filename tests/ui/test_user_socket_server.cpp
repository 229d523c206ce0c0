// The bounded per-user socket server behind the window message and the activation socket:
// its idle timeout (10 s unless the environment says otherwise), the cap of clients served
// at once, the bound on unread replies, and its socket file.
#include <QtTest>
#include <fcntl.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include "UiTestSupport.h"
#include "ui/UInstanceActivation.h"
#include "ui/UUserRuntimeDir.h"
#include "ui/UWindowMessageServer.h"

namespace {

constexpr const char* SocketName = "TestSocket";

class TClient {
 public:
  explicit TClient(const std::string& APath) {
    FFd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    sockaddr_un addr{};
    addr.sun_family = AF_UNIX;
    std::snprintf(addr.sun_path, sizeof(addr.sun_path), "%s", APath.c_str());
    Connected = ::connect(FFd, reinterpret_cast<sockaddr*>(&addr), sizeof(addr)) == 0;
  }
  ~TClient() { Close(); }
  TClient(const TClient&) = delete;
  TClient& operator=(const TClient&) = delete;
  void Close() {
    if (FFd >= 0) ::close(FFd);
    FFd = -1;
  }
  bool Say(char AByte = 'x') { return ::send(FFd, &AByte, 1, MSG_NOSIGNAL) == 1; }
  // Reads what has come; false once the server has closed the connection.
  bool Drain() {
    char buf[4096];
    for (;;) {
      ssize_t n = ::recv(FFd, buf, sizeof(buf), MSG_DONTWAIT);
      if (n > 0) {
        Received += static_cast<size_t>(n);
        continue;
      }
      if (n == 0) return false;
      return errno == EAGAIN || errno == EWOULDBLOCK;
    }
  }
  bool Connected = false;
  size_t Received = 0;

 private:
  int FFd = -1;
};

// Lets the event loop run for a while.
void Spin(int AMs) {
  QElapsedTimer t;
  t.start();
  while (t.elapsed() < AMs) QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
}

}  // namespace

class TestUserSocketServer : public QObject {
  Q_OBJECT

 private:
  std::unique_ptr<TUiTestEnv> FEnv;
  std::string Path() const { return UserRuntimeFile(SocketName); }

 private slots:
  void init() { FEnv = std::make_unique<TUiTestEnv>(); }
  void cleanup() { FEnv.reset(); }

  void idleTimeoutIsTenSecondsUnlessTheEnvironmentSetsIt_data() {
    QTest::addColumn<QString>("value");
    QTest::addColumn<int>("expected");
    QTest::newRow("unset") << QString() << 10000;
    QTest::newRow("empty") << QString("") << 10000;
    QTest::newRow("short") << QString("250") << 250;
    QTest::newRow("longest") << QString("600000") << 600000;
    QTest::newRow("too long") << QString("600001") << 10000;
    QTest::newRow("zero") << QString("0") << 10000;
    QTest::newRow("negative") << QString("-5") << 10000;
    QTest::newRow("not a number") << QString("5s") << 10000;
    QTest::newRow("huge") << QString("99999999999999999999999") << 10000;
  }
  void idleTimeoutIsTenSecondsUnlessTheEnvironmentSetsIt() {
    QFETCH(QString, value);
    QFETCH(int, expected);
    if (value.isNull()) ::unsetenv("VYR_SOCKET_IDLE_MS");
    else ::setenv("VYR_SOCKET_IDLE_MS", value.toUtf8().constData(), 1);
    TUserSocketServer server;
    TWindowMessageServer msgServer;
    TActivationServer activation;
    ::unsetenv("VYR_SOCKET_IDLE_MS");
    QCOMPARE(server.IdleTimeoutMs(), expected);
    QCOMPARE(msgServer.Server().IdleTimeoutMs(), expected);
    QCOMPARE(activation.Server().IdleTimeoutMs(), expected);
  }

  void silentClientsAreClosedAndTalkingOnesKept() {
    TUserSocketServer server(nullptr, 150);
    connect(&server, &TUserSocketServer::DataReady, &server, [](QLocalSocket* AConn) { AConn->readAll(); });
    QVERIFY(server.Listen(SocketName));
    TClient silent(Path()), talking(Path());
    QVERIFY(silent.Connected && talking.Connected);
    // The talking client says something every 50 ms for 600 ms: it is kept all along.
    for (int i = 0; i < 12; ++i) {
      QVERIFY(talking.Say());
      Spin(50);
      QVERIFY2(talking.Drain(), "a client that talks was closed");
    }
    QVERIFY(!silent.Drain());
    QCOMPARE(server.ClientCount(), 1);
    // Once quiet, it goes too.
    QTRY_VERIFY(!talking.Drain());
    QTRY_COMPARE(server.ClientCount(), 0);
    QVERIFY(server.IsListening());
  }

  void atMostThirtyTwoClientsAreServedAtOnce() {
    TUserSocketServer server(nullptr, 60000);
    connect(&server, &TUserSocketServer::DataReady, &server, [](QLocalSocket* AConn) {
      AConn->readAll();
      TUserSocketServer::Send(AConn, "!", 1);
    });
    QVERIFY(server.Listen(SocketName));
    std::vector<std::unique_ptr<TClient>> clients;
    for (int i = 0; i < TUserSocketServer::MAX_CLIENTS + 3; ++i) {
      clients.push_back(std::make_unique<TClient>(Path()));
      QVERIFY(clients.back()->Connected);
      QVERIFY(clients.back()->Say());
    }
    auto answered = [&] {
      int n = 0;
      for (auto& c : clients) {
        c->Drain();
        n += c->Received > 0;
      }
      return n;
    };
    QTRY_COMPARE(answered(), TUserSocketServer::MAX_CLIENTS);
    Spin(200);
    QCOMPARE(answered(), TUserSocketServer::MAX_CLIENTS);
    QCOMPARE(server.ClientCount(), TUserSocketServer::MAX_CLIENTS);
    // Each one that leaves lets one waiting client in, in the order they came.
    clients[0]->Close();
    QTRY_COMPARE(answered(), TUserSocketServer::MAX_CLIENTS + 1);
    Spin(100);
    QCOMPARE(answered(), TUserSocketServer::MAX_CLIENTS + 1);
    QCOMPARE(int(clients.back()->Received), 0);
    clients[1]->Close();
    clients[2]->Close();
    QTRY_COMPARE(answered(), TUserSocketServer::MAX_CLIENTS + 3);
    QCOMPARE(int(clients.back()->Received), 1);
  }

  void aClientLeavingRepliesUnreadIsDropped() {
    TUserSocketServer server(nullptr, 60000);
    QPointer<QLocalSocket> conn;
    connect(&server, &TUserSocketServer::DataReady, &server, [&conn](QLocalSocket* AConn) {
      AConn->readAll();
      conn = AConn;
    });
    QVERIFY(server.Listen(SocketName));
    TClient client(Path());
    QVERIFY(client.Say());
    QTRY_VERIFY(conn);
    // Replies the client never reads: the system's buffer fills, then at most 64 KiB wait
    // in the program, then the client is dropped.
    const std::string chunk(1000, 'r');
    size_t sent = 0;
    while (sent < 16u * 1024 * 1024 && TUserSocketServer::Send(conn, chunk.data(), qint64(chunk.size()))) {
      sent += chunk.size();
      QVERIFY(conn->bytesToWrite() <= TUserSocketServer::MAX_QUEUED_REPLY_BYTES);
    }
    QVERIFY2(sent < 16u * 1024 * 1024, "the replies were queued without bound");
    QVERIFY(sent >= size_t(TUserSocketServer::MAX_QUEUED_REPLY_BYTES) - chunk.size());
    QTRY_VERIFY(!conn);
    QTRY_COMPARE(server.ClientCount(), 0);
    // What the client can still read ends; the server listens on.
    while (client.Drain()) QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
    QVERIFY(client.Received < sent);
    TClient next(Path());
    QVERIFY(next.Say());
    QTRY_VERIFY(conn);
  }

  void theSocketFileIsTheServersOwn() {
    const std::string path = Path();
    // Something by that name that is not a socket stays, and nothing listens.
    QVERIFY(WriteFileBytes(path, "mine"));
    {
      TUserSocketServer server;
      QVERIFY(!server.Listen(SocketName));
      QCOMPARE(ReadFileBytes(path), std::string("mine"));
    }
    ::unlink(path.c_str());
    // A socket file left behind is replaced; the socket file is for the user only and
    // goes with the server.
    int stale = ::socket(AF_UNIX, SOCK_STREAM, 0);
    sockaddr_un addr{};
    addr.sun_family = AF_UNIX;
    std::snprintf(addr.sun_path, sizeof(addr.sun_path), "%s", path.c_str());
    QCOMPARE(::bind(stale, reinterpret_cast<sockaddr*>(&addr), sizeof(addr)), 0);
    ::close(stale);
    {
      TUserSocketServer server;
      QVERIFY(server.Listen(SocketName));
      struct stat st {};
      QVERIFY(::lstat(path.c_str(), &st) == 0 && S_ISSOCK(st.st_mode));
      QCOMPARE(int(st.st_mode & 0777), 0600);
      TClient client(path);
      QVERIFY(client.Connected);
    }
    struct stat st {};
    QVERIFY(::lstat(path.c_str(), &st) != 0);
    // A server whose socket file was replaced by someone else's leaves that one alone.
    {
      TUserSocketServer server;
      QVERIFY(server.Listen(SocketName));
      ::unlink(path.c_str());
      QVERIFY(WriteFileBytes(path, "other"));
    }
    QCOMPARE(ReadFileBytes(path), std::string("other"));
  }
};

QTEST_MAIN(TestUserSocketServer)
#include "test_user_socket_server.moc"
