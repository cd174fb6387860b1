#include "ReceivingSettings.h"

#include <QJsonArray>
#include <chrono>

#include "velto/Ipv4Address.h"
#include "velto/UserFolders.h"

namespace velto::app {

namespace {

QJsonArray computers(const std::vector<ComputerIdentity>& list) {
    QJsonArray entries;
    for (const auto& computer : list) {
        entries.append(QJsonObject{{"address", QString::fromStdString(computer.address)},
                                   {"signature", QString::fromStdString(computer.signature)}});
    }
    return entries;
}

}  // namespace

QJsonObject ReceivingSettings::describe() const {
    const Settings settings = file_.load().settings;
    const auto now = std::chrono::system_clock::now();
    const ReceiveMode mode = settings.receiveModeAt(now);
    double secondsLeft = 0;
    if (const auto end = settings.everyoneTimedEnd(); end && mode == ReceiveMode::EveryoneTimed) {
        secondsLeft = std::chrono::duration<double>(*end - now).count();
    }
    const std::string folder = settings.receivingFolder().empty()
                                   ? UserFolders::userDownloadsFolder()
                                   : settings.receivingFolder();
    return {
        {"receiveMode", QString::fromUtf8(receiveModeName(mode).data(),
                                          static_cast<qsizetype>(receiveModeName(mode).size()))},
        {"modeSecondsLeft", secondsLeft},
        {"visible", settings.visible()},
        {"receiveFolder", QString::fromStdString(folder)},
        {"trusted", computers(settings.trusted())},
        {"blocked", computers(settings.blocked())}};
}

QString ReceivingSettings::set(const QString& key, const QString& value) const {
    const auto change = Settings::namedChange(key.toStdString(), value.toStdString());
    if (!change.apply) {
        return QString::fromStdString(change.error) + QLatin1Char('.');
    }
    return update(change.apply);
}

QString ReceivingSettings::mark(const QString& command, const QString& address) const {
    const std::string ip = address.trimmed().toStdString();
    if (!isPlainIpv4Address(ip)) {
        return tr("That is not an IPv4 address like 192.168.1.20.");
    }
    if (command == QLatin1String("trust")) {
        return update([ip](Settings& settings) { settings.trust(ip); });
    }
    if (command == QLatin1String("untrust")) {
        return update([ip](Settings& settings) { settings.untrust(ip); });
    }
    if (command == QLatin1String("block")) {
        return update([ip](Settings& settings) { settings.block(ip); });
    }
    if (command == QLatin1String("unblock")) {
        return update([ip](Settings& settings) { settings.unblock(ip); });
    }
    return tr("Unknown command %1.").arg(command);
}

QString ReceivingSettings::update(const std::function<void(Settings&)>& change) const {
    std::string problem;
    if (!file_.update(change, &problem)) {
        return tr("The settings could not be saved: %1").arg(QString::fromStdString(problem));
    }
    return {};
}

}  // namespace velto::app
