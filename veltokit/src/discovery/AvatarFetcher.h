#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>

#include "velto/Bytes.h"

namespace velto {

struct AvatarResponse {
    unsigned status = 0;
    Bytes body;
};

// Asks a peer's metadata server for its picture. The completion runs once, on the server's
// "broadcast" queue, with the response, or nullopt when none arrived (refused, timed out, too
// large, not HTTP).
class AvatarFetcher {
  public:
    using Completion = std::function<void(std::optional<AvatarResponse>)>;

    virtual ~AvatarFetcher() = default;
    virtual void fetch(const std::string& ip, std::uint16_t metadataPort,
                       Completion completion) = 0;
};

}  // namespace velto
