// Bringing the running instance forward and handing it files. The running main window
// serves a local socket named "TFmVyrToMp4" in the user's runtime folder; a second start
// connects to it and sends a hand-over message (UHandOver.h): the files it was given, or
// none, which only asks the window to restore, raise and activate itself. The window
// answers one byte per message once it has taken it. The server keeps its clients within
// the bounds of TUserSocketServer (UUserSocketServer.h) and holds at most one message of
// VYR_HANDOVER_MAX_BYTES per client.
#pragma once

#include <QObject>
#include <string>
#include <vector>

#include "ui/UUserSocketServer.h"

// The second start's side without files; no GUI toolkit is needed. True when a running
// window took the request; false when none listens (for example while the first instance
// is still starting).
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
  // A second start asks the window to come forward and to list ANames (file-system bytes,
  // as given; may be empty). Emitted once per message, in the order the messages came.
  void HandOverReceived(const std::vector<std::string>& ANames);

 private:
  void Serve(QLocalSocket* AConnection);

  TUserSocketServer* FServer;
};
