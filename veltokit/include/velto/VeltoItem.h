#pragma once

#include <cstdint>
#include <string>

#include "velto/Bytes.h"
#include "velto/Export.h"

namespace velto {

// One element of an outgoing transfer: a folder, a file or one text.
class VELTO_EXPORT VeltoItem {
  public:
    static constexpr std::uint64_t folderMarker = 0xFFFFFFFFFFFFFFFFull;
    static constexpr std::size_t chunkSize = 10'485'760;

    virtual ~VeltoItem() = default;

    const std::string& name() const { return name_; }
    std::uint64_t size() const { return size_; }                  // body bytes
    std::uint64_t protocolSize() const { return protocolSize_; }  // header's size field

    // Name as UTF-8, one 0x00, protocolSize as "<Q".
    Bytes header() const;
    // The next piece of the body; empty when there is none or nothing is left.
    virtual Bytes nextChunk() { return {}; }

    // Why the body cannot be produced exactly as announced (a file that vanished, shrank, grew
    // or became unreadable); empty while all is well. A transfer must not send more of it.
    const std::string& readFailure() const { return readFailure_; }

    // The item's own name on disk when that is not valid UTF-8 (name() then carries it with each
    // stray byte written as %XX); empty for every other item.
    const std::string& nameOnDisk() const { return nameOnDisk_; }

  protected:
    VeltoItem(std::string name, std::uint64_t size, std::uint64_t protocolSize)
        : name_(std::move(name)), size_(size), protocolSize_(protocolSize) {}

    void failRead(std::string reason) {
        if (readFailure_.empty()) {
            readFailure_ = std::move(reason);
        }
    }

  private:
    friend class ItemWalk;  // the one place that finds names on disk

    std::string name_;
    std::uint64_t size_;
    std::uint64_t protocolSize_;
    std::string readFailure_;
    std::string nameOnDisk_;
};

}  // namespace velto
