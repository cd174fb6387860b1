#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "velto/Export.h"
#include "velto/VeltoItem.h"

namespace velto {

// A regular file element. The size is sampled at construction; the body is read lazily, one
// chunk of at most chunkSize bytes per call, and is never longer or shorter than that size:
// a file that changed in between stops the reading with a readFailure().
class VELTO_EXPORT VeltoFile : public VeltoItem {
  public:
    explicit VeltoFile(const std::string& path);
    VeltoFile(std::string path, std::string name);
    ~VeltoFile() override;

    const std::string& path() const { return path_; }
    bool isOpen() const;  // between the first chunk and the last

    Bytes nextChunk() override;

    // For a body the connection takes from the file itself: the open file, or -1 with
    // readFailure() set.
    int bodyDescriptor();
    // The connection takes the first length bytes of the body from the file; nextChunk() goes
    // on after them.
    void skipBody(std::uint64_t length) { position_ = length; }
    // The connection could not take the body from the file: the system's error number, or 0
    // for a file that ended early.
    void failBody(int error);

  private:
    friend class ItemWalk;  // hands over the size it read while listing the folder

    struct Handle;
    struct Attributes {
        std::uint64_t size = 0;
        std::string failure;
    };
    static Attributes readAttributes(const std::string& path);
    VeltoFile(std::string path, std::string name, Attributes attributes);

    bool openHandle();
    void releaseHandle();

    std::string path_;
    std::unique_ptr<Handle> handle_;
    std::uint64_t position_ = 0;
};

}  // namespace velto
