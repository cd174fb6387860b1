#include "DesktopCommands.h"

#include <QString>
#include <algorithm>

#include "velto/FirewallHint.h"

namespace velto::app {

namespace {

constexpr double defaultHintDelaySeconds = 15;

double hintDelaySeconds() {
    bool ok = false;
    const double seconds = qEnvironmentVariable("VELTO_FIREWALL_HINT_SECONDS").toDouble(&ok);
    return ok && seconds >= 0 ? seconds : defaultHintDelaySeconds;
}

}  // namespace

std::optional<QJsonObject> DesktopCommands::answer(const QString& command,
                                                   const QJsonObject& data) const {
    if (command == QLatin1String("getAutostart")) {
        return QJsonObject{{"autostart", autostart_.isEnabled()}};
    }
    if (command == QLatin1String("setAutostart")) {
        const QString error = autostart_.setEnabled(data.value("enabled").toBool());
        QJsonObject answer{{"ok", error.isEmpty()}, {"autostart", autostart_.isEnabled()}};
        if (!error.isEmpty()) {
            answer.insert("error", error);
        }
        return answer;
    }
    if (command == QLatin1String("getFirewallHint")) {
        const FirewallHint hint = FirewallDetector().hint();
        const double left = hintDelaySeconds() - static_cast<double>(sinceStart_.elapsed()) / 1000;
        return QJsonObject{{"delaySeconds", std::max(0.0, left)},
                           {"firewall", QString::fromStdString(hint.firewallName)},
                           {"command", QString::fromStdString(hint.command)},
                           {"ports", QString::fromLatin1(FirewallHint::ports)}};
    }
    return std::nullopt;
}

}  // namespace velto::app
