#include "ui/UInstanceActivation.h"

#include <QByteArray>
#include <QLocalSocket>
#include <QPointer>
#include <QVariant>

#include "support/uFunctionsLib.h"
#include "ui/UHandOver.h"
#include "ui/UWindowMessage.h"

namespace {
// The bytes of an unfinished message, kept on its connection.
const char* const PendingProperty = "handOverPending";
// Set once the connection's message was answered.
const char* const ServedProperty = "handOverServed";
}  // namespace

bool RequestActivation(int AWaitMs) {
  return HandOverToRunningInstance({}, 0, AWaitMs) == THandOverResult::Delivered;
}

TActivationServer::TActivationServer(QObject* AParent, int AIdleTimeoutMs)
    : QObject(AParent), FServer(new TUserSocketServer(this, AIdleTimeoutMs)) {
  connect(FServer, &TUserSocketServer::DataReady, this, &TActivationServer::Serve);
}

bool TActivationServer::Listen() { return FServer->Listen(VYR_ACTIVATION_NAME); }

void TActivationServer::Serve(QLocalSocket* AConnection) {
  if (AConnection->property(ServedProperty).toBool()) {
    AConnection->readAll();
    return;
  }
  QPointer<QLocalSocket> guard(AConnection);
  QByteArray pending = AConnection->property(PendingProperty).toByteArray();
  while (guard && AConnection->bytesAvailable() > 0) {
    // Never more than one message's worth is held.
    const qint64 room = static_cast<qint64>(VYR_HANDOVER_MAX_BYTES) - pending.size();
    if (room <= 0) break;
    pending += AConnection->read(room);
    std::vector<std::string> names;
    const THandOverDecode r = DecodeHandOver(std::string_view(pending.constData(), static_cast<size_t>(pending.size())), names);
    if (r == THandOverDecode::NeedMore) continue;
    if (r != THandOverDecode::Complete) {
      PrintDebugString(r == THandOverDecode::UnknownVersion ? "Hand-over: a message of an unknown version was refused"
                                                            : "Hand-over: a malformed message was refused");
      AConnection->setProperty(ServedProperty, true);
      TUserSocketServer::Send(AConnection, &VYR_HANDOVER_REFUSED, 1);
      AConnection->disconnectFromServer();
      return;
    }
    // One message per connection: whatever else comes on it is of no use.
    AConnection->setProperty(PendingProperty, QVariant());
    AConnection->setProperty(ServedProperty, true);
    AConnection->readAll();
    emit HandOverReceived(names);
    if (!guard) return;
    TUserSocketServer::Send(AConnection, &VYR_HANDOVER_TAKEN, 1);
    AConnection->disconnectFromServer();
    return;
  }
  if (!guard) return;
  if (pending.size() >= static_cast<qsizetype>(VYR_HANDOVER_MAX_BYTES)) {
    PrintDebugString("Hand-over: a message over the size limit was refused");
    AConnection->setProperty(ServedProperty, true);
    TUserSocketServer::Send(AConnection, &VYR_HANDOVER_REFUSED, 1);
    AConnection->disconnectFromServer();
    return;
  }
  AConnection->setProperty(PendingProperty, pending);
}
