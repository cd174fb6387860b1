#include "EventJson.h"

#include <QJsonArray>

namespace velto::app {

QJsonValue toQJsonValue(const nlohmann::json& value) {
    switch (value.type()) {
        case nlohmann::json::value_t::object:
            return toQJsonObject(value);
        case nlohmann::json::value_t::array: {
            QJsonArray array;
            for (const auto& element : value) {
                array.append(toQJsonValue(element));
            }
            return array;
        }
        case nlohmann::json::value_t::string:
            return QString::fromStdString(value.get_ref<const std::string&>());
        case nlohmann::json::value_t::boolean:
            return value.get<bool>();
        case nlohmann::json::value_t::number_integer:
        case nlohmann::json::value_t::number_unsigned:
        case nlohmann::json::value_t::number_float:
            return value.get<double>();
        default:
            return QJsonValue(QJsonValue::Null);
    }
}

QJsonObject toQJsonObject(const nlohmann::json& object) {
    QJsonObject result;
    if (!object.is_object()) {
        return result;
    }
    for (const auto& [key, value] : object.items()) {
        result.insert(QString::fromStdString(key), toQJsonValue(value));
    }
    return result;
}

}  // namespace velto::app
