#include "AppearanceFollower.h"

#include <QApplication>

namespace velto::app {

namespace {

constexpr int darkLightness = 128;

}  // namespace

AppearanceFollower::AppearanceFollower(const QDBusConnection& bus, QObject* parent)
    : QObject(parent),
      desktopPalette_(QApplication::palette()),
      desktopPaletteDark_(desktopPalette_.color(QPalette::Window).lightness() < darkLightness) {
    // Any sender: the portal may come and go while the program runs.
    QDBusConnection(bus).connect(QString(), QStringLiteral("/org/freedesktop/portal/desktop"),
                                 QStringLiteral("org.freedesktop.portal.Settings"),
                                 QStringLiteral("SettingChanged"), this,
                                 SLOT(onSettingChanged(QDBusMessage)));
    apply(DesktopAppearance::desktopScheme(bus));
}

void AppearanceFollower::onSettingChanged(const QDBusMessage& changed) {
    const QVariantList arguments = changed.arguments();  // group, key, value
    if (arguments.size() != 3 ||
        arguments.at(0).toString() != QLatin1String("org.freedesktop.appearance") ||
        arguments.at(1).toString() != QLatin1String("color-scheme")) {
        return;
    }
    apply(DesktopAppearance::schemeOf(arguments.at(2)));
}

void AppearanceFollower::apply(DesktopAppearance::Scheme scheme) {
    const bool dark = scheme == DesktopAppearance::Scheme::dark ||
                      (scheme == DesktopAppearance::Scheme::noPreference && desktopPaletteDark_);
    QApplication::setPalette(dark && !desktopPaletteDark_ ? darkPalette() : desktopPalette_);
    if (dark != dark_) {
        dark_ = dark;
        emit darkChanged(dark);
    }
}

QPalette AppearanceFollower::darkPalette() {
    const QColor window(0x1b, 0x1f, 0x25);
    const QColor surface(0x22, 0x27, 0x30);
    const QColor raised(0x2a, 0x30, 0x3a);
    const QColor text(0xe7, 0xea, 0xf0);
    const QColor muted(0x9a, 0xa3, 0xb2);
    const QColor accent(0x5b, 0x93, 0xef);
    QPalette palette(raised, window);  // button and window: the rest derived from them
    palette.setColor(QPalette::WindowText, text);
    palette.setColor(QPalette::Base, surface);
    palette.setColor(QPalette::AlternateBase, window);
    palette.setColor(QPalette::Text, text);
    palette.setColor(QPalette::ButtonText, text);
    palette.setColor(QPalette::BrightText, Qt::white);
    palette.setColor(QPalette::ToolTipBase, raised);
    palette.setColor(QPalette::ToolTipText, text);
    palette.setColor(QPalette::PlaceholderText, muted);
    palette.setColor(QPalette::Highlight, accent);
    palette.setColor(QPalette::HighlightedText, Qt::white);
    palette.setColor(QPalette::Link, accent);
    palette.setColor(QPalette::Light, raised.lighter(130));
    palette.setColor(QPalette::Midlight, raised.lighter(115));
    palette.setColor(QPalette::Mid, window.lighter(140));
    palette.setColor(QPalette::Dark, window.darker(130));
    palette.setColor(QPalette::Shadow, Qt::black);
    for (const auto role : {QPalette::WindowText, QPalette::Text, QPalette::ButtonText}) {
        palette.setColor(QPalette::Disabled, role, muted.darker(130));
    }
    return palette;
}

}  // namespace velto::app
