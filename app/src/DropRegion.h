#pragma once

#include <QJsonArray>
#include <QRectF>
#include <QString>
#include <QVector>
#include <optional>

namespace velto::app {

// An area of the page that takes drops, in page coordinates (origin top left, y down). "object"
// regions are handled by the program, "original" ones by the web engine; any other type takes
// nothing.
struct DropRegion {
    QRectF rect;
    QString type;
    QString name;

    // Left and top edges are inside, right and bottom edges are not.
    bool contains(const QPointF& point) const {
        return point.x() >= rect.x() && point.y() >= rect.y() &&
               point.x() < rect.x() + rect.width() && point.y() < rect.y() + rect.height();
    }
};

// The regions of one "setDropableRegions" message, in the order given; none when an element
// lacks a key or has one of the wrong type.
std::optional<QVector<DropRegion>> parseDropRegions(const QJsonValue& data);

// The first region containing point, or a zero region of type "none".
DropRegion findDropRegion(const QVector<DropRegion>& regions, const QPointF& point);

}  // namespace velto::app
