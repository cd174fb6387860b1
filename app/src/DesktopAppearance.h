#pragma once

#include <QByteArray>
#include <QDBusConnection>
#include <QVariant>

namespace velto::app {

// The colour scheme the desktop asks for. The web engine of Qt 6.4 does not pass it on to the
// page by itself, so the program tells the engine at start-up, before the first page exists;
// the page follows it through prefers-color-scheme.
class DesktopAppearance {
  public:
    enum class Scheme { noPreference, dark, light };

    // The desktop portal's appearance setting where a portal answers, else the application
    // palette (a dark window colour means a dark desktop).
    static Scheme desktopScheme(const QDBusConnection& bus);
    // The portal's value of "color-scheme" (1 dark, 2 light, anything else no preference).
    static Scheme schemeOf(const QVariant& portalValue);

    // The engine's command-line flags with the scheme added, unless they already choose one.
    static QByteArray chromiumFlags(const QByteArray& flags, Scheme scheme);
};

}  // namespace velto::app
