#include "ui/UWindowMessageServer.h"

#include <QLocalServer>
#include <QLocalSocket>

#include "ui/UUserRuntimeDir.h"

TWindowMessageServer::TWindowMessageServer(QObject* AParent)
    : QObject(AParent), FServer(new QLocalServer(this)) {
  connect(FServer, &QLocalServer::newConnection, this, &TWindowMessageServer::NewConnection);
}

TWindowMessageServer::~TWindowMessageServer() = default;

bool TWindowMessageServer::Listen(const std::string& AName) {
  std::string path = UserRuntimeFile(AName);
  if (path.empty()) return false;
  const QString qpath = QString::fromStdString(path);
  QLocalServer::removeServer(qpath);  // a socket file left by a killed instance
  FServer->setSocketOptions(QLocalServer::UserAccessOption);
  return FServer->listen(qpath);
}

bool TWindowMessageServer::IsListening() const { return FServer->isListening(); }

void TWindowMessageServer::Reply(QLocalSocket* AConnection, const TWindowMessage& AMsg) {
  if (!AConnection || AConnection->state() != QLocalSocket::ConnectedState) return;
  auto bytes = EncodeWindowMessage(AMsg);
  AConnection->write(reinterpret_cast<const char*>(bytes.data()), static_cast<qint64>(bytes.size()));
  AConnection->flush();
}

void TWindowMessageServer::NewConnection() {
  while (QLocalSocket* conn = FServer->nextPendingConnection()) {
    connect(conn, &QLocalSocket::readyRead, this, [this, conn] { ReadMessages(conn); });
    connect(conn, &QLocalSocket::disconnected, conn, &QObject::deleteLater);
    if (conn->bytesAvailable() > 0) ReadMessages(conn);
  }
}

void TWindowMessageServer::ReadMessages(QLocalSocket* AConnection) {
  QPointer<QLocalSocket> guard(AConnection);
  while (guard && AConnection->bytesAvailable() >= static_cast<qint64>(VYR_MSG_SIZE)) {
    QByteArray raw = AConnection->read(VYR_MSG_SIZE);
    if (raw.size() != static_cast<int>(VYR_MSG_SIZE)) return;
    TWindowMessage msg = DecodeWindowMessage(reinterpret_cast<const uint8_t*>(raw.constData()));
    emit MessageReceived(msg, AConnection);  // may close the window and everything with it
  }
}
