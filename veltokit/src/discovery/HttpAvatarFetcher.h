#pragma once

#include <chrono>
#include <cstddef>
#include <memory>

#include "discovery/AvatarFetcher.h"
#include "velto/DispatchQueue.h"

namespace velto {

// Fetches http://ip:port/velto/avatar over HTTP/1.1 on a queue's io_context, so completions
// run on that queue. Each fetch has one deadline for connecting, asking and reading, and a cap
// on the body, so that a hostile or stalled peer can neither hang nor bloat us.
class HttpAvatarFetcher : public AvatarFetcher {
  public:
    struct Limits {
        std::chrono::milliseconds timeout{10'000};
        std::size_t maxBodyBytes = 10 * 1024 * 1024;
    };

    HttpAvatarFetcher(std::shared_ptr<DispatchQueue> queue, Limits limits);
    explicit HttpAvatarFetcher(std::shared_ptr<DispatchQueue> queue)
        : HttpAvatarFetcher(std::move(queue), Limits{}) {}

    void fetch(const std::string& ip, std::uint16_t metadataPort, Completion completion) override;

  private:
    std::shared_ptr<DispatchQueue> queue_;
    Limits limits_;
};

}  // namespace velto
