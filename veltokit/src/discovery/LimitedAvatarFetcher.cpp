#include "discovery/LimitedAvatarFetcher.h"

namespace velto {

std::shared_ptr<LimitedAvatarFetcher> LimitedAvatarFetcher::create(
    std::shared_ptr<AvatarFetcher> inner, std::size_t limit) {
    return std::shared_ptr<LimitedAvatarFetcher>(new LimitedAvatarFetcher(std::move(inner), limit));
}

LimitedAvatarFetcher::LimitedAvatarFetcher(std::shared_ptr<AvatarFetcher> inner, std::size_t limit)
    : inner_(std::move(inner)), limit_(limit > 0 ? limit : 1) {}

void LimitedAvatarFetcher::fetch(const std::string& ip, std::uint16_t metadataPort,
                                 Completion completion) {
    {
        std::lock_guard lock(mutex_);
        if (running_ >= limit_) {
            waiting_.push_back({ip, metadataPort, std::move(completion)});
            return;
        }
        ++running_;
    }
    start({ip, metadataPort, std::move(completion)});
}

// Called with a slot taken; the inner fetcher is asked outside the lock, since its completion
// may come back here. The completion holds this object weakly: a fetch that never ends (a
// stand-in fetcher left unanswered) must not keep it, and its owner, alive.
void LimitedAvatarFetcher::start(Waiting fetch) {
    inner_->fetch(fetch.ip, fetch.port,
                  [weak = weak_from_this(), completion = std::move(fetch.completion)](
                      std::optional<AvatarResponse> response) mutable {
                      // The caller hears first; then the slot goes to the next one waiting.
                      auto done = std::move(completion);
                      done(std::move(response));
                      if (auto self = weak.lock()) {
                          self->finished();
                      }
                  });
}

void LimitedAvatarFetcher::finished() {
    Waiting next;
    {
        std::lock_guard lock(mutex_);
        if (waiting_.empty()) {
            --running_;
            return;
        }
        next = std::move(waiting_.front());
        waiting_.pop_front();
    }
    start(std::move(next));
}

}  // namespace velto
