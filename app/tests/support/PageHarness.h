#pragma once

#include <QJsonArray>
#include <QJsonObject>
#include <QJsonValue>
#include <QPoint>
#include <QString>
#include <QTemporaryDir>
#include <QVariant>
#include <memory>

#include "AppDelegate.h"
#include "FileRevealer.h"
#include "MainWindow.h"
#include "Notifications.h"
#include "ViewController.h"

class QWebEngineProfile;

namespace velto::app::test {

// Compact JSON text of a value, so that a failed comparison shows both sides.
QString json(const QJsonValue& value);

// A command message as the page sends it; data left out when undefined.
QJsonObject command(const QString& name, const QJsonValue& data = QJsonValue::Undefined);

// The program as main() puts it together, minus the single-instance and signal plumbing: the
// real window, page, bridge and controller, with the page's storage in a folder of the test's.
class PageHarness {
  public:
    // startServer: also run the start-up (real server on this namespace's ports).
    explicit PageHarness(bool startServer = true, const QString& storagePath = QString());
    ~PageHarness();

    AppDelegate& app() { return app_; }
    ViewController& controller() { return *controller_; }
    MainWindow& window() { return *window_; }
    Notifications& notifications() { return *notifications_; }

    // Runs script in the page and returns its value (waits for the page's answer).
    QVariant evaluate(const QString& script);
    // Waits until the script's value is true; false on time-out.
    bool waitFor(const QString& condition, int timeoutMs = 60000);
    // The centre of the first element matching a CSS selector, in the web view's coordinates.
    QPoint centreOf(const QString& selector);
    // Loads the page anew (as a restart would) and waits until it is ready.
    bool reload();
    // Saves the window as the screen shows it (menus and dialogs over it too) as name, in the
    // folder VELTO_TEST_SCREENSHOTS names, to be looked at; nothing without that variable.
    void capture(const QString& name);

    // Starts recording every event envelope the page receives, from now on.
    void recordEvents();
    QJsonArray recordedEvents();

    // Sends a command the way the page does; the answer, if any, is kept under id.
    void call(const QString& id, const QJsonObject& message);
    bool answered(const QString& id);
    QJsonValue answer(const QString& id);

  private:
    QTemporaryDir storage_;
    QWebEngineProfile* profile_;
    FileRevealer revealer_;
    std::unique_ptr<Notifications> notifications_;
    std::unique_ptr<MainWindow> window_;
    AppDelegate app_;
    std::shared_ptr<ViewController> controller_;
};

}  // namespace velto::app::test
