// The program's side of the window message "VyrMp4MsgProc" (see UWindowMessage.h): a local
// socket server in the user's runtime folder that reads 16-byte messages and hands each one,
// with the connection it came on, to the window.
#pragma once

#include <QLocalSocket>
#include <QObject>
#include <QPointer>

#include "ui/UWindowMessage.h"

class QLocalServer;

class TWindowMessageServer : public QObject {
  Q_OBJECT

 public:
  explicit TWindowMessageServer(QObject* AParent = nullptr);
  ~TWindowMessageServer() override;

  // Listens on the named socket in the runtime folder. A socket file left by an instance
  // that was killed is removed first: call this only while holding the single-instance
  // lock. False when the folder or the socket cannot be had.
  bool Listen(const std::string& AName);
  bool IsListening() const;

  // Sends a message back on a connection that asked (a 102 for a 101).
  static void Reply(QLocalSocket* AConnection, const TWindowMessage& AMsg);

 signals:
  void MessageReceived(const TWindowMessage& AMsg, QLocalSocket* AConnection);

 private:
  void NewConnection();
  void ReadMessages(QLocalSocket* AConnection);

  QLocalServer* FServer;
};

Q_DECLARE_METATYPE(TWindowMessage)
