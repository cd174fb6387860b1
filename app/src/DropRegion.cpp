#include "DropRegion.h"

#include <QJsonObject>

namespace velto::app {

std::optional<QVector<DropRegion>> parseDropRegions(const QJsonValue& data) {
    if (!data.isArray()) {
        return std::nullopt;
    }
    QVector<DropRegion> regions;
    for (const auto& element : data.toArray()) {
        const QJsonObject object = element.toObject();
        for (const char* number : {"x", "y", "width", "height"}) {
            if (!object.value(number).isDouble()) {
                return std::nullopt;
            }
        }
        if (!object.value("type").isString() || !object.value("name").isString()) {
            return std::nullopt;
        }
        regions.append({QRectF(object.value("x").toDouble(), object.value("y").toDouble(),
                               object.value("width").toDouble(), object.value("height").toDouble()),
                        object.value("type").toString(), object.value("name").toString()});
    }
    return regions;
}

DropRegion findDropRegion(const QVector<DropRegion>& regions, const QPointF& point) {
    for (const auto& region : regions) {
        if (region.contains(point)) {
            return region;
        }
    }
    return {QRectF(), QStringLiteral("none"), QString()};
}

}  // namespace velto::app
