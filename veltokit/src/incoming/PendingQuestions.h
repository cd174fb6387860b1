#pragma once

#include <cstddef>
#include <functional>
#include <memory>
#include <mutex>
#include <set>
#include <string>

namespace velto {

// The questions waiting for the user's answer: at most one per sender and maxPending in all,
// so that no peer can bury the user in them.
class PendingQuestions {
  public:
    static constexpr std::size_t maxPending = 8;

    // A place for a question from sender, given back by calling the function returned (once;
    // it may outlive this object). Empty when a limit is reached.
    std::function<void()> reserve(const std::string& sender);
    std::size_t count() const;

  private:
    struct Places {
        mutable std::mutex mutex;
        std::set<std::string> senders;
    };
    std::shared_ptr<Places> places_ = std::make_shared<Places>();
};

}  // namespace velto
