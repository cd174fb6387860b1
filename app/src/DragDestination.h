#pragma once

#include <QPointF>
#include <QStringList>
#include <QVector>
#include <optional>

#include "DropRegion.h"

class QDragEnterEvent;
class QDragLeaveEvent;
class QDragMoveEvent;
class QDropEvent;
class QMimeData;

namespace velto::app {

class Bridge;
class VeltoWebView;

// Decides what a drag over the web view does, from the page's drop regions: over an "object"
// region the program takes files and text and tells the page ("drag-update", "drag-on",
// "drag-finish"); over an "original" region the engine answers as it would alone; anywhere else
// nothing is taken. The engine sees every drag from its enter on, so that its own sequence of
// enter, moves and leave or drop stays whole.
class DragDestination {
  public:
    DragDestination(Bridge& bridge, const QVector<DropRegion>& regions, VeltoWebView& view);

    void draggingEntered(QDragEnterEvent* event);
    void draggingUpdated(QDragMoveEvent* event);
    void draggingExited(QDragLeaveEvent* event);
    // A drop runs the steps that end a drag on a target: prepare, perform, conclude, end.
    void dropped(QDropEvent* event);

    // The local file paths the drag carries (the file-name list).
    static QStringList fileNames(const QMimeData* mime);

  private:
    // What a drag offers, read once when it comes in: a drag's data does not change on the way,
    // and a drag from another program may no longer hand it out once it has been dropped.
    struct Contents {
        QStringList files;
        bool text;
        QString plainText;  // what the text is, when offered
    };
    static Contents contentsOf(const QMimeData* mime);
    const Contents& contents(const QMimeData* mime);

    // The drag's place in window coordinates (origin bottom left) and the view's height.
    struct Location {
        QPointF window;
        double height;
        QPointF page() const { return {window.x(), height - window.y()}; }
    };
    Location locate(const QPointF& viewPosition) const;
    DropRegion regionAt(const Location& location) const;
    // Shared by enter and move: the event carries the engine's answer when this is called.
    void processDrag(QDragMoveEvent* event);
    bool prepareForDragOperation(QDropEvent* event);
    bool performDragOperation(QDropEvent* event);
    void concludeDragOperation(QDropEvent* event);
    void draggingEnded();
    void finish();
    // The engine saw the drag enter but will not see the drop.
    void leaveEngine();

    Bridge& bridge_;
    const QVector<DropRegion>& regions_;
    VeltoWebView& view_;
    std::optional<Contents> contents_;
    bool engineSees_ = true;  // the engine takes part in the current drag
};

}  // namespace velto::app
