#pragma once

#include <QCoreApplication>
#include <QJsonObject>
#include <QString>

#include "velto/SettingsFile.h"

namespace velto::app {

// What arrives and from whom, as the page shows and changes it: the receiving mode, the
// visibility, the receiving folder and the trusted and blocked computers. They live in the
// settings file shared with velto-cli; the running server follows the file by itself. Each
// change returns words for the user when it failed, else an empty string.
class ReceivingSettings {
    Q_DECLARE_TR_FUNCTIONS(ReceivingSettings)

  public:
    explicit ReceivingSettings(SettingsFile file = SettingsFile()) : file_(std::move(file)) {}

    // {receiveMode, modeSecondsLeft (while "everyone-timed" runs), visible, receiveFolder (the
    // folder in use), trusted and blocked: [{address, signature}]}.
    QJsonObject describe() const;

    // key and value as velto-cli's "config set" takes them (Settings::namedChange).
    QString set(const QString& key, const QString& value) const;
    // command: "trust", "untrust", "block" or "unblock"; address: IPv4, dotted.
    QString mark(const QString& command, const QString& address) const;

  private:
    QString update(const std::function<void(Settings&)>& change) const;

    SettingsFile file_;
};

}  // namespace velto::app
