#pragma once

#include <QJsonObject>
#include <QObject>
#include <QPointer>
#include <QString>
#include <QVector>
#include <memory>
#include <mutex>
#include <optional>
#include <set>
#include <string>

#include "Bridge.h"
#include "DesktopCommands.h"
#include "DropRegion.h"
#include "PreviewDataSource.h"
#include "VeltoWebView.h"
#include "velto/DispatchQueue.h"
#include "velto/VeltoEvents.h"
#include "velto/VeltoIncomingTransferDelegate.h"
#include "velto/VeltoPeerDiscoveryDelegate.h"
#include "velto/VeltoTransfer.h"
#include "velto/VeltoTransferDelegate.h"

class QWebChannel;
class QWebEngineProfile;
class QWidget;

namespace velto {
class VeltoServer;
}

namespace velto::app {

class AppDelegate;
class AppearanceFollower;
class DragDestination;
class FileRevealer;
class Notifications;
class QuickLookPanel;
class VeltoWebPage;

// The controller of the main window: hosts the page, answers its commands, and hands every
// report of the library to the events it shows the page (and notifies what arrives). Reports
// come in on library queues; everything that touches Qt objects is queued to the GUI thread,
// and events keep the order in which the library reported them.
class ViewController : public QObject,
                       public VeltoPeerDiscoveryDelegate,
                       public VeltoTransferDelegate,
                       public VeltoIncomingTransferDelegate,
                       public PreviewDataSource,
                       public std::enable_shared_from_this<ViewController> {
    Q_OBJECT
  public:
    static constexpr const char* syncEventMarker = "___VELTO___SYNC___EVENT___";
    // Starts every part but the last of a sync event too long for one alert.
    static constexpr const char* syncPartMarker = "___VELTO___SYNC___PART___";

    // The controller is shared with the library, which holds its delegates strongly; it is
    // deleted on the GUI thread whichever thread lets it go last.
    static std::shared_ptr<ViewController> create(AppDelegate& app, QWidget* window,
                                                  VeltoWebView* webView, QWebEngineProfile* profile,
                                                  Notifications* notifications,
                                                  FileRevealer* revealer);
    ~ViewController() override;

    // Registers with the application, sets up the page and its bridge, and loads the page.
    void viewDidLoad();
    // Has the page store its conversations now, not after its usual short delay.
    void saveConversations();

    // Paths handed over by `velto --send`: the page asks which computer gets them.
    void askWhereToSend(const QStringList& paths);

    void handleBridgeMessage(const QJsonObject& message, const Bridge::Reply& reply);
    // The alert hook: sync events are applied before it returns, other alerts are shown. A
    // menu payload that cannot be read clears the last one: no item acts on a stale message.
    void handleSyncEvent(const QString& message);

    QWidget* window() const { return window_; }
    VeltoWebView* webView() const { return webView_; }
    VeltoWebPage* page() const { return page_; }
    Bridge& bridge() { return *bridge_; }
    const QVector<DropRegion>& dropableRegions() const { return dropableRegions_; }
    const QString& contextMenuType() const { return contextMenuType_; }
    const std::optional<QJsonObject>& contextMenuPayload() const { return contextMenuPayload_; }
    const std::shared_ptr<DispatchQueue>& outgoingDispatchQueue() const { return outgoingQueue_; }

    // Drags over the web view reach the controller once the page has first finished loading.
    void installDragRedirect();
    bool flipped() const { return flipped_; }
    DragDestination& dragDestination() { return *dragDestination_; }

    // Previews of received files, and what the chat-history menu acts with.
    const std::optional<QStringList>& quickLookSources() const { return quickLookSources_; }
    void setQuickLookSources(const QStringList& paths) { quickLookSources_ = paths; }
    QuickLookPanel* quickLookPanel() const { return quickLookPanel_; }
    FileRevealer* fileRevealer() const { return revealer_; }

    // PreviewDataSource: an index outside the list gives the root folder.
    int numberOfPreviewItems() const override;
    QUrl previewItemAt(int index) const override;

    // VeltoPeerDiscoveryDelegate
    void peerDiscoveryWithAdded(const std::string& key, const VeltoPeer& peer) override;
    void peerDiscoveryWithModified(const std::string& key, const VeltoPeer& peer) override;
    void peerDiscoveryWithRemoved(const std::string& key) override;

    // VeltoTransferDelegate
    void transferWithConnected(VeltoTransfer& transfer) override;
    void transferWithFinished(VeltoTransfer& transfer) override;
    void transferWithFailed(VeltoTransfer& transfer) override;
    void transferWithProgress(VeltoTransfer& transfer, std::uint64_t itemCount,
                              std::uint64_t itemFinished, std::uint64_t byteCount,
                              std::uint64_t byteFinished) override;
    void transferWithRenamedItems(VeltoTransfer& transfer,
                                  const std::vector<std::string>& names) override;
    void transferWithWaiting(VeltoTransfer& transfer, bool waiting) override;

    // VeltoIncomingTransferDelegate
    void incomingTransferWithCreated(VeltoIncomingTransfer& transfer) override;
    void incomingTransferWithFinished(VeltoIncomingTransfer& transfer) override;
    void incomingTransferWithFailed(VeltoIncomingTransfer& transfer) override;
    void incomingTransferWithProgress(VeltoIncomingTransfer& transfer, std::uint64_t itemCount,
                                      std::uint64_t itemFinished, std::uint64_t byteCount,
                                      std::uint64_t byteFinished,
                                      const std::optional<std::string>& filename,
                                      const std::optional<std::string>& filepath) override;
    void incomingTransferWithReceivedText(VeltoIncomingTransfer& transfer,
                                          const std::string& text) override;
    void incomingTransferWithReceivedFile(VeltoIncomingTransfer& transfer,
                                          const std::string& path) override;
    void incomingTransferWithQuestion(VeltoIncomingTransfer& transfer, std::uint64_t itemCount,
                                      std::uint64_t totalSize,
                                      const std::string& firstName) override;
    void incomingConnectionRefused(const std::string& address, const std::string& reason) override;

    // A change of the settings file now in force (from the settings watcher, any thread): the
    // page hears the receiving settings anew.
    void settingApplied(const std::string& key, const std::string& value);

  private:
    ViewController(AppDelegate& app, QWidget* window, VeltoWebView* webView,
                   QWebEngineProfile* profile, Notifications* notifications,
                   FileRevealer* revealer);

    void setDropableRegions(const QJsonValue& data);
    QJsonObject collectPeers() const;
    void sendText(const QJsonObject& data, const Bridge::Reply& reply);
    void sendFiles(const QJsonObject& data, const Bridge::Reply& reply);
    // On the outgoing queue.
    void startTransfer(ItemList items, const VeltoPeer& peer, const QString& transferKey);
    void showOpenPanel(const Bridge::Reply& reply);
    void dragStart(const QJsonObject& data, const Bridge::Reply& reply);
    QJsonObject describeSelf() const;
    // "Add by address": the answer comes once the hello left (or could not).
    void sayHelloTo(const QJsonObject& data, const Bridge::Reply& reply);
    void forgetAddress(const QJsonObject& data, const Bridge::Reply& reply);
    QJsonObject describeAddedAddresses(const QString& error) const;
    void showAlert(const QString& message);
    // The receiving settings: the page's sheet, Trust and Block, the folder chooser.
    void changeReceiving(const QString& command, const QJsonObject& data,
                         const Bridge::Reply& reply);
    // Accept, Decline (from the page or the notification) and Cancel, by transfer key.
    void actOnTransfer(const QString& action, const QString& key);
    void notifyReceived(VeltoIncomingTransfer& transfer, const QString& body, bool isFile);
    // The sender as the peer table knows it now; the transfer's copy when it has left.
    QString senderName(const std::optional<VeltoPeer>& sender) const;

    AppDelegate& app_;
    QPointer<QWidget> window_;
    QPointer<VeltoWebView> webView_;
    QWebEngineProfile* profile_;
    QPointer<Notifications> notifications_;
    FileRevealer* revealer_;
    QuickLookPanel* quickLookPanel_;
    AppearanceFollower* appearance_;  // the program's windows and the page follow the desktop
    VeltoWebPage* page_ = nullptr;
    Bridge* bridge_;
    QWebChannel* channel_ = nullptr;
    std::shared_ptr<DispatchQueue> outgoingQueue_;
    DesktopCommands desktopCommands_;
    // Sends the user cancelled before they started (the text still queued, the folder still
    // being listed): each is cancelled as soon as it starts. Guards the look-up and the start.
    std::mutex earlyCancelsMutex_;
    std::set<std::string> earlyCancels_;
    VeltoEvents events_;  // delivers to the bridge, which queues to the page in that order

    QVector<DropRegion> dropableRegions_;
    QString contextMenuType_ = QStringLiteral("none");
    QString syncEventParts_;  // the parts of a long sync event received so far
    std::optional<QJsonObject> contextMenuPayload_;
    std::optional<QStringList> quickLookSources_;
    bool flipped_ = false;
    std::unique_ptr<DragDestination> dragDestination_;
};

}  // namespace velto::app
