#pragma once

#include <QString>

namespace velto::app {

// The session's autostart entry for Velto, $XDG_CONFIG_HOME/autostart/velto.desktop
// (~/.config when unset). Whether Velto starts with the session is the entry's presence alone:
// the desktop's own session settings may remove or add it, and the program shows what is true.
// The entry starts the program with `flag`, which keeps the window hidden where there is a tray.
class AutostartEntry {
  public:
    static constexpr const char* flag = "--autostart";

    // program: the executable the entry starts, absolute.
    AutostartEntry(QString path, QString program);
    // The user's entry, starting this very program.
    AutostartEntry();

    static QString defaultPath();
    const QString& path() const { return path_; }

    bool isEnabled() const;
    // Writes or removes the entry. Empty, or words for the user when that failed.
    QString setEnabled(bool enabled) const;
    // The entry's text.
    QByteArray contents() const;

  private:
    QString path_;
    QString program_;
};

}  // namespace velto::app
