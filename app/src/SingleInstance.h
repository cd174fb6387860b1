#pragma once

#include <QObject>
#include <QString>
#include <QStringList>

class QLocalServer;

namespace velto::app {

// One running program per user session. The first launch listens on a local socket; a later
// launch finds it, asks it to show its window (and to send the paths it was given) and leaves.
class SingleInstance : public QObject {
    Q_OBJECT
  public:
    // socketPath: where the running instance listens (see defaultSocketPath()).
    explicit SingleInstance(QString socketPath, QObject* parent = nullptr);

    // In the user's runtime folder, else the temporary folder with the user id in the name.
    static QString defaultSocketPath();

    // True when another instance answered and took the request to show itself and to ask
    // where the paths (absolute) go, if there are any.
    bool activateRunningInstance(const QStringList& paths = {});
    // True when another instance answers; it is asked nothing.
    bool runningInstanceFound();
    // Starts listening; a socket file left by a crashed instance is replaced.
    bool listen();

  signals:
    void activationRequested(const QStringList& paths);

  private:
    QString socketPath_;
    QLocalServer* server_ = nullptr;
};

}  // namespace velto::app
