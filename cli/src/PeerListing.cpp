#include "PeerListing.h"

#include <algorithm>

namespace velto::cli {

std::string PeerListing::toText(const Table& peers) {
    if (peers.empty()) {
        return "No peers found.\n";
    }
    std::size_t keyWidth = 3;
    for (const auto& [key, peer] : peers) {
        keyWidth = std::max(keyWidth, key.size());
    }
    auto row = [&](const std::string& key, const std::string& port, const std::string& avatar,
                   const std::string& signature) {
        std::string line = key + std::string(keyWidth - key.size() + 2, ' ');
        line += port + std::string(port.size() < 7 ? 7 - port.size() : 1, ' ');
        line += avatar + std::string(avatar.size() < 8 ? 8 - avatar.size() : 1, ' ');
        return line + signature + "\n";
    };
    std::string text = row("KEY", "PORT", "AVATAR", "SIGNATURE");
    for (const auto& [key, peer] : peers) {
        text += row(key, std::to_string(peer.port), peer.hasAvatarPicture() ? "yes" : "no",
                    peer.systemSignature);
    }
    return text;
}

}  // namespace velto::cli
