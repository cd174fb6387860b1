#include "PeerChoice.h"

#include <algorithm>
#include <cctype>

#include "velto/Ipv4Address.h"

namespace velto::cli {
namespace {

std::string lowered(std::string text) {
    std::transform(text.begin(), text.end(), text.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return text;
}

}  // namespace

bool PeerChoice::isAddress(const std::string& text) {
    return isPlainIpv4Address(text);
}

bool PeerChoice::isMalformedAddress(const std::string& text) {
    const bool digitsAndDots = !text.empty() && text.find('.') != std::string::npos &&
                               std::all_of(text.begin(), text.end(), [](unsigned char c) {
                                   return c == '.' || std::isdigit(c) != 0;
                               });
    return digitsAndDots && !isAddress(text);
}

std::string PeerChoice::addressRefusal(const std::string& text) {
    return "velto-cli: \"" + text +
           "\" is not an IPv4 address: give four numbers from 0 to 255 separated by dots, "
           "without leading zeros, like 192.168.1.20";
}

PeerChoice::Result PeerChoice::choose(const std::string& text,
                                      const std::map<std::string, VeltoPeer>& peers) {
    Result result;
    if (isAddress(text)) {
        const auto known = peers.find(text);
        result.peer = known != peers.end() ? known->second
                                           : VeltoPeer(text, text, defaultPort, text,
                                                       std::chrono::system_clock::now());
        return result;
    }
    const std::string wanted = lowered(text);
    for (const auto& [key, peer] : peers) {
        if (!wanted.empty() && lowered(peer.systemSignature).find(wanted) != std::string::npos) {
            result.candidates.push_back(peer.systemSignature + " (" + key + ")");
            result.peer = peer;
        }
    }
    if (result.candidates.size() != 1) {
        result.peer.reset();
    }
    if (result.candidates.size() == 1) {
        result.candidates.clear();
    }
    return result;
}

}  // namespace velto::cli
