#include "ui/UUserSocketServer.h"

#include <QLocalSocket>
#include <QSocketNotifier>
#include <QTimer>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include "support/uFunctionsLib.h"
#include "ui/UUserRuntimeDir.h"

namespace {

// How long accepting pauses after it failed for want of descriptors or memory (sooner
// when a client leaves and frees one).
constexpr int ACCEPT_RETRY_MS = 200;

std::string ErrorText(int AErr) {
  char buf[128];
  return ::strerror_r(AErr, buf, sizeof(buf));  // the GNU form answers the text
}

}  // namespace

// ---- TUserSocketServer ------------------------------------------------------------

int TUserSocketServer::IdleTimeoutFromEnvironment() {
  const char* text = std::getenv("VYR_SOCKET_IDLE_MS");
  if (!text || !*text) return DEFAULT_IDLE_TIMEOUT_MS;
  long value = 0;
  for (const char* p = text; *p; ++p) {
    if (*p < '0' || *p > '9') return DEFAULT_IDLE_TIMEOUT_MS;
    value = value * 10 + (*p - '0');
    if (value > 600000) return DEFAULT_IDLE_TIMEOUT_MS;
  }
  return value >= 1 ? static_cast<int>(value) : DEFAULT_IDLE_TIMEOUT_MS;
}

TUserSocketServer::TUserSocketServer(QObject* AParent, int AIdleTimeoutMs)
    : QObject(AParent),
      FIdleTimeoutMs(AIdleTimeoutMs > 0 ? AIdleTimeoutMs : DEFAULT_IDLE_TIMEOUT_MS),
      FRetryTimer(new QTimer(this)) {
  FRetryTimer->setSingleShot(true);
  FRetryTimer->setInterval(ACCEPT_RETRY_MS);
  connect(FRetryTimer, &QTimer::timeout, this, [this] { UpdateAccepting(); });
}

TUserSocketServer::~TUserSocketServer() {
  Close();
  // The clients go while this object is still whole (their end is counted here).
  for (QLocalSocket* conn : findChildren<QLocalSocket*>(QString(), Qt::FindDirectChildrenOnly)) delete conn;
}

void TUserSocketServer::Log(const std::string& AText) const { PrintDebugString(FName + ": " + AText); }

bool TUserSocketServer::Listen(const std::string& AName) {
  Close();
  FName = AName;
  std::string problem;
  if (GetUserRuntimeDir(&problem).empty()) {
    Log("no private runtime folder: " + problem);
    return false;
  }
  const std::string path = UserRuntimeFile(AName);
  sockaddr_un addr{};
  if (path.empty() || path.size() >= sizeof(addr.sun_path)) {
    Log("no socket path can be had in the runtime folder");
    return false;
  }
  // A socket file left by a killed instance (or a link in its place) goes; anything else
  // by that name was put there by hand and stays.
  struct stat st {};
  if (::lstat(path.c_str(), &st) == 0) {
    if (!S_ISSOCK(st.st_mode) && !S_ISLNK(st.st_mode)) {
      Log(path + " exists and is not a socket");
      return false;
    }
    ::unlink(path.c_str());
  }
  const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
  if (fd < 0) {
    Log("cannot create a socket (" + ErrorText(errno) + ")");
    return false;
  }
  addr.sun_family = AF_UNIX;
  std::memcpy(addr.sun_path, path.c_str(), path.size() + 1);
  if (::bind(fd, reinterpret_cast<const sockaddr*>(&addr), sizeof(addr)) != 0 ||
      ::chmod(path.c_str(), 0600) != 0 || ::lstat(path.c_str(), &st) != 0 || ::listen(fd, SOMAXCONN) != 0) {
    Log("cannot listen on " + path + " (" + ErrorText(errno) + ")");
    ::close(fd);
    return false;
  }
  FListenFd = fd;
  FPath = path;
  FSocketDev = st.st_dev;
  FSocketIno = st.st_ino;
  FAcceptFailing = false;
  FNotifier = new QSocketNotifier(static_cast<qintptr>(fd), QSocketNotifier::Read, this);
  connect(FNotifier, &QSocketNotifier::activated, this, [this] { AcceptPending(); });
  UpdateAccepting();
  return true;
}

