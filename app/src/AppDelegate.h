#pragma once

#include <QObject>
#include <QString>
#include <memory>
#include <mutex>
#include <string>

#include "velto/SettingsWatcher.h"

namespace velto {
class VeltoServer;
}

namespace velto::app {

class ViewController;

// Owns the server and the main window's controller for the whole run: starts the server once
// the controller is registered, brings the window back on request, and says goodbye at the end.
class AppDelegate : public QObject {
    Q_OBJECT
  public:
    explicit AppDelegate(QObject* parent = nullptr);
    ~AppDelegate() override;

    void setViewController(std::shared_ptr<ViewController> controller);
    std::shared_ptr<ViewController> viewController() const;
    // Safe from any thread: the controller reaches the server from library queues.
    std::shared_ptr<VeltoServer> server() const;

    // Creates the server, makes the controller both of its delegates, starts it and announces
    // this instance once. A port that cannot be had is shown and ends the program.
    void applicationWillFinishLaunching();
    // The session asks its programs to save, before a logout or only to keep a checkpoint. The
    // conversations are stored; nothing is said to the LAN, since the logout may still be
    // cancelled: the goodbye goes out when the program really quits.
    void applicationWillSaveSession();
    // Ends the transfers arriving, then says goodbye; once, if this instance ever said hello.
    void applicationWillTerminate();
    // The LAN has had this instance's hello and not yet its goodbye.
    bool announced() const { return helloSaid_ && !goodbyeSaid_; }
    // Shows, raises and activates the main window. Always false: nothing else is to be done.
    bool applicationShouldHandleReopen();

    // Set when a port failure asked the program to end (also before the event loop runs).
    bool terminationRequested() const { return terminationRequested_; }

  signals:
    void terminateRequested();

  private:
    void onPortFailure(const std::string& message);

    mutable std::mutex mutex_;  // guards server_ and viewController_
    std::shared_ptr<VeltoServer> server_;
    std::unique_ptr<SettingsWatcher> settingsWatcher_;  // from the start of the server on
    std::shared_ptr<ViewController> viewController_;
    bool terminationRequested_ = false;
    bool helloSaid_ = false;
    bool goodbyeSaid_ = false;
};

}  // namespace velto::app
