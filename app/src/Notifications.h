#pragma once

#include <QDBusConnection>
#include <QHash>
#include <QObject>
#include <QString>

namespace velto::app {

class FileRevealer;

// Desktop notifications for what arrives, through org.freedesktop.Notifications. Activating a
// file's notification reveals the file. The service's signals go to every client, so only ids
// that we were given are acted on. No service on the bus is not an error: nothing is shown.
class Notifications : public QObject {
    Q_OBJECT
  public:
    Notifications(QDBusConnection bus, FileRevealer& revealer, QObject* parent = nullptr);

    void notifyText(const QString& title, const QString& text);
    void notifyFile(const QString& title, const QString& path);

    // Ids of shown file notifications that still wait for an activation or a close.
    int pendingFileNotifications() const { return static_cast<int>(pathById_.size()); }

  signals:
    void shown(quint32 id);

  private slots:
    void onActionInvoked(quint32 id, const QString& action);
    void onClosed(quint32 id, quint32 reason);

  private:
    void notify(const QString& title, const QString& body, const QString& openFile);

    QDBusConnection bus_;
    FileRevealer& revealer_;
    QHash<quint32, QString> pathById_;
};

}  // namespace velto::app
