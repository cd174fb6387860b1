#include "PeerChoice.h"

#include <arpa/inet.h>

#include <algorithm>
#include <cctype>

namespace velto::cli {
namespace {

std::string lowered(std::string text) {
    std::transform(text.begin(), text.end(), text.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return text;
}

}  // namespace

bool PeerChoice::isAddress(const std::string& text) {
    in_addr address{};
    return inet_pton(AF_INET, text.c_str(), &address) == 1;
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
