#include "ViewController.h"

#include <QDBusConnection>
#include <QFileDialog>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QLocale>
#include <QMessageBox>
#include <QNetworkInterface>
#include <QThread>
#include <QWebChannel>
#include <QWebEngineProfile>

#include "AddedAddresses.h"
#include "AppDelegate.h"
#include "AppearanceFollower.h"
#include "DesktopOpener.h"
#include "DragDestination.h"
#include "EventJson.h"
#include "FileDescription.h"
#include "FileDragSource.h"
#include "FileRevealer.h"
#include "Notifications.h"
#include "OpenPanel.h"
#include "PageCatalog.h"
#include "QuickLookPanel.h"
#include "ReceivingSettings.h"
#include "VeltoWebPage.h"
#include "VeltoWebView.h"
#include "velto/Diagnostics.h"
#include "velto/Ipv4Address.h"
#include "velto/VeltoIncomingTransfer.h"
#include "velto/VeltoServer.h"

namespace velto::app {

namespace {

QString text(const std::string& value) {
    return QString::fromStdString(value);
}
const QString pageUrl = QStringLiteral("qrc:/dist/index.html");

}  // namespace

std::shared_ptr<ViewController> ViewController::create(AppDelegate& app, QWidget* window,
                                                       VeltoWebView* webView,
                                                       QWebEngineProfile* profile,
                                                       Notifications* notifications,
                                                       FileRevealer* revealer) {
    auto* controller = new ViewController(app, window, webView, profile, notifications, revealer);
    return std::shared_ptr<ViewController>(controller, [](ViewController* released) {
        if (QThread::currentThread() == released->thread()) {
            delete released;
        } else {
            released->deleteLater();
        }
    });
}

ViewController::ViewController(AppDelegate& app, QWidget* window, VeltoWebView* webView,
                               QWebEngineProfile* profile, Notifications* notifications,
                               FileRevealer* revealer)
    : app_(app),
      window_(window),
      webView_(webView),
      profile_(profile),
      notifications_(notifications),
      revealer_(revealer),
      quickLookPanel_(new QuickLookPanel(QDBusConnection::sessionBus(), this)),
      appearance_(new AppearanceFollower(QDBusConnection::sessionBus(), this)),
      bridge_(new Bridge(this)),
      outgoingQueue_(DispatchQueue::create("outgoing")),
      events_([&app] { return app.server(); },
              [bridge = bridge_](const VeltoEvent& event) {
                  bridge->sendEvent(text(event.name), toQJsonObject(event.data));
              }) {
    if (revealer_ != nullptr) {  // from the menu and from notifications alike
        connect(revealer_, &FileRevealer::revealFailed, this, [this](const QString& path) {
            tellNotOpened(
                path, window_,
                tr("No file manager on this computer shows “%1”.").arg(QFileInfo(path).fileName()));
        });
    }
    connect(appearance_, &AppearanceFollower::darkChanged, bridge_, [this](bool dark) {
        bridge_->sendEvent(QStringLiteral("appearance"), QJsonObject{{"dark", dark}});
    });
    if (notifications_ != nullptr) {  // Accept and Decline on a question's notification
        connect(notifications_, &Notifications::answered, this,
                [this](const QString& key, bool accept) {
                    actOnTransfer(accept ? QStringLiteral("acceptTransfer")
                                         : QStringLiteral("declineTransfer"),
                                  key);
                });
    }
}

ViewController::~ViewController() = default;

void ViewController::viewDidLoad() {
    app_.setViewController(shared_from_this());
    webView_->setViewController(weak_from_this());

    page_ = new VeltoWebPage(profile_, webView_);

    page_->setAlertHandler([this](const QString& message) { handleSyncEvent(message); });
    channel_ = new QWebChannel(page_);
    channel_->registerObject(QStringLiteral("velto"), bridge_);
    page_->setWebChannel(channel_);
    bridge_->registerHandler([this](const QJsonObject& message, const Bridge::Reply& reply) {
        handleBridgeMessage(message, reply);
    });
    // Events raised while the page (re)loads wait until its script listens again.
    connect(page_, &QWebEnginePage::loadStarted, bridge_, [this] { bridge_->setPageReady(false); });
    dragDestination_ = std::make_unique<DragDestination>(*bridge_, dropableRegions_, *webView_);
    connect(page_, &QWebEnginePage::loadFinished, this, [this](bool ok) {
        if (ok) {
            installDragRedirect();
        }
    });
    webView_->setPage(page_);
    page_->load(QUrl(pageUrl));
}

void ViewController::installDragRedirect() {
    if (flipped_) {
        return;
    }
    flipped_ = true;
    diagnostic("drags over the page go to the controller");
}

int ViewController::numberOfPreviewItems() const {
    return quickLookSources_ ? static_cast<int>(quickLookSources_->size()) : 0;
}

QUrl ViewController::previewItemAt(int index) const {
    if (quickLookSources_ && index >= 0 && index < quickLookSources_->size()) {
        return QUrl::fromLocalFile(quickLookSources_->at(index));
    }
    return QUrl::fromLocalFile(QStringLiteral("/"));
}

// ---- commands from the page

void ViewController::askWhereToSend(const QStringList& paths) {
    bridge_->sendEvent(QStringLiteral("send-request"),
                       QJsonObject{{"paths", QJsonArray::fromStringList(paths)}});
}

void ViewController::handleBridgeMessage(const QJsonObject& message, const Bridge::Reply& reply) {
    const QString command = message.value("command").toString();
    const QJsonValue data = message.value("data");
    if (command == QLatin1String("setDropableRegions")) {
        setDropableRegions(data);  // never answered
    } else if (command == QLatin1String("getPeers")) {
        reply(collectPeers());
    } else if (command == QLatin1String("sendText")) {
        sendText(data.toObject(), reply);
    } else if (command == QLatin1String("sendFiles")) {
        sendFiles(data.toObject(), reply);
    } else if (command == QLatin1String("showOpenPanel")) {
        showOpenPanel(reply);
    } else if (command == QLatin1String("dragStart")) {
        dragStart(data.toObject(), reply);
    } else if (command == QLatin1String("getSelf")) {
        reply(describeSelf());
    } else if (command == QLatin1String("sayHello")) {
        sayHelloTo(data.toObject(), reply);
    } else if (command == QLatin1String("forgetAddress")) {
        forgetAddress(data.toObject(), reply);
    } else if (command == QLatin1String("getAddedAddresses")) {
        reply(describeAddedAddresses(QString()));
    } else if (command == QLatin1String("getSettings")) {
        reply(QJsonObject{{"ok", true}, {"settings", ReceivingSettings().describe()}});
    } else if (command == QLatin1String("setSetting") || command == QLatin1String("trust") ||
               command == QLatin1String("untrust") || command == QLatin1String("block") ||
               command == QLatin1String("unblock") ||
               command == QLatin1String("chooseReceiveFolder")) {
        changeReceiving(command, data.toObject(), reply);
    } else if (command == QLatin1String("acceptTransfer") ||
               command == QLatin1String("declineTransfer") ||
               command == QLatin1String("cancelTransfer")) {
        actOnTransfer(command, data.toObject().value("key").toString());
    } else if (const auto answer = desktopCommands_.answer(command, data.toObject())) {
        reply(*answer);
    } else if (command == QLatin1String("openFile")) {
        openWithDesktop(data.toObject().value("path").toString(), window_);
        reply(QJsonArray());
    } else if (command == QLatin1String("getAppearance")) {
        reply(QJsonObject{{"dark", appearance_->dark()}});
    } else if (command == QLatin1String("getLanguage")) {
        reply(PageCatalog::forLocale(QLocale()));
    } else if (command == QLatin1String("describeFiles")) {
        reply(FileDescription::describeAll(data.toObject().value("paths").toArray()));
    } else {
        reply(QJsonArray());
    }
}

void ViewController::setDropableRegions(const QJsonValue& data) {
    auto regions = parseDropRegions(data);
    if (!regions) {
        diagnostic("setDropableRegions: malformed regions ignored");
        return;
    }
    dropableRegions_ = std::move(*regions);
}

QJsonObject ViewController::collectPeers() const {
    const auto server = app_.server();
    if (server == nullptr) {
        return {};
    }
    return toQJsonObject(VeltoEvents::peerDictionaries(server->peers().snapshot()));
}

void ViewController::sendText(const QJsonObject& data, const Bridge::Reply& reply) {
    const auto server = app_.server();
    const auto peer =
        server ? server->peers().find(data.value("key").toString().toStdString()) : std::nullopt;
    if (peer) {
        outgoingQueue_->async([self = shared_from_this(), peer = *peer,
                               body = data.value("text").toString().toStdString(),
                               key = data.value("transferKey").toString()] {
            self->startTransfer(VeltoTransfer::itemsForText(body), peer, key);
        });
    }
    reply(QJsonArray());
}

void ViewController::sendFiles(const QJsonObject& data, const Bridge::Reply& reply) {
    const auto server = app_.server();
    const auto peer =
        server ? server->peers().find(data.value("key").toString().toStdString()) : std::nullopt;
    if (!peer) {
        return;  // an unknown peer gets nothing sent and the page no answer
    }
    std::vector<std::string> paths;
    for (const auto& file : data.value("files").toArray()) {
        paths.push_back(file.toString().toStdString());
    }
    // Listing a large folder takes a while: it runs away from the outgoing queue, so that
    // other sends go out meanwhile.
    VeltoTransfer::itemsForPaths(
        std::move(paths), outgoingQueue_,
        [self = shared_from_this(), peer = *peer, key = data.value("transferKey").toString()](
            ItemList items, std::vector<SkippedPath> skipped) {
            self->events_.transferWithSkippedPaths(key.toStdString(), skipped, items.empty());
            if (items.empty()) {
                self->events_.transferWithNothingToSend(key.toStdString());
            } else {
                self->startTransfer(std::move(items), peer, key);
            }
        });
    reply(QJsonArray());
}

void ViewController::startTransfer(ItemList items, const VeltoPeer& peer,
                                   const QString& transferKey) {
    const auto server = app_.server();
    if (server == nullptr) {
        return;
    }
    auto transfer = VeltoTransfer::create(std::move(items), peer, outgoingQueue_);
    transfer->setDelegate(shared_from_this());
    transfer->setKey(transferKey.toStdString());
    std::lock_guard lock(earlyCancelsMutex_);
    server->startTransfer(transfer);
    if (earlyCancels_.erase(transferKey.toStdString()) > 0) {
        transfer->cancel();
    }
}

void ViewController::showOpenPanel(const Bridge::Reply& reply) {
    auto* panel = new OpenPanel(window_);
    panel->setAttribute(Qt::WA_DeleteOnClose);
    connect(panel, &QDialog::finished, this, [panel, reply](int result) {
        QJsonArray paths;
        if (result == QDialog::Accepted) {
            for (const auto& path : panel->chosenPaths()) {
                paths.append(path);
            }
        }
        reply(paths);
    });
    panel->open();  // window-modal; the answer comes when it closes
}

void ViewController::dragStart(const QJsonObject& data, const Bridge::Reply& reply) {
    QStringList files;
    for (const auto& file : data.value("files").toArray()) {
        files.append(file.toString());
    }
    if (!files.isEmpty() && window_ != nullptr) {
        dragFilesOut(window_, files);
    }
    reply(QJsonArray());
}

QJsonObject ViewController::describeSelf() const {
    const auto server = app_.server();
    QJsonArray addresses;
    for (const auto& interface : QNetworkInterface::allInterfaces()) {
        const auto flags = interface.flags();
        if (!flags.testFlag(QNetworkInterface::IsUp) ||
            !flags.testFlag(QNetworkInterface::IsRunning) ||
            flags.testFlag(QNetworkInterface::IsLoopBack)) {
            continue;
        }
        for (const auto& entry : interface.addressEntries()) {
            if (entry.ip().protocol() == QAbstractSocket::IPv4Protocol) {
                addresses.append(entry.ip().toString());
            }
        }
    }
    return {{"signature", server ? text(server->getSystemSignature()) : QString()},
            {"addresses", addresses}};
}

QJsonObject ViewController::describeAddedAddresses(const QString& error) const {
    QJsonArray addresses;
    if (const auto server = app_.server()) {
        for (const auto& address : server->addedAddresses()) {
            addresses.append(text(address));
        }
    }
    return {{"ok", error.isEmpty()}, {"error", error}, {"addedAddresses", addresses}};
}

void ViewController::sayHelloTo(const QJsonObject& data, const Bridge::Reply& reply) {
    const std::string ip = data.value("ip").toString().trimmed().toStdString();
    const auto server = app_.server();
    if (server == nullptr) {
        reply(describeAddedAddresses(tr("Velto is not running.")));
        return;
    }
    if (!isPlainIpv4Address(ip)) {
        diagnostic("sayHello: not an IPv4 address:", ip);
        reply(describeAddedAddresses(tr("That is not an IPv4 address like 192.168.1.20.")));
        return;
    }
    // Remembered first, so that a failed send still leaves it to be greeted at the next start.
    const std::string problem = AddedAddresses().add(*server, ip);
    if (!problem.empty()) {
        diagnostic("cannot remember", ip + ":", problem);
    }
    server->announceTo(ip, [weak = weak_from_this(), reply, ip](const std::string& error) {
        const auto self = weak.lock();
        if (!self) {
            return;
        }
        const QString failure =
            error.empty() ? QString()
                          : tr("Could not say hello to %1: %2.").arg(text(ip), text(error));
        QMetaObject::invokeMethod(
            self.get(), [self, reply, failure] { reply(self->describeAddedAddresses(failure)); },
            Qt::QueuedConnection);
    });
}

void ViewController::forgetAddress(const QJsonObject& data, const Bridge::Reply& reply) {
    const auto server = app_.server();
    if (server == nullptr) {
        reply(describeAddedAddresses(tr("Velto is not running.")));
        return;
    }
    const std::string problem =
        AddedAddresses().forget(*server, data.value("ip").toString().toStdString());
    reply(describeAddedAddresses(text(problem)));
}

// ---- what arrives, and from whom

void ViewController::changeReceiving(const QString& command, const QJsonObject& data,
                                     const Bridge::Reply& reply) {
    const ReceivingSettings settings;
    QString error;
    if (command == QLatin1String("setSetting")) {
        error = settings.set(data.value("key").toString(), data.value("value").toString());
    } else if (command == QLatin1String("chooseReceiveFolder")) {
        const QString current = settings.describe().value("receiveFolder").toString();
        const QString chosen =
            QFileDialog::getExistingDirectory(window_, tr("Save received files in"), current);
        if (!chosen.isEmpty()) {
            error = settings.set(QStringLiteral("receive-folder"), chosen);
        }
    } else {
        error = settings.mark(command, data.value("ip").toString());
    }
    reply(
        QJsonObject{{"ok", error.isEmpty()}, {"error", error}, {"settings", settings.describe()}});
}

void ViewController::actOnTransfer(const QString& action, const QString& key) {
    const auto server = app_.server();
    if (server == nullptr) {
        return;
    }
    const std::string transferKey = key.toStdString();
    if (notifications_ != nullptr && action != QLatin1String("cancelTransfer")) {
        notifications_->withdrawQuestion(key);  // answered here
    }
    if (const auto incoming = server->incomingTransfer(transferKey)) {
        if (action == QLatin1String("acceptTransfer")) {
            incoming->accept();
        } else if (action == QLatin1String("declineTransfer")) {
            incoming->decline();
        } else {
            incoming->cancel();
        }
    } else if (action == QLatin1String("cancelTransfer")) {
        std::unique_lock lock(earlyCancelsMutex_);
        if (const auto outgoing = server->outgoingTransfer(transferKey)) {
            lock.unlock();
            outgoing->cancel();
        } else {
            earlyCancels_.insert(transferKey);  // not started yet: it ends as soon as it starts
        }
    } else {
        diagnostic("no transfer under way with the key", transferKey);
    }
}

void ViewController::settingApplied(const std::string& key, const std::string& value) {
    events_.settingApplied(key, value);
    QMetaObject::invokeMethod(
        this,
        [this] { bridge_->sendEvent(QStringLiteral("settings"), ReceivingSettings().describe()); },
        Qt::QueuedConnection);
}

// ---- the synchronous channel

void ViewController::handleSyncEvent(const QString& message) {
    const QString marker = QString::fromLatin1(syncEventMarker);
    const QString partMarker = QString::fromLatin1(syncPartMarker);
    if (message.startsWith(partMarker)) {
        syncEventParts_ += QStringView(message).mid(partMarker.size());
        return;
    }
    if (!message.startsWith(marker)) {
        showAlert(message);
        return;
    }
    const QString whole = std::exchange(syncEventParts_, {}) + message.mid(marker.size());
    const QJsonDocument document = QJsonDocument::fromJson(whole.toUtf8());
    const QJsonObject event = document.object();
    const QJsonObject data = event.value("data").toObject();
    const QString command = event.value("command").toString();
    if (document.isObject() && command != QLatin1String("setContextMenuPayload")) {
        return;  // not about the menu
    }
    if (!data.value("type").isString()) {
        diagnostic("sync event: unreadable menu payload of", std::to_string(whole.size()),
                   "characters");
        contextMenuType_ = QStringLiteral("none");
        contextMenuPayload_.reset();
        return;
    }
    contextMenuType_ = data.value("type").toString();
    contextMenuPayload_ = data.value("payload").isObject()
                              ? std::optional<QJsonObject>(data.value("payload").toObject())
                              : std::nullopt;
}

void ViewController::showAlert(const QString& message) {
    QMessageBox box(QMessageBox::NoIcon, QStringLiteral("Velto"), message, QMessageBox::Ok,
                    window_);
    box.setObjectName(QStringLiteral("pageAlert"));
    box.setWindowModality(Qt::WindowModal);
    box.exec();
}

// ---- library reports (on library queues)

void ViewController::peerDiscoveryWithAdded(const std::string& key, const VeltoPeer& peer) {
    events_.peerDiscoveryWithAdded(key, peer);
}

void ViewController::peerDiscoveryWithModified(const std::string& key, const VeltoPeer& peer) {
    events_.peerDiscoveryWithModified(key, peer);
}

void ViewController::peerDiscoveryWithRemoved(const std::string& key) {
    events_.peerDiscoveryWithRemoved(key);
}

void ViewController::transferWithConnected(VeltoTransfer& transfer) {
    events_.transferWithConnected(transfer);
}

void ViewController::transferWithFinished(VeltoTransfer& transfer) {
    events_.transferWithFinished(transfer);
}

void ViewController::transferWithFailed(VeltoTransfer& transfer) {
    events_.transferWithFailed(transfer);
}

void ViewController::transferWithProgress(VeltoTransfer& transfer, std::uint64_t itemCount,
                                          std::uint64_t itemFinished, std::uint64_t byteCount,
                                          std::uint64_t byteFinished) {
    events_.transferWithProgress(transfer, itemCount, itemFinished, byteCount, byteFinished);
}

void ViewController::transferWithRenamedItems(VeltoTransfer& transfer,
                                              const std::vector<std::string>& names) {
    events_.transferWithRenamedItems(transfer, names);
}

void ViewController::transferWithWaiting(VeltoTransfer& transfer, bool waiting) {
    events_.transferWithWaiting(transfer, waiting);
}

void ViewController::incomingTransferWithQuestion(VeltoIncomingTransfer& transfer,
                                                  std::uint64_t itemCount, std::uint64_t totalSize,
                                                  const std::string& firstName) {
    events_.incomingTransferWithQuestion(transfer, itemCount, totalSize, firstName);
    const QString body =
        (itemCount == 1 ? tr("wants to send \"%1\" (%2)")
                        : tr("wants to send \"%1\" and %3 more (%2)"))
            .arg(text(firstName), QLocale().formattedDataSize(static_cast<qint64>(totalSize)))
            .arg(itemCount - 1);
    QMetaObject::invokeMethod(
        this,
        [this, sender = transfer.peer(), body, key = text(transfer.key())] {
            if (notifications_ != nullptr) {
                notifications_->notifyQuestion(senderName(sender), body, key);
            }
        },
        Qt::QueuedConnection);
}

void ViewController::incomingConnectionRefused(const std::string& address,
                                               const std::string& reason) {
    events_.incomingConnectionRefused(address, reason);
}

void ViewController::incomingTransferWithCreated(VeltoIncomingTransfer& transfer) {
    events_.incomingTransferWithCreated(transfer);
}

void ViewController::incomingTransferWithFinished(VeltoIncomingTransfer& transfer) {
    events_.incomingTransferWithFinished(transfer);
}

void ViewController::incomingTransferWithFailed(VeltoIncomingTransfer& transfer) {
    events_.incomingTransferWithFailed(transfer);
    // A question that ended unanswered (or the sender gave up) is no longer asked.
    QMetaObject::invokeMethod(
        this,
        [this, key = text(transfer.key())] {
            if (notifications_ != nullptr) {
                notifications_->withdrawQuestion(key);
            }
        },
        Qt::QueuedConnection);
}

void ViewController::incomingTransferWithProgress(
    VeltoIncomingTransfer& transfer, std::uint64_t itemCount, std::uint64_t itemFinished,
    std::uint64_t byteCount, std::uint64_t byteFinished, const std::optional<std::string>& filename,
    const std::optional<std::string>& filepath) {
    events_.incomingTransferWithProgress(transfer, itemCount, itemFinished, byteCount, byteFinished,
                                         filename, filepath);
}

void ViewController::incomingTransferWithReceivedText(VeltoIncomingTransfer& transfer,
                                                      const std::string& receivedText) {
    events_.incomingTransferWithReceivedText(transfer, receivedText);
    notifyReceived(transfer, text(receivedText), false);
}

void ViewController::incomingTransferWithReceivedFile(VeltoIncomingTransfer& transfer,
                                                      const std::string& path) {
    events_.incomingTransferWithReceivedFile(transfer, path);
    notifyReceived(transfer, text(path), true);
}

void ViewController::notifyReceived(VeltoIncomingTransfer& transfer, const QString& body,
                                    bool isFile) {
    QMetaObject::invokeMethod(
        this,
        [this, sender = transfer.peer(), body, isFile] {
            if (notifications_ == nullptr) {
                return;
            }
            const QString title = senderName(sender);
            if (isFile) {
                notifications_->notifyFile(title, body);
            } else {
                notifications_->notifyText(title, body);
            }
        },
        Qt::QueuedConnection);
}

QString ViewController::senderName(const std::optional<VeltoPeer>& sender) const {
    if (!sender) {
        return QStringLiteral("Unknown Peer");
    }
    // A hello since the transfer began may have told the sender's name.
    const auto server = app_.server();
    const auto known = server ? server->peers().find(sender->key) : std::nullopt;
    return text(known ? known->systemSignature : sender->systemSignature);
}

void ViewController::saveConversations() {
    if (page_ != nullptr) {
        page_->runJavaScript(QStringLiteral("Velto.app && Velto.app.saveNow()"));
    }
}

}  // namespace velto::app
