#include "velto/Settings.h"

#include <algorithm>
#include <nlohmann/json.hpp>

#include "velto/Ipv4Address.h"

namespace velto {
namespace {

constexpr const char* addedAddressesKey = "addedAddresses";

}  // namespace

Settings::Settings() : document_(std::make_unique<nlohmann::json>(nlohmann::json::object())) {}

Settings::Settings(const nlohmann::json& object)
    : document_(std::make_unique<nlohmann::json>(object.is_object() ? object
                                                                    : nlohmann::json::object())) {}

Settings::Settings(const Settings& other)
    : document_(std::make_unique<nlohmann::json>(*other.document_)) {}

Settings& Settings::operator=(const Settings& other) {
    *document_ = *other.document_;
    return *this;
}

Settings::~Settings() = default;

std::vector<std::string> Settings::addedAddresses() const {
    std::vector<std::string> addresses;
    const auto found = document_->find(addedAddressesKey);
    if (found == document_->end() || !found->is_array()) {
        return addresses;
    }
    // Entries edited by hand into something else are passed over, never sent to.
    for (const auto& entry : *found) {
        if (entry.is_string() && isPlainIpv4Address(entry.get<std::string>()) &&
            std::find(addresses.begin(), addresses.end(), entry.get<std::string>()) ==
                addresses.end()) {
            addresses.push_back(entry.get<std::string>());
        }
    }
    return addresses;
}

bool Settings::addAddress(const std::string& address) {
    auto addresses = addedAddresses();
    if (std::find(addresses.begin(), addresses.end(), address) != addresses.end()) {
        return false;
    }
    addresses.push_back(address);
    setAddedAddresses(addresses);
    return true;
}

bool Settings::forgetAddress(const std::string& address) {
    auto addresses = addedAddresses();
    const auto kept = std::remove(addresses.begin(), addresses.end(), address);
    if (kept == addresses.end()) {
        return false;
    }
    addresses.erase(kept, addresses.end());
    setAddedAddresses(addresses);
    return true;
}

void Settings::setAddedAddresses(const std::vector<std::string>& addresses) {
    (*document_)[addedAddressesKey] = addresses;
}

}  // namespace velto
