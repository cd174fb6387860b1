#include "FakeDesktop.h"

#include <QDBusMessage>

namespace velto::app::test {

namespace {
const QString connectionName = QStringLiteral("fake-desktop");
}

uint FakeNotificationServer::Notify(const QString& /*appName*/, uint /*replacesId*/,
                                    const QString& /*appIcon*/, const QString& summary,
                                    const QString& body, const QStringList& actions,
                                    const QVariantMap& /*hints*/, int /*expireTimeout*/) {
    const uint id = nextId_++;
    shown.append({id, summary, body, actions});
    return id;
}

void FakeNotificationServer::activate(QDBusConnection& bus, uint id, const QString& action) {
    QDBusMessage signal = QDBusMessage::createSignal(
        QStringLiteral("/org/freedesktop/Notifications"),
        QStringLiteral("org.freedesktop.Notifications"), QStringLiteral("ActionInvoked"));
    signal << id << action;
    bus.send(signal);
}

void FakeFileManager::ShowItems(const QStringList& uris, const QString& /*startupId*/) {
    shownItems.append(uris);
}

void FakePreviewer::ShowFile(const QString& uri, const QString& /*windowHandle*/,
                             bool /*closeIfShown*/) {
    shownUris.append(uri);
}

bool FakePreviewer::registerOn(QDBusConnection& bus) {
    return bus.registerObject(QStringLiteral("/org/gnome/NautilusPreviewer"), this,
                              QDBusConnection::ExportAllSlots) &&
           bus.registerService(QStringLiteral("org.gnome.NautilusPreviewer"));
}

void FakePreviewer::unregisterFrom(QDBusConnection& bus) {
    bus.unregisterService(QStringLiteral("org.gnome.NautilusPreviewer"));
    bus.unregisterObject(QStringLiteral("/org/gnome/NautilusPreviewer"));
}

FakeDesktop::FakeDesktop()
    : bus_(QDBusConnection::connectToBus(QDBusConnection::SessionBus, connectionName)) {
    registered_ = bus_.isConnected() &&
                  bus_.registerObject(QStringLiteral("/org/freedesktop/Notifications"),
                                      &notifications, QDBusConnection::ExportAllSlots) &&
                  bus_.registerService(QStringLiteral("org.freedesktop.Notifications")) &&
                  bus_.registerObject(QStringLiteral("/org/freedesktop/FileManager1"), &fileManager,
                                      QDBusConnection::ExportAllSlots) &&
                  bus_.registerService(QStringLiteral("org.freedesktop.FileManager1"));
}

FakeDesktop::~FakeDesktop() {
    bus_.unregisterService(QStringLiteral("org.freedesktop.Notifications"));
    bus_.unregisterService(QStringLiteral("org.freedesktop.FileManager1"));
    QDBusConnection::disconnectFromBus(connectionName);
}

}  // namespace velto::app::test
