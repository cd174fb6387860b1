#pragma once

#include <QJsonObject>
#include <QJsonValue>
#include <nlohmann/json.hpp>

namespace velto::app {

// The library's JSON as the page's bridge carries it: numbers become doubles, texts go through
// QString (bytes that are not UTF-8 become replacement characters).
QJsonValue toQJsonValue(const nlohmann::json& value);
QJsonObject toQJsonObject(const nlohmann::json& object);  // an empty object for a non-object

}  // namespace velto::app
