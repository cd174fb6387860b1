#pragma once

#include <cstddef>
#include <deque>
#include <memory>
#include <mutex>

#include "discovery/AvatarFetcher.h"

namespace velto {

// Lets at most `limit` fetches of another fetcher be under way at once and queues the rest in
// the order asked, so that a LAN full of computers does not open a connection to each of them
// at the same moment. Fetches still waiting when it is destroyed are dropped unanswered.
class LimitedAvatarFetcher : public AvatarFetcher,
                             public std::enable_shared_from_this<LimitedAvatarFetcher> {
  public:
    static std::shared_ptr<LimitedAvatarFetcher> create(std::shared_ptr<AvatarFetcher> inner,
                                                        std::size_t limit);

    void fetch(const std::string& ip, std::uint16_t metadataPort, Completion completion) override;

  private:
    struct Waiting {
        std::string ip;
        std::uint16_t port;
        Completion completion;
    };

    LimitedAvatarFetcher(std::shared_ptr<AvatarFetcher> inner, std::size_t limit);
    void start(Waiting fetch);
    void finished();

    std::shared_ptr<AvatarFetcher> inner_;
    std::size_t limit_;
    std::mutex mutex_;
    std::size_t running_ = 0;
    std::deque<Waiting> waiting_;
};

}  // namespace velto
