#include "DragDestination.h"

#include <QDragEnterEvent>
#include <QDragLeaveEvent>
#include <QDragMoveEvent>
#include <QDropEvent>
#include <QJsonArray>
#include <QJsonObject>
#include <QMimeData>
#include <QUrl>

#include "Bridge.h"
#include "VeltoWebView.h"

namespace velto::app {

namespace {

const QString objectType = QStringLiteral("object");
const QString originalType = QStringLiteral("original");

QString decimal(double value) {
    return QString::number(value, 'g', 15);
}

// Plain text that the source itself offers: Qt's hasText() also counts a list of URLs as text.
bool offersText(const QMimeData* mime) {
    return mime->hasFormat(QStringLiteral("text/plain"));
}

// Copy, where the source allows it; nothing otherwise.
void answerCopy(QDropEvent* event) {
    if (event->possibleActions().testFlag(Qt::CopyAction)) {
        event->setDropAction(Qt::CopyAction);
        event->accept();
    } else {
        event->ignore();
    }
}

}  // namespace

DragDestination::DragDestination(Bridge& bridge, const QVector<DropRegion>& regions,
                                 VeltoWebView& view)
    : bridge_(bridge), regions_(regions), view_(view) {}

QStringList DragDestination::fileNames(const QMimeData* mime) {
    QStringList paths;
    if (mime == nullptr) {
        return paths;
    }
    for (const auto& url : mime->urls()) {
        if (url.isLocalFile()) {
            paths.append(url.toLocalFile());
        }
    }
    return paths;
}

DragDestination::Location DragDestination::locate(const QPointF& viewPosition) const {
    const QWidget* top = view_.window();
    const QPointF inWindow = view_.mapTo(top, viewPosition);
    return {{inWindow.x(), top->height() - inWindow.y()}, static_cast<double>(view_.height())};
}

DropRegion DragDestination::regionAt(const Location& location) const {
    return findDropRegion(regions_, location.page());
}

DragDestination::Contents DragDestination::contentsOf(const QMimeData* mime) {
    // Blank text would be sent as nothing: such a drag is refused like one without text.
    const bool text = mime != nullptr && offersText(mime) && !mime->text().trimmed().isEmpty();
    return {fileNames(mime), text, text ? mime->text() : QString()};
}

const DragDestination::Contents& DragDestination::contents(const QMimeData* mime) {
    if (!contents_) {
        contents_ = contentsOf(mime);
    }
    return *contents_;
}

void DragDestination::draggingEntered(QDragEnterEvent* event) {
    contents_ = contentsOf(event->mimeData());
    // Files dragged out of this window are not the engine's: it waits seconds on every move of
    // a drag that this process started, and a received file has no place in the page's fields.
    engineSees_ = event->source() == nullptr;
    if (engineSees_) {
        view_.engineDragEnter(event);
    } else {
        event->ignore();  // the engine's answer: none
    }
    processDrag(event);
    // Qt gives the rest of a drag only to a widget that took its enter; the move that follows
    // every enter carries the answer.
    if (!event->isAccepted()) {
        event->setDropAction(Qt::IgnoreAction);
        event->accept();
    }
}

void DragDestination::draggingUpdated(QDragMoveEvent* event) {
    if (engineSees_) {
        view_.engineDragMove(event);
    } else {
        event->ignore();
    }
    processDrag(event);
}

void DragDestination::processDrag(QDragMoveEvent* event) {
    const Location location = locate(event->position());
    bridge_.sendEvent("drag-update", QJsonObject{{"x", decimal(location.window.x())},
                                                 {"y", decimal(location.window.y())}});
    const DropRegion region = regionAt(location);
    if (region.type == originalType) {
        return;  // the engine's answer stands
    }
    const Contents& offered = contents(event->mimeData());
    if (region.type == objectType && (!offered.files.isEmpty() || offered.text)) {
        answerCopy(event);
    } else {
        event->ignore();
    }
}

void DragDestination::draggingExited(QDragLeaveEvent* event) {
    contents_.reset();
    finish();
    if (engineSees_) {
        view_.engineDragLeave(event);
    }
}

void DragDestination::dropped(QDropEvent* event) {
    if (!prepareForDragOperation(event)) {
        leaveEngine();
        event->ignore();
    } else if (performDragOperation(event)) {
        concludeDragOperation(event);
    } else {
        event->ignore();
    }
    draggingEnded();
    contents_.reset();
}

bool DragDestination::prepareForDragOperation(QDropEvent* event) {
    finish();
    const DropRegion region = regionAt(locate(event->position()));
    // An "original" drop is the engine's to accept or refuse, when it performs it.
    return region.type == originalType || region.type == objectType;
}

bool DragDestination::performDragOperation(QDropEvent* event) {
    finish();
    const Location location = locate(event->position());
    const DropRegion region = regionAt(location);
    if (region.type == originalType) {
        if (!engineSees_) {
            return false;
        }
        view_.engineDrop(event);
        return event->isAccepted();
    }
    leaveEngine();
    const Contents& offered = contents(event->mimeData());
    if (region.type != objectType || (offered.files.isEmpty() && !offered.text)) {
        return false;  // as the drag was answered
    }
    QJsonObject info{{"x", decimal(location.window.x())},
                     {"y", decimal(location.page().y())},
                     {"type", region.type},
                     {"name", region.name}};
    if (!offered.files.isEmpty()) {
        info.insert("files", QJsonArray::fromStringList(offered.files));
    }
    if (offered.text) {
        info.insert("text", 1);
        info.insert("plainText", offered.plainText);  // for the page to send as a message
    }
    bridge_.sendEvent("drag-on", info);
    event->setDropAction(Qt::CopyAction);
    event->accept();
    return true;
}

void DragDestination::concludeDragOperation(QDropEvent* /*event*/) {
    // The engine concludes its own drops inside its drop handling.
    finish();
}

void DragDestination::draggingEnded() {
    finish();
}

void DragDestination::finish() {
    bridge_.sendEvent("drag-finish");
}

void DragDestination::leaveEngine() {
    if (engineSees_) {
        QDragLeaveEvent leave;
        view_.engineDragLeave(&leave);
    }
}

}  // namespace velto::app
