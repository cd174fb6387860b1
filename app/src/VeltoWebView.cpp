#include "VeltoWebView.h"

#include <QAction>
#include <QContextMenuEvent>
#include <QDragEnterEvent>
#include <QMenu>
#include <QMimeData>

#include "ContextMenuEditor.h"
#include "DragDestination.h"
#include "VeltoChatHistoryMenuDelegate.h"
#include "ViewController.h"
#include "velto/Diagnostics.h"

namespace velto::app {

namespace {

// The engine crashes on a drag whose file list is empty; such a drag is refused at its enter.
bool carriesEmptyFileList(const QMimeData* mime) {
    return mime != nullptr && mime->hasFormat(QStringLiteral("text/uri-list")) &&
           mime->urls().isEmpty();
}

// Identifiers of the engine's menu items that the menu is edited by. The engine has no share or
// speech items, so those identifiers never match here.
const QString shareItem = QStringLiteral("share");
const QString speechItem = QStringLiteral("speech");
const QString inspectItem = QStringLiteral("inspect-element");
const QString reloadItem = QStringLiteral("reload");
const QString copyItem = QStringLiteral("copy");

}  // namespace

VeltoWebView::VeltoWebView(QWidget* parent) : QWebEngineView(parent) {
    setAcceptDrops(true);
}

std::shared_ptr<ViewController> VeltoWebView::dragController() const {
    auto controller = viewController();
    return controller && controller->flipped() ? controller : nullptr;
}

void VeltoWebView::dragEnterEvent(QDragEnterEvent* event) {
    // A refused enter also keeps the drag's moves and drop away from this view.
    if (carriesEmptyFileList(event->mimeData())) {
        event->ignore();
    } else if (const auto controller = dragController()) {
        controller->dragDestination().draggingEntered(event);
    } else {
        QWebEngineView::dragEnterEvent(event);
    }
}

void VeltoWebView::dragMoveEvent(QDragMoveEvent* event) {
    if (const auto controller = dragController()) {
        controller->dragDestination().draggingUpdated(event);
    } else {
        QWebEngineView::dragMoveEvent(event);
    }
}

void VeltoWebView::dragLeaveEvent(QDragLeaveEvent* event) {
    if (const auto controller = dragController()) {
        controller->dragDestination().draggingExited(event);
    } else {
        QWebEngineView::dragLeaveEvent(event);
    }
}

void VeltoWebView::dropEvent(QDropEvent* event) {
    if (const auto controller = dragController()) {
        controller->dragDestination().dropped(event);
    } else {
        QWebEngineView::dropEvent(event);
    }
}

void VeltoWebView::contextMenuEvent(QContextMenuEvent* event) {
    QMenu* menu = createStandardContextMenu();
    menu->setAttribute(Qt::WA_DeleteOnClose);
    willOpenMenu(*menu);
    emit menuOpening(menu);
    menu->popup(event->globalPos());
}

void VeltoWebView::willOpenMenu(QMenu& menu) {
    QWebEnginePage* engine = page();
    const std::pair<QWebEnginePage::WebAction, QString> known[] = {
        {QWebEnginePage::InspectElement, inspectItem},
        {QWebEnginePage::Reload, reloadItem},
        {QWebEnginePage::Copy, copyItem},
    };
    const auto identify = [engine, &known](const QAction* item) {
        for (const auto& [action, identifier] : known) {
            if (engine != nullptr && engine->action(action) == item) {
                return identifier;
            }
        }
        return QString();
    };
    ContextMenuEditor editor(menu, identify);
    editor.removeMenuSeperatorBetween(shareItem, speechItem);
    editor.removeMenuSeperatorBetween(speechItem, inspectItem);
    editor.removeMenuItemByIdentifier(reloadItem);
    editor.removeMenuStrangeSeperator();
    for (const QAction* item : menu.actions()) {
        const QString identifier = identify(item);
        diagnostic("menu item",
                   identifier.isEmpty() ? std::string("absent") : identifier.toStdString());
    }

    const auto controller = viewController();
    if (controller == nullptr) {
        return;
    }
    diagnostic("Menu opening for", controller->contextMenuType().toStdString());
    if (controller->contextMenuType() != QLatin1String("chat-history") ||
        !controller->contextMenuPayload()) {
        return;
    }
    const QJsonObject payload = *controller->contextMenuPayload();
    auto* delegate = new VeltoChatHistoryMenuDelegate(controller, payload, &menu);
    auto addItem = [&](int index, const QString& title,
                       void (VeltoChatHistoryMenuDelegate::*slot)()) {
        auto* item = new QAction(title, &menu);
        connect(item, &QAction::triggered, delegate, slot);
        editor.insertAt(index, item);
    };
    if (payload.contains("text")) {
        addItem(editor.findMenuByIdentifyOrDefault(copyItem, 1, 0), tr("Copy All"),
                &VeltoChatHistoryMenuDelegate::copyWholeTextMessage);
    }
    if (payload.contains("file")) {
        addItem(0, tr("Quick Look"), &VeltoChatHistoryMenuDelegate::quickLookFile);
        addItem(1, tr("Open"), &VeltoChatHistoryMenuDelegate::openFile);
        addItem(2, tr("Reveal"), &VeltoChatHistoryMenuDelegate::revealFile);
    }
}

}  // namespace velto::app
