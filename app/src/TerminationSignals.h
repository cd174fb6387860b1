#pragma once

#include <QObject>

class QSocketNotifier;

namespace velto::app {

// Turns SIGINT, SIGTERM and SIGHUP into a Qt signal on the GUI thread, so that the program can
// say goodbye before it ends. One instance per process.
class TerminationSignals : public QObject {
    Q_OBJECT
  public:
    explicit TerminationSignals(QObject* parent = nullptr);
    ~TerminationSignals() override;

  signals:
    void received(int signalNumber);

  private:
    QSocketNotifier* notifier_ = nullptr;
};

}  // namespace velto::app
