#pragma once

#include <QDBusConnection>
#include <QObject>
#include <QStringList>
#include <QVariantMap>
#include <QVector>

namespace velto::app::test {

// The desktop's notification server and file manager, on a bus connection of their own, so
// that the program talks to them exactly as it would to the real ones.
class FakeNotificationServer : public QObject {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.Notifications")
  public:
    struct Shown {
        uint id;
        QString summary;
        QString body;
        QStringList actions;
    };
    QVector<Shown> shown;

    // Tells every client that the user activated notification id.
    void activate(QDBusConnection& bus, uint id, const QString& action);

  public slots:
    uint Notify(const QString& appName, uint replacesId, const QString& appIcon,
                const QString& summary, const QString& body, const QStringList& actions,
                const QVariantMap& hints, int expireTimeout);
    QStringList GetCapabilities() { return {"actions", "body"}; }

  private:
    uint nextId_ = 40;
};

class FakeFileManager : public QObject {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.FileManager1")
  public:
    QVector<QStringList> shownItems;

  public slots:
    void ShowItems(const QStringList& uris, const QString& startupId);
};

// The desktop's previewer; registered only by the tests that want one running.
class FakePreviewer : public QObject {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.gnome.NautilusPreviewer2")
  public:
    QStringList shownUris;

    bool registerOn(QDBusConnection& bus);
    void unregisterFrom(QDBusConnection& bus);

  public slots:
    void ShowFile(const QString& uri, const QString& windowHandle, bool closeIfShown);
};

class FakeDesktop {
  public:
    FakeDesktop();
    ~FakeDesktop();
    bool registered() const { return registered_; }
    QDBusConnection& bus() { return bus_; }

    FakeNotificationServer notifications;
    FakeFileManager fileManager;

  private:
    QDBusConnection bus_;
    bool registered_ = false;
};

}  // namespace velto::app::test
