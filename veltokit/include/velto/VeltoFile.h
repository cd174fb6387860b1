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
