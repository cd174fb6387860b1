#include "incoming/StorageWriter.h"

#include <utility>

#include "core/ChunkPool.h"
#include "incoming/IncomingStorage.h"

namespace velto {

StorageWriter::StorageWriter(IncomingStorage& storage)
    : storage_(storage), thread_([this] { run(); }) {}

StorageWriter::~StorageWriter() {
    {
        std::lock_guard lock(mutex_);
        stopping_ = true;
        queued_.clear();
    }
    changed_.notify_all();
    thread_.join();
}

void StorageWriter::addFolder(std::string relative) {
    add({.relative = std::move(relative), .body = {}, .folder = true});
}

void StorageWriter::addFile(std::string relative, Bytes body) {
    add({.relative = std::move(relative), .body = std::move(body)});
}

void StorageWriter::add(Entry entry) {
    fillingBytes_ += entry.body.size();
    filling_.push_back(std::move(entry));
    if (filling_.size() >= batchEntries || fillingBytes_ >= batchBytes) {
        handOver();
    }
}

void StorageWriter::handOver() {
    if (filling_.empty()) {
        return;
    }
    {
        std::unique_lock lock(mutex_);
        changed_.wait(lock, [this] { return queued_.size() < maxBatchesQueued; });
        queued_.push_back(std::exchange(filling_, {}));
    }
    fillingBytes_ = 0;
    changed_.notify_all();
}

bool StorageWriter::finish(std::string& error) {
    handOver();
    std::unique_lock lock(mutex_);
    changed_.wait(lock, [this] { return queued_.empty() && !busy_; });
    if (!failure_.empty()) {
        error = failure_;
        return false;
    }
    return true;
}

void StorageWriter::run() {
    std::unique_lock lock(mutex_);
    for (;;) {
        changed_.wait(lock, [this] { return stopping_ || !queued_.empty(); });
        if (stopping_) {
            return;
        }
        Batch batch = std::move(queued_.front());
        queued_.pop_front();
        busy_ = true;
        const bool skip = !failure_.empty();
        lock.unlock();
        changed_.notify_all();  // room for the next batch
        std::string error;
        for (Entry& entry : batch) {
            if (skip || !error.empty() || stopping_.load(std::memory_order_relaxed)) {
                break;
            }
            store(entry, error);
        }
        for (Entry& entry : batch) {
            ChunkPool::give(std::move(entry.body));
        }
        lock.lock();
        busy_ = false;
        if (!error.empty() && failure_.empty()) {
            failure_ = std::move(error);
            failed_.store(true, std::memory_order_release);
        }
        changed_.notify_all();
    }
}

bool StorageWriter::store(Entry& entry, std::string& error) {
    if (entry.folder) {
        return storage_.prepareFolder(entry.relative, error);
    }
    return storage_.prepareFile(entry.relative, error) && storage_.write(entry.body, error) &&
           storage_.closeFile(error);
}

}  // namespace velto
