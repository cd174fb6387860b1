#pragma once

#include <QDBusConnection>
#include <QDBusMessage>
#include <QObject>
#include <QPalette>

#include "DesktopAppearance.h"

namespace velto::app {

// Keeps the program's own windows (menus, dialogs, the preview window) in the colours the
// desktop prefers, from the start and whenever the desktop's preference changes while the
// program runs, and says so to whoever draws something else (the page).
class AppearanceFollower : public QObject {
    Q_OBJECT
  public:
    explicit AppearanceFollower(const QDBusConnection& bus, QObject* parent = nullptr);

    bool dark() const { return dark_; }
    // The palette of the program's windows in the dark: the page's dark colours.
    static QPalette darkPalette();

  signals:
    void darkChanged(bool dark);

  public slots:
    // The portal's signal of a changed setting: its group, key and value.
    void onSettingChanged(const QDBusMessage& changed);

  private:
    void apply(DesktopAppearance::Scheme scheme);

    QPalette desktopPalette_;  // what the desktop gave the program, for the light side
    bool desktopPaletteDark_;
    bool dark_ = false;
};

}  // namespace velto::app
