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
    notify(title, text, {}, {});
}

void Notifications::notifyFile(const QString& title, const QString& path) {
    notify(title, QFileInfo(path).fileName(), {QStringLiteral("default"), tr("Show")},
           [this, path](quint32 id) { pathById_.insert(id, path); });
}

void Notifications::notifyQuestion(const QString& title, const QString& body,
                                   const QString& transferKey) {
    const QStringList actions{QStringLiteral("accept"), tr("Accept"), QStringLiteral("decline"),
                              tr("Decline")};
    notify(title, body, actions,
           [this, transferKey](quint32 id) { questionById_.insert(id, transferKey); });
}

void Notifications::withdrawQuestion(const QString& transferKey) {
    const quint32 id = questionById_.key(transferKey, 0);
    if (id == 0 || !bus_.isConnected()) {
        return;
    }
    questionById_.remove(id);
    QDBusMessage call = QDBusMessage::createMethodCall(service, objectPath, interfaceName,
                                                       QStringLiteral("CloseNotification"));
    call << id;
    bus_.asyncCall(call);
}

void Notifications::notify(const QString& title, const QString& body, const QStringList& actions,
                           const Shown& onShown) {
    if (!bus_.isConnected()) {
        return;
    }
    QDBusMessage call = QDBusMessage::createMethodCall(service, objectPath, interfaceName,
                                                       QStringLiteral("Notify"));
    const QVariantMap hints{{QStringLiteral("desktop-entry"), QStringLiteral("velto")}};
    call << QStringLiteral("Velto") << quint32(0) << QStringLiteral("velto") << title << body
         << actions << hints << qint32(-1);
    auto* watcher = new QDBusPendingCallWatcher(bus_.asyncCall(call), this);
    connect(watcher, &QDBusPendingCallWatcher::finished, this,
            [this, onShown](QDBusPendingCallWatcher* finished) {
                QDBusPendingReply<quint32> reply = *finished;
                finished->deleteLater();
                if (reply.isError()) {
                    // No notification service: the page shows what arrived anyway.
                    diagnostic("notification not shown:", reply.error().name().toStdString());
                    return;
                }
                if (onShown) {
                    onShown(reply.value());
                }
                emit shown(reply.value());
            });
}

void Notifications::onActionInvoked(quint32 id, const QString& action) {
    const auto question = questionById_.constFind(id);
    if (question != questionById_.constEnd()) {
        if (action == QLatin1String("accept") || action == QLatin1String("decline")) {
            const QString key = *question;
            questionById_.remove(id);
            emit answered(key, action == QLatin1String("accept"));
        }
        return;
    }
    const auto found = pathById_.constFind(id);
    if (found == pathById_.constEnd() || action != QLatin1String("default")) {
        return;
    }
    revealer_.reveal(*found);
}

void Notifications::onClosed(quint32 id, quint32 /*reason*/) {
    pathById_.remove(id);
    questionById_.remove(id);
}

}  // namespace velto::app
