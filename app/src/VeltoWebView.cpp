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
    if (menu->isEmpty()) {
        delete menu;  // nothing applies here: no menu at all
        return;
    }
    menu->popup(event->globalPos());
}

void VeltoWebView::setDeveloperMode(bool on) {
    if (on == developerMode()) {
        return;
    }
    if (!on) {
        page()->setDevToolsPage(nullptr);
        delete std::exchange(inspector_, nullptr);
        return;
    }
    inspector_ = new QWebEngineView(this);
    inspector_->setWindowFlag(Qt::Window);
    inspector_->setWindowTitle(tr("Velto: Inspector"));
    inspector_->resize(900, 640);
    page()->setDevToolsPage(inspector_->page());
    connect(page()->action(QWebEnginePage::InspectElement), &QAction::triggered, inspector_,
            &QWidget::show);
}

void VeltoWebView::willOpenMenu(QMenu& menu) {
    QWebEnginePage* engine = page();
    const auto identify = [engine](const QAction* item) {
        return engine != nullptr && engine->action(QWebEnginePage::Copy) == item ? copyItem
                                                                                 : QString();
    };
    // Of the engine's items only editing belongs in a chat, and only where it applies; the
    // inspector is for developers. Navigation, page, link and media items all go, whatever
    // the engine offers.
    const auto applies = [this, engine](const QAction* item) {
        if (engine == nullptr) {
            return false;
        }
        for (const auto editing : {QWebEnginePage::Cut, QWebEnginePage::Copy, QWebEnginePage::Paste,
                                   QWebEnginePage::SelectAll}) {
            if (engine->action(editing) == item) {
                return item->isEnabled();
            }
        }
        return developerMode() && engine->action(QWebEnginePage::InspectElement) == item;
    };
    ContextMenuEditor editor(menu, identify);
    editor.keepOnly(applies);
    addChatHistoryItems(menu, editor);
    editor.tidySeparators();
    for (const QAction* item : menu.actions()) {
        diagnostic("menu item",
                   item->isSeparator() ? std::string("-") : item->text().toStdString());
    }
}

void VeltoWebView::addChatHistoryItems(QMenu& menu, ContextMenuEditor& editor) {
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
        editor.insertAt(0, menu.addSeparator());  // apart from the engine's items
        addItem(0, tr("Quick Look"), &VeltoChatHistoryMenuDelegate::quickLookFile);
        addItem(1, tr("Open"), &VeltoChatHistoryMenuDelegate::openFile);
        addItem(2, tr("Reveal"), &VeltoChatHistoryMenuDelegate::revealFile);
    }
    if (payload.contains("retry")) {  // a message not delivered: first of all
        addItem(0, tr("Retry"), &VeltoChatHistoryMenuDelegate::retryMessage);
    }
}

}  // namespace velto::app
