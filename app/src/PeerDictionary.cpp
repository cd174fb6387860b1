#include "PeerDictionary.h"

namespace velto::app {

namespace {
QString text(const std::string& value) {
    return QString::fromStdString(value);
}
}  // namespace

QJsonObject packPeer(const VeltoPeer& peer) {
    QJsonObject dictionary{
        {"key", text(peer.key)},
        {"ip", text(peer.ip)},
        {"port", static_cast<int>(peer.port)},
        {"systemSignature", text(peer.systemSignature)},
    };
    if (peer.hasAvatarPicture()) {
        dictionary.insert("avatar", text(peer.avatar));
    }
    return dictionary;
}

}  // namespace velto::app
