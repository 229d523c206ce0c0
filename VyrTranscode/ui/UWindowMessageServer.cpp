#include "ui/UWindowMessageServer.h"

TWindowMessageServer::TWindowMessageServer(QObject* AParent, int AIdleTimeoutMs)
    : QObject(AParent), FServer(new TUserSocketServer(this, AIdleTimeoutMs)) {
  connect(FServer, &TUserSocketServer::DataReady, this, &TWindowMessageServer::ReadMessages);
}

TWindowMessageServer::~TWindowMessageServer() = default;

bool TWindowMessageServer::Listen(const std::string& AName) { return FServer->Listen(AName); }

bool TWindowMessageServer::IsListening() const { return FServer->IsListening(); }

void TWindowMessageServer::Reply(QLocalSocket* AConnection, const TWindowMessage& AMsg) {
  const auto bytes = EncodeWindowMessage(AMsg);
  TUserSocketServer::Send(AConnection, reinterpret_cast<const char*>(bytes.data()),
                          static_cast<qint64>(bytes.size()));
}

void TWindowMessageServer::ReadMessages(QLocalSocket* AConnection) {
  QPointer<QLocalSocket> guard(AConnection);
  while (guard && AConnection->state() == QLocalSocket::ConnectedState &&
         AConnection->bytesAvailable() >= static_cast<qint64>(VYR_MSG_SIZE)) {
    char raw[VYR_MSG_SIZE];
    if (AConnection->read(raw, sizeof(raw)) != static_cast<qint64>(sizeof(raw))) return;
    const TWindowMessage msg = DecodeWindowMessage(reinterpret_cast<const uint8_t*>(raw));
    emit MessageReceived(msg, AConnection);  // may drop the connection or close the window
  }
}
