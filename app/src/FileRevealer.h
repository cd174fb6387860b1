#pragma once

#include <QDBusConnection>
#include <QObject>
#include <QString>

namespace velto::app {

// Shows a file selected in the desktop's file manager, or, where none answers on the session
// bus, opens the folder that holds it.
class FileRevealer : public QObject {
    Q_OBJECT
  public:
    explicit FileRevealer(QDBusConnection bus, QObject* parent = nullptr);

    void reveal(const QString& path);

  signals:
    // The folder was opened instead (no file manager service answered).
    void fellBackToFolder(const QString& folder);

  private:
    QDBusConnection bus_;
};

}  // namespace velto::app
