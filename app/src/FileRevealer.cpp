#include "FileRevealer.h"

#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QDesktopServices>
#include <QFileInfo>
#include <QUrl>

namespace velto::app {

FileRevealer::FileRevealer(QDBusConnection bus, QObject* parent)
    : QObject(parent), bus_(std::move(bus)) {}

void FileRevealer::reveal(const QString& path) {
    const QString folder = QFileInfo(path).absolutePath();
    auto openFolder = [this, folder, path] {
        if (!QDesktopServices::openUrl(QUrl::fromLocalFile(folder))) {
            emit revealFailed(path);
        }
    };
    if (!bus_.isConnected()) {
        openFolder();
        return;
    }
    QDBusMessage call = QDBusMessage::createMethodCall(
        QStringLiteral("org.freedesktop.FileManager1"),
        QStringLiteral("/org/freedesktop/FileManager1"),
        QStringLiteral("org.freedesktop.FileManager1"), QStringLiteral("ShowItems"));
    call << QStringList{QUrl::fromLocalFile(path).toString()} << QString();
    auto* watcher = new QDBusPendingCallWatcher(bus_.asyncCall(call), this);
    connect(watcher, &QDBusPendingCallWatcher::finished, this,
            [watcher, openFolder](QDBusPendingCallWatcher*) {
                if (watcher->isError()) {
                    openFolder();
                }
                watcher->deleteLater();
            });
}

}  // namespace velto::app
