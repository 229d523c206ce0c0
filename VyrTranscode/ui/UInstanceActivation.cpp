#include "ui/UInstanceActivation.h"

#include <QLocalServer>
#include <QLocalSocket>
#include <cerrno>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include "ui/UUserRuntimeDir.h"
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

TActivationServer::TActivationServer(QObject* AParent)
    : QObject(AParent), FServer(new QLocalServer(this)) {
  connect(FServer, &QLocalServer::newConnection, this, [this] {
    while (QLocalSocket* conn = FServer->nextPendingConnection()) {
      connect(conn, &QLocalSocket::disconnected, conn, &QObject::deleteLater);
      auto handle = [this, conn] {
        if (conn->bytesAvailable() < 1) return;
        conn->readAll();
        emit ActivationRequested();
        conn->write("1", 1);
        conn->flush();
        conn->disconnectFromServer();
      };
      connect(conn, &QLocalSocket::readyRead, this, handle);
      handle();
    }
  });
}

bool TActivationServer::Listen() {
  std::string path = UserRuntimeFile(VYR_ACTIVATION_NAME);
  if (path.empty()) return false;
  const QString qpath = QString::fromStdString(path);
  QLocalServer::removeServer(qpath);
  FServer->setSocketOptions(QLocalServer::UserAccessOption);
  return FServer->listen(qpath);
}
