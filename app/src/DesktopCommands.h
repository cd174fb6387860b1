#pragma once

#include <QElapsedTimer>
#include <QJsonObject>
#include <QString>
#include <optional>

#include "AutostartEntry.h"

namespace velto::app {

// The page's commands about the program's place on the desktop:
//   "getAutostart"               {autostart}
//   "setAutostart" {enabled}     {ok, autostart, error?}
//   "getFirewallHint"            {delaySeconds, firewall, command, ports}: what the empty state
//                                says once nobody was heard since the start, in delaySeconds
//                                (what is left of 15 s, or of VELTO_FIREWALL_HINT_SECONDS)
class DesktopCommands {
  public:
    // Created at the program's start: the quiet time counts from here.
    explicit DesktopCommands(AutostartEntry autostart = AutostartEntry())
        : autostart_(std::move(autostart)) {
        sinceStart_.start();
    }

    // No value for a command that is not one of these.
    std::optional<QJsonObject> answer(const QString& command, const QJsonObject& data) const;

  private:
    AutostartEntry autostart_;
    QElapsedTimer sinceStart_;
};

}  // namespace velto::app
