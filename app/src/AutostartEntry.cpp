#include "AutostartEntry.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <QSaveFile>
#include <QStandardPaths>

namespace velto::app {

namespace {

// One argument of an Exec line: quoted where it holds anything but plain path characters,
// then written as a desktop entry string (backslashes doubled, % as %%).
QString execArgument(const QString& argument) {
    static const QRegularExpression plain(QStringLiteral("^[A-Za-z0-9/._+-]+$"));
    QString quoted = argument;
    if (!plain.match(argument).hasMatch()) {
        quoted.clear();
        for (const QChar c : argument) {
            if (c == QLatin1Char('"') || c == QLatin1Char('`') || c == QLatin1Char('$') ||
                c == QLatin1Char('\\')) {
                quoted += QLatin1Char('\\');
            }
            quoted += c;
        }
        quoted = QLatin1Char('"') + quoted + QLatin1Char('"');
    }
    return quoted.replace(QLatin1Char('\\'), QStringLiteral("\\\\"))
        .replace(QLatin1Char('%'), QStringLiteral("%%"));
}

}  // namespace

AutostartEntry::AutostartEntry(QString path, QString program)
    : path_(std::move(path)), program_(std::move(program)) {}

AutostartEntry::AutostartEntry()
    : AutostartEntry(defaultPath(), QCoreApplication::applicationFilePath()) {}

QString AutostartEntry::defaultPath() {
    // GenericConfigLocation is $XDG_CONFIG_HOME when set and absolute, else ~/.config.
    return QDir(QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation))
        .filePath(QStringLiteral("autostart/velto.desktop"));
}

bool AutostartEntry::isEnabled() const {
    return QFileInfo::exists(path_);
}

QByteArray AutostartEntry::contents() const {
    const QString exec = execArgument(program_) + QLatin1Char(' ') + QLatin1String(flag);
    return QStringLiteral(
               "[Desktop Entry]\n"
               "Type=Application\n"
               "Name=Velto\n"
               "Comment=Receive from the computers on your network from the start\n"
               "Exec=%1\n"
               "Icon=velto\n"
               "Terminal=false\n"
               "X-GNOME-Autostart-enabled=true\n")
        .arg(exec)
        .toUtf8();
}

QString AutostartEntry::setEnabled(bool enabled) const {
    if (!enabled) {
        QFile entry(path_);
        if (entry.exists() && !entry.remove()) {
            return QCoreApplication::translate("AutostartEntry", "%1 could not be removed: %2")
                .arg(path_, entry.errorString());
        }
        return {};
    }
    QSaveFile entry(path_);
    if (!QDir().mkpath(QFileInfo(path_).absolutePath()) || !entry.open(QIODevice::WriteOnly) ||
        entry.write(contents()) < 0 || !entry.commit()) {
        return QCoreApplication::translate("AutostartEntry", "%1 could not be written: %2")
            .arg(path_, entry.errorString());
    }
    return {};
}

}  // namespace velto::app
