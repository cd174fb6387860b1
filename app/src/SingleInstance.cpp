#include "SingleInstance.h"

#include <unistd.h>

#include <QDir>
#include <QLocalServer>
#include <QLocalSocket>
#include <QStandardPaths>
#include <memory>

namespace velto::app {

namespace {
constexpr int connectWaitMs = 1000;
// "show", then one percent-encoded path a line (file names may hold line breaks).
const QByteArray activateRequest = "show\n";

QStringList pathsOfRequest(const QByteArray& request) {
    QStringList paths;
    const QList<QByteArray> lines = request.split('\n');
    for (qsizetype index = 1; index < lines.size(); ++index) {
        if (!lines[index].isEmpty()) {
            paths.append(QString::fromUtf8(QByteArray::fromPercentEncoding(lines[index])));
        }
    }
    return paths;
}
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

bool SingleInstance::activateRunningInstance(const QStringList& paths) {
    QLocalSocket socket;
    socket.connectToServer(socketPath_);
    if (!socket.waitForConnected(connectWaitMs)) {
        return false;
    }
    QByteArray request = activateRequest;
    for (const QString& path : paths) {
        request += path.toUtf8().toPercentEncoding() + '\n';
    }
    socket.write(request);
    const bool sent = socket.waitForBytesWritten(connectWaitMs);
    socket.disconnectFromServer();
    return sent;
}

bool SingleInstance::runningInstanceFound() {
    QLocalSocket socket;
    socket.connectToServer(socketPath_);
    const bool found = socket.waitForConnected(connectWaitMs);
    socket.disconnectFromServer();
    return found;
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
            // The request is whole once the other launch has closed its end.
            auto request = std::make_shared<QByteArray>();
            connect(client, &QLocalSocket::readyRead, this,
                    [client, request] { request->append(client->readAll()); });
            connect(client, &QLocalSocket::disconnected, this, [this, client, request] {
                request->append(client->readAll());
                if (request->startsWith(activateRequest)) {
                    emit activationRequested(pathsOfRequest(*request));
                }
                client->deleteLater();
            });
        }
    });
    return true;
}

}  // namespace velto::app
