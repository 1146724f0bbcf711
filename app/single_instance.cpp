#include "single_instance.h"

#include <QDataStream>
#include <QDir>
#include <QFile>
#include <QLocalServer>
#include <QLocalSocket>
#include <QStandardPaths>

namespace orvax::app {

QString InstanceSocketName(const QString& className) {
  QString folder = QStandardPaths::writableLocation(QStandardPaths::RuntimeLocation);
  if (folder.isEmpty()) folder = QDir::tempPath();
  return folder + QLatin1Char('/') + className;
}

namespace {
void WriteRecord(QDataStream& out, HandOverRecord type, const QByteArray& data) {
  out << static_cast<quint8>(type) << data;
}
}  // namespace

bool HandOverToRunningInstance(const QString& className, const QStringList& args, const QString& dropMessage) {
  QLocalSocket socket;
  socket.connectToServer(InstanceSocketName(className));
  if (!socket.waitForConnected(2000)) return false;
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
  socket.write(bytes);
  if (!socket.waitForBytesWritten(5000)) return false;
  socket.disconnectFromServer();
  if (socket.state() != QLocalSocket::UnconnectedState) socket.waitForDisconnected(2000);
  return true;
}

QLocalServer* ListenForInstances(const QString& className,
                                 std::function<void(HandOverRecord, const QByteArray&)> onRecord) {
  const QString name = InstanceSocketName(className);
  auto* server = new QLocalServer;
  server->setSocketOptions(QLocalServer::UserAccessOption);
  if (!server->listen(name)) {
    // Nobody answered under this name (the caller checked), so the socket is left over.
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
        // Hand on every complete record; keep a partial one for the next read.
        for (;;) {
          QDataStream in(*buffer);
          quint8 type = 0;
          QByteArray data;
          in.startTransaction();
          in >> type >> data;
          if (!in.commitTransaction()) break;
          buffer->remove(0, static_cast<qsizetype>(in.device()->pos()));
          onRecord(static_cast<HandOverRecord>(type), data);
        }
      });
    }
  });
  return server;
}

}  // namespace orvax::app
