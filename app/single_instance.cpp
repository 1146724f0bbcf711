#include "single_instance.h"

#include <QDataStream>
#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QLocalServer>
#include <QLocalSocket>
#include <QLockFile>
#include <QPointer>
#include <QStandardPaths>
#include <QThread>

#include <algorithm>
#include <cstdio>
#include <memory>
#include <utility>
#include <vector>

namespace orvax::app {

namespace {

// How long a start waits for the lock: the holder only connects or starts listening.
constexpr int kLockWaitMs = 20000;
// How long a hand-over waits for the running instance's answer. It answers once it has
// acted on the records, which can take as long as opening a large image.
constexpr int kAckWaitMs = 30000;
// A hand-over whose receiver went away is started over this many times.
constexpr int kAttempts = 5;

QString RuntimeFolder() {
  QString folder = QStandardPaths::writableLocation(QStandardPaths::RuntimeLocation);
  if (folder.isEmpty()) folder = QDir::tempPath();
  return folder;
}

void WriteRecord(QDataStream& out, HandOverRecord type, const QByteArray& data) {
  out << static_cast<quint8>(type) << data;
}

}  // namespace

QString InstanceSocketName(const QString& className) { return RuntimeFolder() + QLatin1Char('/') + className; }

QString InstanceLockName(const QString& className) { return InstanceSocketName(className) + QStringLiteral(".lock"); }

HandOverResult HandOverToRunningInstance(const QString& className, const QStringList& args,
                                         const QString& dropMessage, const std::function<void()>& onConnected) {
  QLocalSocket socket;
  socket.connectToServer(InstanceSocketName(className));
  if (!socket.waitForConnected(2000)) return HandOverResult::NoInstance;
  if (onConnected) onConnected();
  QByteArray bytes;
  QDataStream out(&bytes, QIODevice::WriteOnly);
  WriteRecord(out, HandOverRecord::Raise, {});
  for (const QString& arg : args) {
    // The whole path, zero-terminated as the receiver expects, however long it is.
    QByteArray data = QFile::encodeName(arg);
    data.append('\0');
    WriteRecord(out, HandOverRecord::CopyData, data);
    WriteRecord(out, HandOverRecord::Message, dropMessage.toUtf8());
  }
  WriteRecord(out, HandOverRecord::End, {});
  socket.write(bytes);
  while (socket.bytesToWrite() > 0) {
    if (!socket.waitForBytesWritten(5000)) return HandOverResult::Lost;
  }
  // The answer, or the end of the connection.
  const QDeadlineTimer deadline(kAckWaitMs);
  while (socket.bytesAvailable() == 0) {
    const qint64 left = deadline.remainingTime();
    // Still connected but busy for so long: what was written waits in its socket for it.
    if (left <= 0) return HandOverResult::HandedOver;
    if (!socket.waitForReadyRead(static_cast<int>(std::min<qint64>(left, 1000))) &&
        socket.state() != QLocalSocket::ConnectedState && socket.bytesAvailable() == 0)
      return HandOverResult::Lost;
  }
  char answer = 0;
  socket.getChar(&answer);
  socket.disconnectFromServer();
  return answer == kHandOverAck ? HandOverResult::HandedOver : HandOverResult::Lost;
}

QLocalServer* ListenForInstances(const QString& className,
                                 std::function<void(HandOverRecord, const QByteArray&)> onRecord) {
  const QString name = InstanceSocketName(className);
  auto* server = new QLocalServer;
  server->setSocketOptions(QLocalServer::UserAccessOption);
  if (!server->listen(name)) {
    // Nobody answered under this name (the caller checked, holding the lock), so the socket
    // is left over from an instance that is gone.
    QLocalServer::removeServer(name);
    if (!server->listen(name)) {
      delete server;
      return nullptr;
    }
  }
  QObject::connect(server, &QLocalServer::newConnection, server, [server, onRecord] {
    while (QLocalSocket* socket = server->nextPendingConnection()) {
      auto buffer = std::make_shared<QByteArray>();
      QObject::connect(socket, &QLocalSocket::disconnected, socket, &QObject::deleteLater);
      QObject::connect(socket, &QLocalSocket::readyRead, socket, [socket, buffer, onRecord] {
        buffer->append(socket->readAll());
        // The records of one hand-over go on together once its END is here, so that two
        // hand-overs arriving at once never interleave their paths and messages.
        QDataStream in(*buffer);
        std::vector<std::pair<HandOverRecord, QByteArray>> records;
        for (;;) {
          quint8 type = 0;
          QByteArray data;
          in.startTransaction();
          in >> type >> data;
          if (!in.commitTransaction()) return;
          if (static_cast<HandOverRecord>(type) == HandOverRecord::End) break;
          records.emplace_back(static_cast<HandOverRecord>(type), std::move(data));
        }
        buffer->remove(0, static_cast<qsizetype>(in.device()->pos()));
        for (const auto& [type, data] : records) onRecord(type, data);
        // The answer goes behind whatever the records queued, so it leaves once they ran.
        QPointer<QLocalSocket> guard(socket);
        QMetaObject::invokeMethod(
            socket,
            [guard] {
              if (guard && guard->state() == QLocalSocket::ConnectedState) {
                guard->putChar(kHandOverAck);
                guard->flush();
              }
            },
            Qt::QueuedConnection);
      });
    }
  });
  return server;
}

InstanceRole ClaimInstance(const QString& className, const QStringList& args, const QString& dropMessage,
                           const std::function<bool()>& listen) {
  QDir().mkpath(RuntimeFolder());
  for (int attempt = 0; attempt < kAttempts; ++attempt) {
    // The lock makes "nobody listens" and "now I listen" one step. A lock whose holder died
    // is taken over by QLockFile (its process is gone, and the file's own lock with it).
    QLockFile lock(InstanceLockName(className));
    if (!lock.tryLock(kLockWaitMs))
      std::fprintf(stderr, "orvax-scan: the instance lock %s could not be taken (error %d); going on without it\n",
                   QFile::encodeName(InstanceLockName(className)).constData(), static_cast<int>(lock.error()));
    switch (HandOverToRunningInstance(className, args, dropMessage, [&lock] { lock.unlock(); })) {
      case HandOverResult::HandedOver: return InstanceRole::HandedOver;
      case HandOverResult::NoInstance:
        // Tests widen the gap between finding nobody and listening, where the lock matters.
        if (const int delay = qEnvironmentVariableIntValue("ORVAX_SCAN_CLAIM_DELAY_MS"); delay > 0)
          QThread::msleep(static_cast<unsigned long>(delay));
        return listen() ? InstanceRole::First : InstanceRole::Failed;
      case HandOverResult::Lost: break;  // that instance was ending: look again
    }
  }
  return InstanceRole::Failed;
}

}  // namespace orvax::app
