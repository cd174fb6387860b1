#pragma once

#include <QDBusConnection>
#include <QHash>
#include <QObject>
#include <QString>
#include <QStringList>
#include <functional>

namespace velto::app {

class FileRevealer;

// Desktop notifications for what arrives, through org.freedesktop.Notifications. Activating a
// file's notification reveals the file; a question about an incoming transfer carries Accept
// and Decline. The service's signals go to every client, so only ids that we were given are
// acted on. No service on the bus is not an error: nothing is shown.
class Notifications : public QObject {
    Q_OBJECT
  public:
    Notifications(QDBusConnection bus, FileRevealer& revealer, QObject* parent = nullptr);

    void notifyText(const QString& title, const QString& text);
    void notifyFile(const QString& title, const QString& path);
    // A transfer that waits for the user's answer; answered() tells which action was taken.
    void notifyQuestion(const QString& title, const QString& body, const QString& transferKey);
    // Takes a question's notification away: answered elsewhere, or no longer open.
    void withdrawQuestion(const QString& transferKey);

    // Ids of shown file notifications that still wait for an activation or a close.
    int pendingFileNotifications() const { return static_cast<int>(pathById_.size()); }

  signals:
    void shown(quint32 id);
    void answered(const QString& transferKey, bool accept);

  private slots:
    void onActionInvoked(quint32 id, const QString& action);
    void onClosed(quint32 id, quint32 reason);

  private:
    using Shown = std::function<void(quint32 id)>;
    void notify(const QString& title, const QString& body, const QStringList& actions,
                const Shown& onShown);

    QDBusConnection bus_;
    FileRevealer& revealer_;
    QHash<quint32, QString> pathById_;
    QHash<quint32, QString> questionById_;  // id -> transfer key
};

}  // namespace velto::app
