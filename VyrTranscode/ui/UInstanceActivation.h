// Bringing the running instance forward. The running main window serves a local socket
// named "TFmVyrToMp4" in the user's runtime folder; a second start connects to it, and each
// connection asks the window to restore, raise and activate itself. The window answers one
// byte once it has done so. The server keeps its clients within the bounds of
// TUserSocketServer (UUserSocketServer.h).
#pragma once

#include <QObject>

#include "ui/UUserSocketServer.h"

// The second start's side; no GUI toolkit is needed. True when a running window took the
// request; false when none listens (for example while the first instance is still starting).
bool RequestActivation(int AWaitMs);

// The running window's side.
class TActivationServer : public QObject {
  Q_OBJECT

 public:
  explicit TActivationServer(QObject* AParent = nullptr,
                             int AIdleTimeoutMs = TUserSocketServer::IdleTimeoutFromEnvironment());
  // Listens; removes a socket file left by a killed instance first (call this only while
  // holding the single-instance lock).
  bool Listen();
  bool IsListening() const { return FServer->IsListening(); }
  const TUserSocketServer& Server() const { return *FServer; }

 signals:
  void ActivationRequested();

 private:
  void Serve(QLocalSocket* AConnection);

  TUserSocketServer* FServer;
};
