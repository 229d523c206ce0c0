#include "ui/UInstanceActivation.h"

#include <QLocalSocket>
#include <QPointer>
#include <QVariant>
#include <cerrno>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include "ui/UWindowMessage.h"

bool RequestActivation(int AWaitMs) {
  bool noListener = false;
  int fd = ConnectUserSocket(VYR_ACTIVATION_NAME, noListener);
  if (fd < 0) return false;
  const char req = 'A';
  bool ok = ::send(fd, &req, 1, MSG_NOSIGNAL) == 1;
  if (ok) {
    pollfd p{fd, POLLIN, 0};
    int r;
    do {
      r = ::poll(&p, 1, AWaitMs);
    } while (r < 0 && errno == EINTR);
    char ack = 0;
    ok = r > 0 && ::recv(fd, &ack, 1, 0) == 1;
  }
  ::close(fd);
  return ok;
}

TActivationServer::TActivationServer(QObject* AParent, int AIdleTimeoutMs)
    : QObject(AParent), FServer(new TUserSocketServer(this, AIdleTimeoutMs)) {
  connect(FServer, &TUserSocketServer::DataReady, this, &TActivationServer::Serve);
}

bool TActivationServer::Listen() { return FServer->Listen(VYR_ACTIVATION_NAME); }

void TActivationServer::Serve(QLocalSocket* AConnection) {
  if (AConnection->bytesAvailable() < 1) return;
  // One request per connection: whatever else comes on it is of no use.
  AConnection->readAll();
  if (AConnection->property("served").toBool()) return;
  AConnection->setProperty("served", true);
  QPointer<QLocalSocket> guard(AConnection);
  emit ActivationRequested();
  if (!guard) return;
  TUserSocketServer::Send(AConnection, "1", 1);
  AConnection->disconnectFromServer();
}
