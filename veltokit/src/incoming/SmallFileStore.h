#pragma once

#include <condition_variable>
#include <cstddef>
#include <deque>
#include <mutex>
#include <string>
#include <thread>
#include <unordered_set>
#include <vector>

#include "incoming/IncomingStorage.h"
#include "velto/Bytes.h"

namespace velto {

// Stores the small files of one incoming transfer on two threads: files are gathered into
// batches, a helper thread of the store's own takes batches as they fill, and the connection's
// thread takes one too whenever the helper is behind. Creating a file costs the kernel far more
// than reading it from the connection, so the two share that work; where the helper gets no
// processor, the connection's thread ends up storing nearly everything itself, as before.
// A later file of a name replaces the earlier one, as if stored one by one: a name that is
// already on its way waits until everything before it is stored.
// The connection's thread calls every member; the storage outlives the store.
class SmallFileStore {
  public:
    static constexpr std::size_t batchFiles = 32;
    static constexpr std::size_t batchBytes = 256 * 1024;
    static constexpr std::size_t maxPendingNames = 8192;
    // Storing takes longer than reading, so the helper is given the larger share: this many
    // batches may wait for it before the connection's thread stores one itself.
    static constexpr std::size_t maxWaitingBatches = 3;

    explicit SmallFileStore(const IncomingStorage& storage);
    ~SmallFileStore();  // drops what is not stored yet, after the helper's current batch
    SmallFileStore(const SmallFileStore&) = delete;
    SmallFileStore& operator=(const SmallFileStore&) = delete;

    // Takes a file to store. False, with the first failure in error, once any store failed.
    bool add(std::string relative, Bytes body, std::string& error);
    // Stores everything taken before a file of this name, if one is still on its way; then
    // answers as add does.
    bool settle(const std::string& relative, std::string& error);
    // Stores everything taken; then answers as add does.
    bool finish(std::string& error);

  private:
    struct File {
        std::string relative;
        Bytes body;
    };
    using Batch = std::vector<File>;

    void queueGathered();  // the batch being gathered goes to the queue
    void wakeHelper();     // started with the first batch
    // Stores the batch at the queue's head on this thread; false when the queue is empty.
    bool storeQueued();
    void store(Batch& batch, IncomingStorage::OpenFolder& folder);
    void helperRun();
    bool failed(std::string& error);

    const IncomingStorage& storage_;
    Batch gathering_;
    std::size_t gatheringBytes_ = 0;
    std::unordered_set<std::string> pending_;  // names taken since everything was last stored
    IncomingStorage::OpenFolder ownFolder_;    // of the connection's thread

    std::mutex mutex_;
    std::condition_variable wake_;  // work for the helper, or stop
    std::condition_variable done_;  // the helper stored a batch
    std::deque<Batch> queue_;
    std::size_t batchesInWork_ = 0;
    bool stopping_ = false;
    std::string failure_;
    bool helperUnavailable_ = false;  // no thread could be had
    std::jthread helper_;
};

}  // namespace velto
