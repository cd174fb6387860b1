#include "velto/Settings.h"

#include <algorithm>
#include <charconv>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <nlohmann/json.hpp>
#include <type_traits>

#include "velto/Ipv4Address.h"

namespace velto {
namespace {

constexpr const char* addedAddressesKey = "addedAddresses";
constexpr const char* receiveModeKey = "receiveMode";
constexpr const char* timedEndKey = "everyoneTimedEnd";
constexpr const char* modeAfterTimedKey = "modeAfterEveryoneTimed";
constexpr const char* trustedKey = "trusted";
constexpr const char* blockedKey = "blocked";
constexpr const char* visibleKey = "visible";
constexpr const char* receivingFolderKey = "receivingFolder";

constexpr std::chrono::seconds defaultTimedDuration{10 * 60};

// The value at key when it has type T; nothing for a missing key or a value of another type.
template <typename T>
std::optional<T> valueAt(const nlohmann::json& document, const char* key) {
    const auto found = document.find(key);
    if (found == document.end()) {
        return std::nullopt;
    }
    if constexpr (std::is_same_v<T, std::string>) {
        if (found->is_string()) {
            return found->get<std::string>();
        }
    } else if constexpr (std::is_same_v<T, bool>) {
        if (found->is_boolean()) {
            return found->get<bool>();
        }
    } else {
        if (found->is_number_integer()) {
            return found->get<T>();
        }
    }
    return std::nullopt;
}

std::optional<ReceiveMode> modeAt(const nlohmann::json& document, const char* key) {
    const auto name = valueAt<std::string>(document, key);
    return name ? receiveModeFromName(*name) : std::nullopt;
}

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

ReceiveMode Settings::receiveMode() const {
    return modeAt(*document_, receiveModeKey).value_or(ReceiveMode::Everyone);
}

void Settings::setReceiveMode(ReceiveMode mode, std::chrono::system_clock::time_point now) {
    if (mode == ReceiveMode::EveryoneTimed) {
        const ReceiveMode current = receiveModeAt(now);
        const ReceiveMode after =
            current == ReceiveMode::EveryoneTimed ? modeAfterEveryoneTimed() : current;
        const auto end = now + everyoneTimedDuration();
        (*document_)[timedEndKey] =
            std::chrono::duration_cast<std::chrono::seconds>(end.time_since_epoch()).count();
        (*document_)[modeAfterTimedKey] = receiveModeName(after);
    } else {
        document_->erase(timedEndKey);
        document_->erase(modeAfterTimedKey);
    }
    (*document_)[receiveModeKey] = receiveModeName(mode);
}

std::optional<std::chrono::system_clock::time_point> Settings::everyoneTimedEnd() const {
    if (receiveMode() != ReceiveMode::EveryoneTimed) {
        return std::nullopt;
    }
    // A timed mode without its end (edited by hand) has ended.
    const auto seconds = valueAt<std::int64_t>(*document_, timedEndKey).value_or(0);
    return std::chrono::system_clock::time_point(std::chrono::seconds(seconds));
}

ReceiveMode Settings::modeAfterEveryoneTimed() const {
    const auto after = modeAt(*document_, modeAfterTimedKey).value_or(ReceiveMode::Everyone);
    return after == ReceiveMode::EveryoneTimed ? ReceiveMode::Everyone : after;
}

ReceiveMode Settings::receiveModeAt(std::chrono::system_clock::time_point now) const {
    const auto end = everyoneTimedEnd();
    if (end && now >= *end) {
        return modeAfterEveryoneTimed();
    }
    return receiveMode();
}

std::chrono::seconds Settings::everyoneTimedDuration() {
    const char* text = std::getenv("VELTO_EVERYONE_TIMED_SECONDS");
    if (text == nullptr) {
        return defaultTimedDuration;
    }
    long long seconds = 0;
    const char* end = text + std::strlen(text);
    const auto [rest, error] = std::from_chars(text, end, seconds);
    if (error != std::errc() || rest != end || seconds < 1 ||
        seconds > defaultTimedDuration.count()) {
        return defaultTimedDuration;
    }
    return std::chrono::seconds(seconds);
}

std::vector<ComputerIdentity> Settings::computers(const char* key) const {
    std::vector<ComputerIdentity> list;
    const auto found = document_->find(key);
    if (found == document_->end() || !found->is_array()) {
        return list;
    }
    for (const auto& entry : *found) {
        if (!entry.is_object()) {
            continue;
        }
        const auto address = valueAt<std::string>(entry, "address");
        if (!address || !isPlainIpv4Address(*address) ||
            std::any_of(list.begin(), list.end(),
                        [&](const ComputerIdentity& known) { return known.address == *address; })) {
            continue;
        }
        list.push_back({*address, valueAt<std::string>(entry, "signature").value_or("")});
    }
    return list;
}

void Settings::setComputers(const char* key, const std::vector<ComputerIdentity>& computers) {
    auto list = nlohmann::json::array();
    for (const auto& computer : computers) {
        list.push_back({{"address", computer.address}, {"signature", computer.signature}});
    }
    (*document_)[key] = std::move(list);
}

bool Settings::addComputer(const char* key, const std::string& address) {
    auto list = computers(key);
    if (std::any_of(list.begin(), list.end(),
                    [&](const ComputerIdentity& entry) { return entry.address == address; })) {
        return false;
    }
    list.push_back({address, {}});
    setComputers(key, list);
    return true;
}

bool Settings::removeComputer(const char* key, const std::string& address) {
    auto list = computers(key);
    if (std::erase_if(
            list, [&](const ComputerIdentity& entry) { return entry.address == address; }) == 0) {
        return false;
    }
    setComputers(key, list);
    return true;
}

std::vector<ComputerIdentity> Settings::trusted() const {
    return computers(trustedKey);
}

std::vector<ComputerIdentity> Settings::blocked() const {
    return computers(blockedKey);
}

bool Settings::trust(const std::string& address) {
    const bool unblocked = removeComputer(blockedKey, address);
    return addComputer(trustedKey, address) || unblocked;
}

bool Settings::untrust(const std::string& address) {
    return removeComputer(trustedKey, address);
}

bool Settings::block(const std::string& address) {
    const bool untrusted = removeComputer(trustedKey, address);
    return addComputer(blockedKey, address) || untrusted;
}

bool Settings::unblock(const std::string& address) {
    return removeComputer(blockedKey, address);
}

bool Settings::recordSignature(const ComputerIdentity& heard) {
    if (heard.signature.empty()) {
        return false;
    }
    bool recorded = false;
    for (const char* key : {trustedKey, blockedKey}) {
        auto list = computers(key);
        bool changed = false;
        for (auto& entry : list) {
            if (entry.address == heard.address && entry.signature.empty()) {
                entry.signature = heard.signature;
                changed = true;
            }
        }
        if (changed) {
            setComputers(key, list);
            recorded = true;
        }
    }
    return recorded;
}

ReceivePolicy Settings::policyAt(std::chrono::system_clock::time_point now) const {
    return ReceivePolicy(receiveModeAt(now), trusted(), blocked());
}

bool Settings::visible() const {
    return valueAt<bool>(*document_, visibleKey).value_or(true);
}

void Settings::setVisible(bool visible) {
    (*document_)[visibleKey] = visible;
}

std::string Settings::receivingFolder() const {
    return valueAt<std::string>(*document_, receivingFolderKey).value_or("");
}

void Settings::setReceivingFolder(const std::string& folder) {
    (*document_)[receivingFolderKey] = folder;
}

void Settings::setAddedAddresses(const std::vector<std::string>& addresses) {
    (*document_)[addedAddressesKey] = addresses;
}

Settings::NamedChange Settings::namedChange(const std::string& key, const std::string& value) {
    const std::string quoted = ", not \"" + value + "\"";
    if (key == "receive-mode") {
        const auto mode = receiveModeFromName(value);
        if (!mode) {
            return {{}, "receive-mode is everyone, ask, trusted, off or everyone-timed" + quoted};
        }
        return {[mode](Settings& settings) { settings.setReceiveMode(*mode); }, {}};
    }
    if (key == "receive-folder") {
        std::error_code error;
        if (value.empty() || !std::filesystem::is_directory(value, error)) {
            return {{}, "receive-folder must be an existing folder" + quoted};
        }
        const std::string folder =
            std::filesystem::absolute(value, error).lexically_normal().string();
        return {[folder](Settings& settings) { settings.setReceivingFolder(folder); }, {}};
    }
    if (key == "visible") {
        if (value != "yes" && value != "no") {
            return {{}, "visible is yes or no" + quoted};
        }
        const bool visible = value == "yes";
        return {[visible](Settings& settings) { settings.setVisible(visible); }, {}};
    }
    return {{},
            "\"" + key +
                "\" cannot be set; the settings to set are receive-mode, receive-folder and "
                "visible (trust, untrust, block and unblock change the lists)"};
}

}  // namespace velto
