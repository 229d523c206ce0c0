// A per-user local socket server that keeps its clients within fixed bounds, whatever a
// client does: it listens on a named socket in the user's runtime folder; at most 32
// clients are served at once (the rest wait in the system's queue until one leaves), a
// client that has sent nothing for 10 s is closed, a client that leaves more than 64 KiB of
// replies unread is dropped, and a client's unread input is held in a small buffer. When
// accepting fails (the process has run out of descriptors, say) the server keeps its
// socket and tries again shortly.
#pragma once

#include <QLocalSocket>
#include <QObject>
#include <string>
#include <sys/types.h>

class QSocketNotifier;
class QTimer;

class TUserSocketServer : public QObject {
  Q_OBJECT

 public:
  static constexpr int MAX_CLIENTS = 32;
  static constexpr int DEFAULT_IDLE_TIMEOUT_MS = 10000;
  static constexpr qint64 MAX_QUEUED_REPLY_BYTES = 64 * 1024;
  static constexpr qint64 READ_BUFFER_BYTES = 4096;

  // The idle timeout: VYR_SOCKET_IDLE_MS when it holds a whole number of milliseconds from
  // 1 to 600000, else 10 s. The variable lets tests use a short timeout.
  static int IdleTimeoutFromEnvironment();

  explicit TUserSocketServer(QObject* AParent = nullptr, int AIdleTimeoutMs = IdleTimeoutFromEnvironment());
  // Closes every client and the socket, and removes the socket file.
  ~TUserSocketServer() override;

  // Listens on the named socket in the runtime folder. A socket file left by an instance
  // that was killed is removed first: call this only while holding the single-instance
  // lock. False (and logged) when the folder or the socket cannot be had.
  bool Listen(const std::string& AName);
  bool IsListening() const { return FListenFd >= 0; }
  void Close();
  int ClientCount() const { return FClientCount; }
  int IdleTimeoutMs() const { return FIdleTimeoutMs; }

  // Queues bytes on a client's connection. A client whose unsent bytes would pass
  // MAX_QUEUED_REPLY_BYTES is dropped instead. False when nothing was queued.
  static bool Send(QLocalSocket* AConnection, const char* AData, qint64 ASize);
  // Closes a client's connection at once; the object goes once control returns to the
  // event loop.
  static void Drop(QLocalSocket* AConnection);

 signals:
  // New bytes from a client are waiting to be read.
  void DataReady(QLocalSocket* AConnection);

 private:
  void AcceptPending();
  void Adopt(int AFd);
  void ClientGone();
  void UpdateAccepting();
  void Log(const std::string& AText) const;

  std::string FName;
  std::string FPath;
  dev_t FSocketDev = 0;
  ino_t FSocketIno = 0;
  int FListenFd = -1;
  int FIdleTimeoutMs;
  int FClientCount = 0;
  bool FAcceptFailing = false;  // logged once per stretch of failures
  QSocketNotifier* FNotifier = nullptr;
  QTimer* FRetryTimer;
};
