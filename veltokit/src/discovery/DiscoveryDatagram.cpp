#include "discovery/DiscoveryDatagram.h"

#include "core/Utf8.h"
#include "velto/BinUtils.h"

namespace velto {
namespace {

constexpr std::size_t portFieldSize = 2;

bool carriesPort(std::uint8_t type) {
    return type == static_cast<std::uint8_t>(DiscoveryPacketType::helloBroadcastWithPort) ||
           type == static_cast<std::uint8_t>(DiscoveryPacketType::helloReplyWithPort);
}

}  // namespace

Bytes DiscoveryDatagram::encode() const {
    Bytes out{static_cast<std::uint8_t>(type)};
    if (port) {
        appendLittleEndianUInt16(out, *port);  // "<H"
    }
    out.insert(out.end(), text.begin(), text.end());
    return out;
}

std::optional<DiscoveryDatagram> DiscoveryDatagram::parse(const Bytes& data, std::string& refusal) {
    refusal.clear();
    if (data.empty()) {
        refusal = "empty datagram";
        return std::nullopt;
    }
    const std::uint8_t type = data[0];
    if (type < static_cast<std::uint8_t>(DiscoveryPacketType::helloBroadcast) ||
        type > static_cast<std::uint8_t>(DiscoveryPacketType::helloReplyWithPort)) {
        return std::nullopt;
    }
    DiscoveryDatagram datagram;
    datagram.type = static_cast<DiscoveryPacketType>(type);
    std::size_t textStart = 1;
    if (carriesPort(type)) {
        if (data.size() < 1 + portFieldSize) {
            refusal = "datagram of type " + std::to_string(type) + " too short for its port field";
            return std::nullopt;
        }
        datagram.port = unpackLittleEndianUInt16(std::span(data).subspan(1, portFieldSize));
        textStart += portFieldSize;
    }
    datagram.text.assign(data.begin() + static_cast<std::ptrdiff_t>(textStart), data.end());
    if (datagram.isHello() && !isValidUtf8(datagram.text)) {
        refusal = "hello text is not valid UTF-8";
        return std::nullopt;
    }
    return datagram;
}

}  // namespace velto
