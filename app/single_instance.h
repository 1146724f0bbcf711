// One Orvax Scan per user: the first instance listens on a per-user local socket named
// after its window class; a later one hands its arguments over and ends.
//
// Looking for a running instance and starting to listen are one step, taken under a lock
// file beside the socket (both in the user's run-time folder): of many instances started at
// once exactly one listens, and every other one finds it. A lock left by an instance that
// crashed is taken over, and so is a socket nobody answers on.
//
// The hand-over is a sequence of records: RAISE (restore and bring to the front), COPYDATA
// (the bytes of one argument, like WM_COPYDATA; any length), MESSAGE (the name of a
// registered window message to post, "OrvaxDropFileOpen") and END. The receiver acts on the
// records of one hand-over together, in order, once END has come, and answers with one
// byte, ACK, once it has acted on them. A sender whose receiver goes away without that
// answer (it was ending) starts over, and may become the running instance itself.
#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>

#include <functional>

class QLocalServer;

namespace orvax::app {

enum class HandOverRecord : quint8 { Raise = 1, CopyData = 2, Message = 3, End = 4 };
inline constexpr char kHandOverAck = '\x06';

// The socket's full name for window class CLASSNAME: in the user's run-time folder.
QString InstanceSocketName(const QString& className);
// The lock file that makes the check and the listen one step: beside the socket.
QString InstanceLockName(const QString& className);

enum class HandOverResult {
  NoInstance,  // nobody listens under the name
  HandedOver,  // the running instance has the arguments
  Lost,        // an instance took the connection but went away before acting on it
};

// When an instance already listens under CLASSNAME, sends it ARGS (each followed by
// DROPMESSAGE) and waits for its answer. ONCONNECTED runs as soon as the connection stands
// (the caller releases its lock there).
HandOverResult HandOverToRunningInstance(const QString& className, const QStringList& args,
                                         const QString& dropMessage, const std::function<void()>& onConnected = {});

// Starts listening under CLASSNAME; a socket left behind by an instance that is gone is
// removed first (the caller holds the lock and found nobody answering). Null when the name
// cannot be taken. ONRECORD receives each record in order.
QLocalServer* ListenForInstances(const QString& className,
                                 std::function<void(HandOverRecord, const QByteArray&)> onRecord);

enum class InstanceRole { HandedOver, First, Failed };

// The start-up step: under the lock, either hands ARGS to the running instance (HandedOver)
// or calls LISTEN, which starts this instance's server (First when it returns true, else
// Failed).
InstanceRole ClaimInstance(const QString& className, const QStringList& args, const QString& dropMessage,
                           const std::function<bool()>& listen);

}  // namespace orvax::app
