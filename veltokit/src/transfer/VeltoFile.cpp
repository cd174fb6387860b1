#include "velto/VeltoFile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "core/ChunkPool.h"
#include "core/UniqueFd.h"
#include "transfer/LastPathComponent.h"

namespace velto {
namespace {

std::string systemError(const std::string& what) {
    return what + ": " + std::strerror(errno);
}

}  // namespace

struct VeltoFile::Handle {
    UniqueFd fd;
};

VeltoFile::Attributes VeltoFile::readAttributes(const std::string& path) {
    struct stat info {};
    // Follows links: a link is sent as what it points to, with that file's size.
    if (::stat(path.c_str(), &info) != 0) {
        return {0, systemError("cannot read the size of " + path)};
    }
    if (!S_ISREG(info.st_mode)) {
        return {0, path + " is not a regular file"};
    }
    return {static_cast<std::uint64_t>(info.st_size), {}};
}

VeltoFile::VeltoFile(const std::string& path) : VeltoFile(path, lastPathComponent(path)) {}

VeltoFile::VeltoFile(std::string path, std::string name)
    : VeltoFile(path, std::move(name), readAttributes(path)) {}

VeltoFile::VeltoFile(std::string path, std::string name, Attributes attributes)
    : VeltoItem(std::move(name), attributes.size, attributes.size), path_(std::move(path)) {
    if (!attributes.failure.empty()) {
        failRead(std::move(attributes.failure));
    }
}

VeltoFile::~VeltoFile() = default;

bool VeltoFile::isOpen() const {
    return handle_ != nullptr;
}

bool VeltoFile::openHandle() {
    // No look at the size here, which for many small files is a system call in five: the
    // reads tell a file that grew or shrank since it was listed. Not blocking keeps a pipe put
    // in its place from stopping the transfer; its reads come out short.
    UniqueFd fd(::open(path_.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK));
    if (!fd) {
        failRead(systemError("cannot open " + path_));
        return false;
    }
    handle_ = std::make_unique<Handle>();
    handle_->fd = std::move(fd);
    return true;
}

void VeltoFile::releaseHandle() {
    handle_.reset();
}

int VeltoFile::bodyDescriptor() {
    if (!readFailure().empty() || (!handle_ && !openHandle())) {
        return -1;
    }
    return handle_->fd.get();
}

void VeltoFile::failBody(int error) {
    errno = error;
    failRead(error == 0 ? path_ + " shrank while it was sent"
                        : systemError("cannot read " + path_));
    releaseHandle();
}

Bytes VeltoFile::nextChunk() {
    if (!readFailure().empty()) {
        return {};
    }
    if (!handle_ && !openHandle()) {
        return {};
    }
    // Never read past the announced size, so the body cannot grow beyond what the header said.
    // The last chunk asks for one byte more: getting it means the file grew, and a short read
    // saves a system call to look at its size.
    const auto wanted =
        static_cast<std::size_t>(std::min<std::uint64_t>(chunkSize, size() - position_));
    const bool last = position_ + wanted == size();
    Bytes data = ChunkPool::take(wanted + (last ? 1 : 0));
    std::size_t got = 0;
    while (got < data.size()) {
        const std::size_t asked = data.size() - got;
        const ssize_t n = ::pread(handle_->fd.get(), data.data() + got, asked,
                                  static_cast<off_t>(position_ + got));
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n < 0) {
            failRead(systemError("cannot read " + path_));
            releaseHandle();
            return {};
        }
        got += static_cast<std::size_t>(n);
        // A read of a regular file stops short only at its end.
        if (n == 0 || (got >= wanted && static_cast<std::size_t>(n) < asked)) {
            break;
        }
    }
    if (got < wanted) {
        failRead(path_ + " shrank while it was sent");
        releaseHandle();
        return {};
    }
    if (got > wanted) {
        failRead(path_ + " changed size while it was sent");
        releaseHandle();
        return {};
    }
    position_ += got;
    if (last) {
        releaseHandle();
    }
    data.resize(wanted);
    return data;
}

}  // namespace velto
