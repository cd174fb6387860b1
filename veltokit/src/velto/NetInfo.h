#pragma once

#include <string>

namespace velto {

// An IPv4 address and its netmask in dotted-decimal text, with the subnet derived from them.
// Nothing is checked at construction. `network` and `broadcast` are empty when a text is not
// dotted decimal with parts 0..255, or when the netmask has fewer parts than the address;
// otherwise they have as many parts as the address (empty parts are skipped, as in "1..2").
class NetInfo {
  public:
    NetInfo(std::string ip, std::string netmask)
        : ip_(std::move(ip)), netmask_(std::move(netmask)) {}

    const std::string& ip() const { return ip_; }
    const std::string& netmask() const { return netmask_; }

    std::string network() const;    // ip AND netmask
    std::string broadcast() const;  // network OR NOT netmask

  private:
    std::string ip_;
    std::string netmask_;
};

}  // namespace velto
