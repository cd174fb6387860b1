#include "Notifications.h"

#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QFileInfo>
#include <QVariantMap>

#include "FileRevealer.h"
#include "velto/Diagnostics.h"

namespace velto::app {

namespace {
const QString service = QStringLiteral("org.freedesktop.Notifications");
const QString objectPath = QStringLiteral("/org/freedesktop/Notifications");
const QString interfaceName = QStringLiteral("org.freedesktop.Notifications");
}  // namespace

Notifications::Notifications(QDBusConnection bus, FileRevealer& revealer, QObject* parent)
    : QObject(parent), bus_(std::move(bus)), revealer_(revealer) {
    if (!bus_.isConnected()) {
        return;
    }
    bus_.connect(service, objectPath, interfaceName, QStringLiteral("ActionInvoked"), this,
                 SLOT(onActionInvoked(quint32, QString)));
    bus_.connect(service, objectPath, interfaceName, QStringLiteral("NotificationClosed"), this,
                 SLOT(onClosed(quint32, quint32)));
}

void Notifications::notifyText(const QString& title, const QString& text) {
    notify(title, text, QString());
}

void Notifications::notifyFile(const QString& title, const QString& path) {
    notify(title, QFileInfo(path).fileName(), path);
}

void Notifications::notify(const QString& title, const QString& body, const QString& openFile) {
    if (!bus_.isConnected()) {
        return;
    }
    QDBusMessage call = QDBusMessage::createMethodCall(service, objectPath, interfaceName,
                                                       QStringLiteral("Notify"));
    const QStringList actions =
        openFile.isEmpty() ? QStringList() : QStringList{QStringLiteral("default"), tr("Show")};
    const QVariantMap hints{{QStringLiteral("desktop-entry"), QStringLiteral("velto")}};
    call << QStringLiteral("Velto") << quint32(0) << QStringLiteral("velto") << title << body
         << actions << hints << qint32(-1);
    auto* watcher = new QDBusPendingCallWatcher(bus_.asyncCall(call), this);
    connect(watcher, &QDBusPendingCallWatcher::finished, this,
            [this, openFile](QDBusPendingCallWatcher* finished) {
                QDBusPendingReply<quint32> reply = *finished;
                finished->deleteLater();
                if (reply.isError()) {
                    // No notification service: the page shows what arrived anyway.
                    diagnostic("notification not shown:", reply.error().name().toStdString());
                    return;
                }
                if (!openFile.isEmpty()) {
                    pathById_.insert(reply.value(), openFile);
                }
                emit shown(reply.value());
            });
}

void Notifications::onActionInvoked(quint32 id, const QString& action) {
    const auto found = pathById_.constFind(id);
    if (found == pathById_.constEnd() || action != QLatin1String("default")) {
        return;
    }
    revealer_.reveal(*found);
}

void Notifications::onClosed(quint32 id, quint32 /*reason*/) {
    pathById_.remove(id);
}

}  // namespace velto::app
