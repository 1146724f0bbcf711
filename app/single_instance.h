// One Orvax Scan per user: the first instance listens on a per-user local socket named
// after its window class; a later one hands its arguments over and ends.
//
// The hand-over is a sequence of records: RAISE (restore and bring to the front), COPYDATA
// (the bytes of one argument, like WM_COPYDATA; any length) and MESSAGE (the name of a
// registered window message to post, "OrvaxDropFileOpen"). The receiver acts on them in
// the order they arrive.
#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>

#include <functional>

class QLocalServer;

namespace orvax::app {

enum class HandOverRecord : quint8 { Raise = 1, CopyData = 2, Message = 3 };

// The socket's full name for window class CLASSNAME: in the user's run-time folder.
QString InstanceSocketName(const QString& className);

// When an instance already listens under CLASSNAME, sends it ARGS (each followed by
// DROPMESSAGE) and returns true; false when there is none.
bool HandOverToRunningInstance(const QString& className, const QStringList& args, const QString& dropMessage);

// Starts listening under CLASSNAME; a socket left behind by an instance that is gone is
// removed first. Null when the name cannot be taken. ONRECORD receives each record in
// order.
QLocalServer* ListenForInstances(const QString& className,
                                 std::function<void(HandOverRecord, const QByteArray&)> onRecord);

}  // namespace orvax::app
