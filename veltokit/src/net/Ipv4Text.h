#pragma once

#include <boost/asio/ip/address_v4.hpp>
#include <optional>
#include <string>

namespace velto {

// Only dotted-decimal IPv4 text names a host on this layer; names and IPv6 are refused.
inline std::optional<boost::asio::ip::address_v4> parseIpv4(const std::string& text) {
    boost::system::error_code error;
    const auto address = boost::asio::ip::make_address_v4(text, error);
    if (error) {
        return std::nullopt;
    }
    return address;
}

}  // namespace velto
