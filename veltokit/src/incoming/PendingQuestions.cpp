#include "incoming/PendingQuestions.h"

namespace velto {

std::function<void()> PendingQuestions::reserve(const std::string& sender) {
    std::lock_guard lock(places_->mutex);
    if (places_->senders.size() >= maxPending || !places_->senders.insert(sender).second) {
        return {};
    }
    return [places = places_, sender] {
        std::lock_guard released(places->mutex);
        places->senders.erase(sender);
    };
}

std::size_t PendingQuestions::count() const {
    std::lock_guard lock(places_->mutex);
    return places_->senders.size();
}

}  // namespace velto
