#pragma once

#include <atomic>
#include <condition_variable>
#include <cstddef>
#include <deque>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "velto/Bytes.h"

namespace velto {

class IncomingStorage;

// Creates received folders and small files on a thread of its own, in the order they were
// added, so that the connection's thread goes on parsing meanwhile: for many small files the
// creating, writing and closing is most of a receiver's work. Work is handed over in batches,
// a wake-up per batch rather than per file, and at most maxBatchesQueued wait at once, so an
// adding thread that runs ahead waits rather than piling up bodies.
//
// The storage belongs to the writer's thread from the first add until finish() returns (or
// the writer is gone); the owner touches it only outside that time. Used from one thread.
class StorageWriter {
  public:
    static constexpr std::size_t maxFileSize = 64 * 1024;  // larger files are written as they come
    static constexpr std::size_t batchBytes = 256 * 1024;
    static constexpr std::size_t batchEntries = 64;
    static constexpr std::size_t maxBatchesQueued = 4;

    explicit StorageWriter(IncomingStorage& storage);
    ~StorageWriter();  // what was not written yet is dropped; waits for the entry under way

    StorageWriter(const StorageWriter&) = delete;
    StorageWriter& operator=(const StorageWriter&) = delete;

    // The relative paths have been cleaned (ElementName).
    void addFolder(std::string relative);
    void addFile(std::string relative, Bytes body);
    // Waits until everything added is stored; false with the first failure's reason.
    bool finish(std::string& error);
    // Whether an entry could not be stored; later ones are then skipped.
    bool failed() const { return failed_.load(std::memory_order_acquire); }

  private:
    struct Entry {
        std::string relative;
        Bytes body;
        bool folder = false;
    };
    using Batch = std::vector<Entry>;

    void add(Entry entry);
    void handOver();
    void run();
    bool store(Entry& entry, std::string& error);

    IncomingStorage& storage_;
    Batch filling_;  // the adding thread's, not yet handed over
    std::size_t fillingBytes_ = 0;

    std::mutex mutex_;
    std::condition_variable changed_;
    std::deque<Batch> queued_;
    bool busy_ = false;                  // a batch is being stored
    std::atomic<bool> stopping_{false};  // also read by the writer between entries
    std::string failure_;  // the first; written by the writer's thread under the mutex
    std::atomic<bool> failed_{false};
    std::thread thread_;  // last: started once everything above exists
};

}  // namespace velto
