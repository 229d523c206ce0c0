// TWindowMessageServer serves the window message "VyrMp4MsgProc" (see UWindowMessage.h)
// through a TUserSocketServer: it reads 16-byte messages and hands each one, with the
// connection it came on, to the window.
#pragma once

#include <QLocalSocket>
#include <QObject>
#include <QPointer>

#include "ui/UUserSocketServer.h"
#include "ui/UWindowMessage.h"

class TWindowMessageServer : public QObject {
  Q_OBJECT

 public:
  explicit TWindowMessageServer(QObject* AParent = nullptr,
                                int AIdleTimeoutMs = TUserSocketServer::IdleTimeoutFromEnvironment());
  ~TWindowMessageServer() override;

  // Listens on the named socket in the runtime folder (see TUserSocketServer::Listen).
  bool Listen(const std::string& AName);
  bool IsListening() const;
  const TUserSocketServer& Server() const { return *FServer; }

  // Sends a message back on a connection that asked (a 102 for a 101). A client that
  // leaves too many replies unread is dropped.
  static void Reply(QLocalSocket* AConnection, const TWindowMessage& AMsg);

 signals:
  void MessageReceived(const TWindowMessage& AMsg, QLocalSocket* AConnection);

 private:
  void ReadMessages(QLocalSocket* AConnection);

  TUserSocketServer* FServer;
};

Q_DECLARE_METATYPE(TWindowMessage)
