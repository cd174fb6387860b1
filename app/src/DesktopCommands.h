#pragma once

#include <QJsonObject>
#include <QString>
#include <optional>

#include "AutostartEntry.h"

namespace velto::app {

// The page's commands about the program's place on the desktop:
//   "getAutostart"               {autostart}
//   "setAutostart" {enabled}     {ok, autostart, error?}
//   "getFirewallHint"            {delaySeconds, firewall, command, ports}: what the empty state
//                                says once nobody was heard for delaySeconds (15, or
//                                VELTO_FIREWALL_HINT_SECONDS)
class DesktopCommands {
  public:
    explicit DesktopCommands(AutostartEntry autostart = AutostartEntry())
        : autostart_(std::move(autostart)) {}

    // No value for a command that is not one of these.
    std::optional<QJsonObject> answer(const QString& command, const QJsonObject& data) const;

  private:
    AutostartEntry autostart_;
};

}  // namespace velto::app
