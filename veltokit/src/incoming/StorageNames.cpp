#include "incoming/StorageNames.h"

#include <ctime>

#include "velto/PathHelpers.h"

namespace velto {
namespace {

std::string localTime(std::chrono::system_clock::time_point time, const char* pattern) {
    const std::time_t seconds = std::chrono::system_clock::to_time_t(time);
    std::tm parts{};
    localtime_r(&seconds, &parts);
    char text[64];
    const std::size_t length = std::strftime(text, sizeof text, pattern, &parts);
    return std::string(text, length);
}

}  // namespace

std::string StorageNames::intermediateFolder(std::chrono::system_clock::time_point startTime,
                                             const std::string& random) {
    return intermediatePrefix + localTime(startTime, "%Y%m%d%I%M%S") + random;
}

std::string StorageNames::datedFolder(std::chrono::system_clock::time_point startTime) {
    return sanitizedString("Received by Velto at " + localTime(startTime, "%Y-%m-%d %I-%M"));
}

std::string StorageNames::itemName(const std::string& name) {
    return name.rfind(intermediatePrefix, 0) == 0 ? name.substr(1) : name;
}

std::string StorageNames::numberedItem(const std::string& name, unsigned number) {
    // The extension follows the last "." unless that "." starts the name (a hidden file).
    const auto dot = name.rfind('.');
    const bool hasDot = dot != std::string::npos && dot != 0;
    const std::string stem = hasDot ? name.substr(0, dot) : name;
    const std::string extension = hasDot ? name.substr(dot + 1) : std::string();
    std::string result = stem + " (" + std::to_string(number) + ")";
    if (!extension.empty()) {
        result += "." + extension;
    }
    return result;
}

std::string StorageNames::numberedFolder(const std::string& folder, unsigned number) {
    return folder + " (" + std::to_string(number) + ")";
}

}  // namespace velto
