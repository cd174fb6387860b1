#include "DesktopAppearance.h"

#include <QApplication>
#include <QDBusMessage>
#include <QDBusVariant>
#include <QPalette>

namespace velto::app {

namespace {

constexpr int portalTimeoutMs = 500;
constexpr int darkLightness = 128;

// The portal's answer is a variant that may hold another variant.
QVariant unwrap(QVariant value) {
    while (value.canConvert<QDBusVariant>() && value.userType() == qMetaTypeId<QDBusVariant>()) {
        value = qvariant_cast<QDBusVariant>(value).variant();
    }
    return value;
}

}  // namespace

DesktopAppearance::Scheme DesktopAppearance::desktopScheme(const QDBusConnection& bus) {
    if (bus.isConnected()) {
        QDBusMessage read = QDBusMessage::createMethodCall(
            QStringLiteral("org.freedesktop.portal.Desktop"),
            QStringLiteral("/org/freedesktop/portal/desktop"),
            QStringLiteral("org.freedesktop.portal.Settings"), QStringLiteral("Read"));
        read << QStringLiteral("org.freedesktop.appearance") << QStringLiteral("color-scheme");
        const QDBusMessage reply = bus.call(read, QDBus::Block, portalTimeoutMs);
        if (reply.type() == QDBusMessage::ReplyMessage && !reply.arguments().isEmpty()) {
            const Scheme scheme = schemeOf(reply.arguments().first());
            if (scheme != Scheme::noPreference) {
                return scheme;
            }  // no preference: the palette may still tell
        }
    }
    const bool darkPalette =
        QApplication::palette().color(QPalette::Window).lightness() < darkLightness;
    return darkPalette ? Scheme::dark : Scheme::noPreference;
}

DesktopAppearance::Scheme DesktopAppearance::schemeOf(const QVariant& portalValue) {
    switch (unwrap(portalValue).toUInt()) {
        case 1:
            return Scheme::dark;
        case 2:
            return Scheme::light;
        default:
            return Scheme::noPreference;
    }
}

QByteArray DesktopAppearance::chromiumFlags(const QByteArray& flags, Scheme scheme) {
    if (scheme == Scheme::noPreference || flags.contains("preferredColorScheme")) {
        return flags;
    }
    // Blink's values: 0 dark, 1 light.
    const QByteArray setting = scheme == Scheme::dark ? "--blink-settings=preferredColorScheme=0"
                                                      : "--blink-settings=preferredColorScheme=1";
    return flags.isEmpty() ? setting : flags + ' ' + setting;
}

}  // namespace velto::app
