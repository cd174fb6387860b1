#include "SingleInstance.h"

#include <unistd.h>

#include <QDir>
#include <QLocalServer>
#include <QLocalSocket>
#include <QStandardPaths>

namespace velto::app {

namespace {
constexpr int connectWaitMs = 1000;
const QByteArray activateRequest = "show\n";
}  // namespace

SingleInstance::SingleInstance(QString socketPath, QObject* parent)
    : QObject(parent), socketPath_(std::move(socketPath)) {}

QString SingleInstance::defaultSocketPath() {
    QString folder = QStandardPaths::writableLocation(QStandardPaths::RuntimeLocation);
    if (folder.isEmpty()) {
        return QDir::temp().filePath(QStringLiteral("velto-%1.socket").arg(getuid()));
    }
    return QDir(folder).filePath(QStringLiteral("velto.socket"));
}

bool SingleInstance::activateRunningInstance() {
    QLocalSocket socket;
    socket.connectToServer(socketPath_);
    if (!socket.waitForConnected(connectWaitMs)) {
        return false;
    }
    socket.write(activateRequest);
    const bool sent = socket.waitForBytesWritten(connectWaitMs);
    socket.disconnectFromServer();
    return sent;
}

bool SingleInstance::listen() {
    server_ = new QLocalServer(this);
    server_->setSocketOptions(QLocalServer::UserAccessOption);
    if (!server_->listen(socketPath_)) {
        // Nobody answered on it a moment ago, so it is a leftover.
        QLocalServer::removeServer(socketPath_);
        if (!server_->listen(socketPath_)) {
            return false;
        }
    }
    connect(server_, &QLocalServer::newConnection, this, [this] {
        while (QLocalSocket* client = server_->nextPendingConnection()) {
            connect(client, &QLocalSocket::readyRead, this, [this, client] {
                if (client->readAll().startsWith(activateRequest.trimmed())) {
                    emit activationRequested();
                }
                client->disconnectFromServer();
            });
            connect(client, &QLocalSocket::disconnected, client, &QObject::deleteLater);
        }
    });
    return true;
}

}  // namespace velto::app
