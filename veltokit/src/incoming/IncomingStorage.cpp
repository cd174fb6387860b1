#include "incoming/IncomingStorage.h"

#include <dirent.h>
#include <fcntl.h>
#include <stdio.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <memory>
#include <string_view>
#include <vector>

#include "incoming/StorageNames.h"
#include "velto/Diagnostics.h"
#include "velto/PathHelpers.h"
#include "velto/RandomString.h"

namespace velto {
namespace {

constexpr unsigned maxNameAttempts = 100'000;

std::string systemError(const std::string& what) {
    return what + ": " + std::strerror(errno);
}

struct DirCloser {
    void operator()(DIR* dir) const { ::closedir(dir); }
};

bool listEntries(const std::string& path, std::vector<std::string>& names, std::string& error) {
    std::unique_ptr<DIR, DirCloser> dir(::opendir(path.c_str()));
    if (!dir) {
        error = systemError("cannot list " + path);
        return false;
    }
    while (const dirent* entry = ::readdir(dir.get())) {
        const std::string name = entry->d_name;
        if (name != "." && name != "..") {
            names.push_back(name);
        }
    }
    return true;
}

// Renames from to the first free name that candidate(n) gives for n = 1, 2, ..., never
// replacing an existing entry: the existence check and the move are one step.
template <typename Candidate>
bool moveToFreeName(const std::string& from, const std::string& folder, Candidate candidate,
                    std::string& result, std::string& error) {
    for (unsigned number = 1; number <= maxNameAttempts; ++number) {
        const std::string to = stringByAppendingPathComponent(folder, candidate(number));
        if (::renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE) == 0) {
            result = to;
            return true;
        }
        if (errno != EEXIST) {
            error = systemError("cannot move " + from + " to " + to);
            return false;
        }
    }
    error = "no free name for " + from + " in " + folder;
    return false;
}

// Opens a folder and takes its lock without waiting; an empty handle when another holds it.
UniqueFd lockFolder(const std::string& path) {
    UniqueFd fd(::open(path.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
    if (fd && ::flock(fd.get(), LOCK_EX | LOCK_NB) != 0) {
        fd.reset();
    }
    return fd;
}

}  // namespace

IncomingStorage::IncomingStorage(std::string basePath,
                                 std::chrono::system_clock::time_point startTime)
    : basePath_(std::move(basePath)), startTime_(startTime) {
    struct stat info {};
    do {
        intermediatePath_ = stringByAppendingPathComponent(
            basePath_,
            StorageNames::intermediateFolder(startTime_, generateRandomStringWithLength(32)));
    } while (::lstat(intermediatePath_.c_str(), &info) == 0);
}

IncomingStorage::~IncomingStorage() {
    discard();
}

std::string IncomingStorage::pathOf(const std::string& relative) const {
    return stringByAppendingPathComponent(intermediatePath_, relative);
}

bool IncomingStorage::checkRoom(std::uint64_t bytes, std::uint64_t entries,
                                std::string& error) const {
    struct statvfs info {};
    if (::statvfs(basePath_.c_str(), &info) != 0) {
        error = systemError("cannot examine " + basePath_);
        return false;
    }
    const std::uint64_t freeBytes = std::uint64_t{info.f_bavail} * info.f_frsize;
    if (bytes > freeBytes) {
        error = std::to_string(bytes) + " bytes announced, " + std::to_string(freeBytes) +
                " bytes free in " + basePath_;
        return false;
    }
    // File systems without an inode count report 0 files in all.
    if (info.f_files != 0 && entries > info.f_favail) {
        error = std::to_string(entries) + " entries announced, room for " +
                std::to_string(info.f_favail) + " in " + basePath_;
        return false;
    }
    return true;
}

bool IncomingStorage::ensureIntermediateFolder(std::string& error) {
    if (folderLock_) {
        return true;
    }
    for (unsigned attempt = 0; attempt < maxNameAttempts; ++attempt) {
        if (::mkdir(intermediatePath_.c_str(), 0777) == 0) {
            folderLock_ = lockFolder(intermediatePath_);
            if (!folderLock_) {
                error = systemError("cannot lock " + intermediatePath_);
                return false;
            }
            return true;
        }
        if (errno != EEXIST) {
            error = systemError("cannot create " + intermediatePath_);
            return false;
        }
        intermediatePath_ = stringByAppendingPathComponent(
            basePath_,
            StorageNames::intermediateFolder(startTime_, generateRandomStringWithLength(32)));
    }
    error = "no free name for an intermediate folder in " + basePath_;
    return false;
}

// Everything below works relative to the open intermediate folder: a name is resolved from
// there rather than from the root, and the common case, an element whose folder came before
// it, costs one system call. Missing parent folders are made only when that call says so.
bool IncomingStorage::makeFolder(const std::string& relative) const {
    if (::mkdirat(folderLock_.get(), relative.c_str(), 0777) == 0) {
        return true;
    }
    if (errno == EEXIST) {
        struct stat info {};
        if (::fstatat(folderLock_.get(), relative.c_str(), &info, AT_SYMLINK_NOFOLLOW) == 0 &&
            S_ISDIR(info.st_mode)) {
            return true;
        }
        errno = EEXIST;
        return false;
    }
    const auto slash = relative.rfind('/');
    if (errno != ENOENT || slash == std::string::npos) {
        return false;
    }
    return makeFolder(relative.substr(0, slash)) &&
           (::mkdirat(folderLock_.get(), relative.c_str(), 0777) == 0 || errno == EEXIST);
}

bool IncomingStorage::prepareFolder(const std::string& relative, std::string& error) {
    if (!ensureIntermediateFolder(error)) {
        return false;
    }
    if (!makeFolder(relative)) {
        error = systemError("cannot create the folder " + pathOf(relative));
        return false;
    }
    return true;
}

int IncomingStorage::folderFor(const std::string& relative, OpenFolder& last) const {
    const auto slash = relative.rfind('/');
    if (slash == std::string::npos) {
        return folderLock_.get();
    }
    if (!last.fd || std::string_view(relative).substr(0, slash) != last.relative) {
        const std::string folder = relative.substr(0, slash);
        last.relative.clear();
        const auto open = [&] {
            last.fd.reset(::openat(folderLock_.get(), folder.c_str(),
                                   O_PATH | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
        };
        open();
        if (!last.fd && errno == ENOENT && makeFolder(folder)) {
            open();
        }
        if (!last.fd) {
            return -1;
        }
        last.relative = folder;
    }
    return last.fd.get();
}

// A later element of the same name replaces the earlier one; nothing outside the intermediate
// folder is reachable, and no link inside it is followed.
int IncomingStorage::openFile(const std::string& relative, OpenFolder& last) const {
    const int folder = folderFor(relative, last);
    if (folder < 0) {
        return -1;
    }
    const auto slash = relative.rfind('/');
    const char* leaf = relative.c_str() + (slash == std::string::npos ? 0 : slash + 1);
    return ::openat(folder, leaf, O_WRONLY | O_CREAT | O_TRUNC | O_NOFOLLOW | O_CLOEXEC, 0666);
}

bool IncomingStorage::prepareFile(const std::string& relative, std::string& error) {
    if (!ensureIntermediateFolder(error)) {
        return false;
    }
    file_.reset();
    file_.reset(openFile(relative, lastFolder_));
    if (!file_) {
        error = systemError("cannot create " + pathOf(relative));
        return false;
    }
    return true;
}

bool IncomingStorage::writeAll(int fd, const std::uint8_t* bytes, std::size_t length,
                               std::string& error) {
    std::size_t done = 0;
    while (done < length) {
        const ssize_t n = ::write(fd, bytes + done, length - done);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n < 0) {
            error = systemError("cannot write a received file");
            return false;
        }
        done += static_cast<std::size_t>(n);
    }
    return true;
}

bool IncomingStorage::write(const std::uint8_t* bytes, std::size_t length, std::string& error) {
    return writeAll(file_.get(), bytes, length, error);
}

bool IncomingStorage::storeFile(const std::string& relative, const std::uint8_t* bytes,
                                std::size_t length, OpenFolder& folder, std::string& error) const {
    UniqueFd file(openFile(relative, folder));
    if (!file) {
        error = systemError("cannot create " + pathOf(relative));
        return false;
    }
    if (!writeAll(file.get(), bytes, length, error)) {
        return false;
    }
    if (file.reset() != 0) {
        error = systemError("cannot finish writing a received file");
        return false;
    }
    return true;
}

bool IncomingStorage::closeFile(std::string& error) {
    if (file_ && file_.reset() != 0) {
        error = systemError("cannot finish writing a received file");
        return false;
    }
    return true;
}

bool IncomingStorage::publish(std::optional<std::string>& publishedPath, std::string& error) {
    publishedPath.reset();
    if (!closeFile(error)) {
        return false;
    }
    if (!folderLock_) {
        return true;  // a text, or no element at all: nothing was stored
    }
    std::vector<std::string> entries;
    if (!listEntries(intermediatePath_, entries, error)) {
        return false;
    }
    std::string result;
    if (entries.size() == 1) {
        const std::string name = StorageNames::itemName(entries.front());
        const auto candidate = [&](unsigned n) {
            return n == 1 ? name : StorageNames::numberedItem(name, n);
        };
        if (!moveToFreeName(pathOf(entries.front()), basePath_, candidate, result, error)) {
            return false;
        }
        ::rmdir(intermediatePath_.c_str());
    } else if (entries.size() > 1) {
        const std::string folder = StorageNames::datedFolder(startTime_);
        const auto candidate = [&](unsigned n) {
            return n == 1 ? folder : StorageNames::numberedFolder(folder, n);
        };
        if (!moveToFreeName(intermediatePath_, basePath_, candidate, result, error)) {
            return false;
        }
    } else {
        ::rmdir(intermediatePath_.c_str());
    }
    lastFolder_.fd.reset();
    folderLock_.reset();
    if (!result.empty()) {
        publishedPath = result;
    }
    return true;
}

void IncomingStorage::discard() {
    file_.reset();
    lastFolder_.fd.reset();
    if (folderLock_) {
        std::error_code ignored;
        std::filesystem::remove_all(intermediatePath_, ignored);
        folderLock_.reset();
    }
}

std::size_t IncomingStorage::removeLeftovers(const std::string& basePath) {
    std::vector<std::string> entries;
    std::string error;
    if (!listEntries(basePath, entries, error)) {
        return 0;
    }
    std::size_t removed = 0;
    for (const auto& entry : entries) {
        if (entry.rfind(StorageNames::intermediatePrefix, 0) != 0) {
            continue;
        }
        const std::string path = stringByAppendingPathComponent(basePath, entry);
        // A folder whose lock can be had belongs to no running transfer.
        if (UniqueFd lock = lockFolder(path)) {
            std::error_code failure;
            std::filesystem::remove_all(path, failure);
            if (failure) {
                diagnostic("cannot remove leftover", path, failure.message());
            } else {
                ++removed;
                diagnostic("removed leftover", path);
            }
        }
    }
    return removed;
}

}  // namespace velto
