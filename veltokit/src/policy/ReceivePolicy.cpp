#include "velto/ReceivePolicy.h"

#include <algorithm>
#include <array>
#include <utility>

namespace velto {

namespace {

constexpr std::array<std::pair<ReceiveMode, std::string_view>, 5> modeNames{{
    {ReceiveMode::Everyone, "everyone"},
    {ReceiveMode::Ask, "ask"},
    {ReceiveMode::TrustedOnly, "trusted"},
    {ReceiveMode::Off, "off"},
    {ReceiveMode::EveryoneTimed, "everyone-timed"},
}};

}  // namespace

std::string_view receiveModeName(ReceiveMode mode) {
    for (const auto& [each, name] : modeNames) {
        if (each == mode)
            return name;
    }
    return "everyone";
}

std::optional<ReceiveMode> receiveModeFromName(std::string_view name) {
    for (const auto& [mode, each] : modeNames) {
        if (each == name)
            return mode;
    }
    return std::nullopt;
}

ReceivePolicy::ReceivePolicy(ReceiveMode mode, std::vector<ComputerIdentity> trusted,
                             std::vector<ComputerIdentity> blocked)
    : mode_(mode), trusted_(std::move(trusted)), blocked_(std::move(blocked)) {}

bool ReceivePolicy::isTrusted(const ComputerIdentity& sender) const {
    return std::any_of(trusted_.begin(), trusted_.end(), [&](const ComputerIdentity& entry) {
        return entry.address == sender.address &&
               (entry.signature.empty() || entry.signature == sender.signature);
    });
}

bool ReceivePolicy::isBlocked(const ComputerIdentity& sender) const {
    return std::any_of(blocked_.begin(), blocked_.end(), [&](const ComputerIdentity& entry) {
        return entry.address == sender.address ||
               (!entry.signature.empty() && entry.signature == sender.signature);
    });
}

ReceiveDecision ReceivePolicy::decideOnConnect(const ComputerIdentity& sender) const {
    if (isBlocked(sender))
        return ReceiveDecision::Refuse;
    switch (mode_) {
        case ReceiveMode::Off:
            return ReceiveDecision::Refuse;
        case ReceiveMode::TrustedOnly:
            return isTrusted(sender) ? ReceiveDecision::Receive : ReceiveDecision::Refuse;
        case ReceiveMode::Everyone:
        case ReceiveMode::EveryoneTimed:
        case ReceiveMode::Ask:
            break;
    }
    return ReceiveDecision::Receive;
}

ReceiveDecision ReceivePolicy::decideOnContent(const ComputerIdentity& sender, bool isText) const {
    const ReceiveDecision onConnect = decideOnConnect(sender);
    if (onConnect != ReceiveDecision::Receive)
        return onConnect;
    if (mode_ == ReceiveMode::Ask && !isText && !isTrusted(sender))
        return ReceiveDecision::Ask;
    return ReceiveDecision::Receive;
}

}  // namespace velto
