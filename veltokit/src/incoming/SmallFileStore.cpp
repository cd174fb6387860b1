#include "incoming/SmallFileStore.h"

#include <system_error>
#include <utility>

namespace velto {

SmallFileStore::SmallFileStore(const IncomingStorage& storage) : storage_(storage) {
    pending_.reserve(maxPendingNames);
}

SmallFileStore::~SmallFileStore() {
    {
        std::lock_guard lock(mutex_);
        stopping_ = true;
        queue_.clear();
    }
    wake_.notify_all();
}

bool SmallFileStore::add(std::string relative, Bytes body, std::string& error) {
    if ((pending_.size() >= maxPendingNames || pending_.contains(relative)) && !finish(error)) {
        return false;
    }
    gatheringBytes_ += body.size();
    pending_.insert(relative);
    gathering_.push_back({std::move(relative), std::move(body)});
    if (gathering_.size() >= batchFiles || gatheringBytes_ >= batchBytes) {
        queueGathered();
        wakeHelper();
        // Batches wait for the helper up to a few; one more means the helper is behind (or
        // gets no processor), and this thread takes one.
        bool behind = false;
        {
            std::lock_guard lock(mutex_);
            behind = queue_.size() > maxWaitingBatches;
        }
        if (behind) {
            storeQueued();
        }
    }
    return !failed(error);
}

bool SmallFileStore::settle(const std::string& relative, std::string& error) {
    if (pending_.contains(relative)) {
        return finish(error);
    }
    return !failed(error);
}

bool SmallFileStore::finish(std::string& error) {
    queueGathered();
    while (storeQueued()) {
    }
    {
        std::unique_lock lock(mutex_);
        done_.wait(lock, [this] { return batchesInWork_ == 0; });
    }
    pending_.clear();
    return !failed(error);
}

void SmallFileStore::queueGathered() {
    if (gathering_.empty()) {
        return;
    }
    {
        std::lock_guard lock(mutex_);
        queue_.push_back(std::move(gathering_));
    }
    gathering_ = {};
    gatheringBytes_ = 0;
}

void SmallFileStore::wakeHelper() {
    if (helper_.joinable()) {
        wake_.notify_one();
        return;
    }
    if (helperUnavailable_) {
        return;
    }
    try {
        helper_ = std::jthread([this] { helperRun(); });
    } catch (const std::system_error&) {
        helperUnavailable_ = true;  // this thread stores everything, as a batch comes due
    }
}

bool SmallFileStore::storeQueued() {
    Batch batch;
    {
        std::lock_guard lock(mutex_);
        if (queue_.empty()) {
            return false;
        }
        batch = std::move(queue_.front());
        queue_.pop_front();
    }
    store(batch, ownFolder_);
    return true;
}

void SmallFileStore::store(Batch& batch, IncomingStorage::OpenFolder& folder) {
    {
        std::lock_guard lock(mutex_);
        if (stopping_ || !failure_.empty()) {
            return;
        }
    }
    for (const File& file : batch) {
        std::string error;
        if (!storage_.storeFile(file.relative, file.body.data(), file.body.size(), folder, error)) {
            std::lock_guard lock(mutex_);
            if (failure_.empty()) {
                failure_ = std::move(error);
            }
            return;
        }
    }
}

void SmallFileStore::helperRun() {
    IncomingStorage::OpenFolder folder;
    std::unique_lock lock(mutex_);
    for (;;) {
        wake_.wait(lock, [this] { return stopping_ || !queue_.empty(); });
        if (stopping_) {
            return;
        }
        Batch batch = std::move(queue_.front());
        queue_.pop_front();
        ++batchesInWork_;
        lock.unlock();
        store(batch, folder);
        batch.clear();
        lock.lock();
        --batchesInWork_;
        done_.notify_all();
    }
}

bool SmallFileStore::failed(std::string& error) {
    std::lock_guard lock(mutex_);
    if (failure_.empty()) {
        return false;
    }
    error = failure_;
    return true;
}

}  // namespace velto