void TUserSocketServer::Close() {
  FRetryTimer->stop();
  delete FNotifier;
  FNotifier = nullptr;
  if (FListenFd < 0) return;
  ::close(FListenFd);
  FListenFd = -1;
  // Remove the socket file only while it is still the one this server made.
  struct stat st {};
  if (::lstat(FPath.c_str(), &st) == 0 && S_ISSOCK(st.st_mode) && st.st_dev == FSocketDev &&
      st.st_ino == FSocketIno)
    ::unlink(FPath.c_str());
  FPath.clear();
}

void TUserSocketServer::UpdateAccepting() {
  if (FNotifier)
    FNotifier->setEnabled(FListenFd >= 0 && FClientCount < MAX_CLIENTS && !FRetryTimer->isActive());
}

void TUserSocketServer::AcceptPending() {
  while (FListenFd >= 0 && FClientCount < MAX_CLIENTS) {
    const int fd = ::accept4(FListenFd, nullptr, nullptr, SOCK_CLOEXEC | SOCK_NONBLOCK);
    if (fd >= 0) {
      FAcceptFailing = false;
      Adopt(fd);
      continue;
    }
    const int err = errno;
    if (err == EINTR || err == ECONNABORTED) continue;
    if (err == EAGAIN || err == EWOULDBLOCK) break;
    // Out of descriptors or memory, most likely: the waiting client stays queued and the
    // socket stays; accepting resumes after a pause, or as soon as a client leaves.
    if (!FAcceptFailing) Log("cannot accept a connection (" + ErrorText(err) + "); listening goes on");
    FAcceptFailing = true;
    FRetryTimer->start();
    break;
  }
  UpdateAccepting();
}

void TUserSocketServer::Adopt(int AFd) {
  auto* conn = new QLocalSocket(this);
  if (!conn->setSocketDescriptor(AFd, QLocalSocket::ConnectedState, QIODevice::ReadWrite)) {
    ::close(AFd);
    delete conn;
    return;
  }
  ++FClientCount;
  connect(conn, &QObject::destroyed, this, [this] { ClientGone(); });
  // Unread input waits in the system's socket buffer, not in this process.
  conn->setReadBufferSize(READ_BUFFER_BYTES);
  auto* idle = new QTimer(conn);
  idle->setSingleShot(true);
  idle->setInterval(FIdleTimeoutMs);
  connect(idle, &QTimer::timeout, this, [this, conn] {
    Log("a client sent nothing for " + std::to_string(FIdleTimeoutMs) + " ms and was closed");
    Drop(conn);
  });
  connect(conn, &QLocalSocket::readyRead, this, [this, conn, idle] {
    idle->start();
    emit DataReady(conn);
  });
  connect(conn, &QLocalSocket::disconnected, conn, &QObject::deleteLater);
  idle->start();
}

void TUserSocketServer::ClientGone() {
  --FClientCount;
  // A descriptor was freed: accepting may go on at once.
  FRetryTimer->stop();
  UpdateAccepting();
}

bool TUserSocketServer::Send(QLocalSocket* AConnection, const char* AData, qint64 ASize) {
  if (!AConnection || AConnection->state() != QLocalSocket::ConnectedState) return false;
  if (AConnection->bytesToWrite() + ASize > MAX_QUEUED_REPLY_BYTES) {
    PrintDebugString("A client left more than " + std::to_string(MAX_QUEUED_REPLY_BYTES) +
                     " bytes of replies unread and was dropped");
    Drop(AConnection);
    return false;
  }
  const bool ok = AConnection->write(AData, ASize) == ASize;
  AConnection->flush();
  return ok;
}

void TUserSocketServer::Drop(QLocalSocket* AConnection) {
  if (!AConnection) return;
  AConnection->abort();
  AConnection->deleteLater();
}
