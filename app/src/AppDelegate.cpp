#include "AppDelegate.h"

#include <QApplication>
#include <QMessageBox>
#include <QWidget>

#include "ViewController.h"
#include "velto/Diagnostics.h"
#include "velto/VeltoIncomingTransfer.h"
#include "velto/VeltoServer.h"

namespace velto::app {
namespace {

// How long quitting waits for the transfers under way to end.
constexpr std::chrono::seconds stopLimit{5};

}  // namespace

AppDelegate::AppDelegate(QObject* parent) : QObject(parent) {}

AppDelegate::~AppDelegate() = default;

void AppDelegate::setViewController(std::shared_ptr<ViewController> controller) {
    std::lock_guard lock(mutex_);
    viewController_ = std::move(controller);
}

std::shared_ptr<ViewController> AppDelegate::viewController() const {
    std::lock_guard lock(mutex_);
    return viewController_;
}

std::shared_ptr<VeltoServer> AppDelegate::server() const {
    std::lock_guard lock(mutex_);
    return server_;
}

void AppDelegate::applicationWillFinishLaunching() {
    const auto controller = viewController();
    auto server = VeltoServer::create();
    {
        std::lock_guard lock(mutex_);
        server_ = server;
    }
    server->setDelegate(controller);
    server->setIncomingDelegate(controller);
    server->setPortFailureHandler([this](const std::string& message) { onPortFailure(message); });
    // The receiving settings are in force before the first connection can come in, and follow
    // the settings file from then on, whoever changes it.
    settingsWatcher_ =
        std::make_unique<SettingsWatcher>(server, SettingsFile(), SettingsWatcher::Options{},
                                          [weak = std::weak_ptr<ViewController>(controller)](
                                              const std::string& key, const std::string& value) {
                                              if (const auto shown = weak.lock()) {
                                                  shown->settingApplied(key, value);
                                              }
                                          });
    server->startServer();
    if (terminationRequested_) {
        return;  // leaving: no hello that a goodbye would have to take back
    }
    // What an earlier run left half-received; folders of transfers still running elsewhere
    // are locked and stay.
    VeltoIncomingTransfer::removeLeftoverIntermediateFolders(server->receivingFolder());
    // Addresses added by hand (the watcher gave them to the server before it started) hear
    // this hello too, for networks that drop broadcasts.
    server->sayHello();
    helloSaid_ = true;
}

void AppDelegate::onPortFailure(const std::string& message) {
    diagnostic("cannot start:", message);
    if (terminationRequested_) {
        return;  // one message is enough: the program is already on its way out
    }
    terminationRequested_ = true;
    QMessageBox box(QMessageBox::Critical, QStringLiteral("Velto"), QString::fromStdString(message),
                    QMessageBox::Ok);
    box.setObjectName(QStringLiteral("portFailure"));
    box.exec();
    emit terminateRequested();
}

void AppDelegate::applicationWillSaveSession() {
    if (const auto controller = viewController()) {
        controller->saveConversations();
    }
}

void AppDelegate::applicationWillTerminate() {
    const auto server = this->server();
    // A failed start never said hello; a goodbye from here would withdraw whoever else answers
    // at this address.
    if (goodbyeSaid_ || !helloSaid_ || server == nullptr) {
        return;
    }
    goodbyeSaid_ = true;
    settingsWatcher_.reset();  // no change of the file turns visibility back on from here
    // Transfers still arriving end first, reported as failed with nothing of them kept, so
    // that the goodbye is the last thing the others hear.
    if (!server->stopReceiving(std::chrono::steady_clock::now() + stopLimit)) {
        diagnostic("incoming transfers were still being stored when the program ended");
    }
    server->sayGoodbye();
    // The datagrams leave from the discovery queue; let them go before the process ends.
    server->broadcastDispatchQueue()->sync([] {});
}

bool AppDelegate::applicationShouldHandleReopen() {
    const auto controller = viewController();
    QWidget* window = controller ? controller->window() : nullptr;
    if (window == nullptr) {
        return false;
    }
    window->setWindowState(window->windowState() & ~Qt::WindowMinimized);
    window->show();
    window->raise();
    window->activateWindow();
    return false;
}

}  // namespace velto::app
