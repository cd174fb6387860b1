#pragma once

#include <QObject>
#include <QString>

class QLocalServer;

namespace velto::app {

// One running program per user session. The first launch listens on a local socket; a later
// launch finds it, asks it to show its window and leaves.
class SingleInstance : public QObject {
    Q_OBJECT
  public:
    // socketPath: where the running instance listens (see defaultSocketPath()).
    explicit SingleInstance(QString socketPath, QObject* parent = nullptr);

    // In the user's runtime folder, else the temporary folder with the user id in the name.
    static QString defaultSocketPath();

    // True when another instance answered and took the request to show itself.
    bool activateRunningInstance();
    // Starts listening; a socket file left by a crashed instance is replaced.
    bool listen();

  signals:
    void activationRequested();

  private:
    QString socketPath_;
    QLocalServer* server_ = nullptr;
};

}  // namespace velto::app
