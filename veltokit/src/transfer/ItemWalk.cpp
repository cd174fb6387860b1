#include "transfer/ItemWalk.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstring>
#include <exception>
#include <iterator>
#include <memory>
#include <system_error>
#include <thread>
#include <unordered_set>

#include "core/UniqueFd.h"
#include "core/Utf8.h"
#include "incoming/StorageNames.h"
#include "transfer/LastPathComponent.h"
#include "velto/PathHelpers.h"
#include "velto/VeltoDir.h"
#include "velto/VeltoFile.h"

namespace velto {
namespace {

struct DirCloser {
    void operator()(DIR* dir) const { ::closedir(dir); }
};

// The entry names of an open folder in listing order, or false when it cannot be listed
// completely; subfolders counts the entries that may be folders.
bool listFolder(int folder, std::vector<std::string>& names, std::size_t& subfolders,
                std::string& error) {
    const int listing = ::dup(folder);  // the stream owns and closes its descriptor
    std::unique_ptr<DIR, DirCloser> dir(listing < 0 ? nullptr : ::fdopendir(listing));
    if (!dir) {
        error = std::strerror(errno);
        if (listing >= 0) {
            ::close(listing);
        }
        return false;
    }
    for (;;) {
        errno = 0;
        const dirent* entry = ::readdir(dir.get());
        if (entry == nullptr) {
            if (errno != 0) {
                error = std::strerror(errno);
                return false;
            }
            return true;
        }
        const std::string name = entry->d_name;
        if (name != "." && name != "..") {
            names.push_back(name);
            const auto type = entry->d_type;
            subfolders += type == DT_DIR || type == DT_LNK || type == DT_UNKNOWN ? 1 : 0;
        }
    }
}

// Whether the file belongs to the user who runs this and its owner may read it: then the access
// check would say yes (no access list narrows the owner's rights), and a tree of many small
// files is spared a system call per file.
bool readableByOwner(const struct stat& info) {
    static const uid_t user = ::getuid();  // the access check asks about the real user too
    return info.st_uid == user && (info.st_mode & S_IRUSR) != 0;
}

// The names a folder's entries are sent under, in the same order: their own where that is
// valid UTF-8, which no other entry then takes.
std::vector<std::string> namesToSend(const std::vector<std::string>& entries) {
    if (std::all_of(entries.begin(), entries.end(), isValidUtf8)) {
        return entries;
    }
    std::unordered_set<std::string> taken;
    std::copy_if(entries.begin(), entries.end(), std::inserter(taken, taken.end()), isValidUtf8);
    std::vector<std::string> names;
    for (const auto& entry : entries) {
        if (isValidUtf8(entry)) {
            names.push_back(entry);
            continue;
        }
        const std::string escaped = withInvalidBytesEscaped(entry);
        std::string name = escaped;
        for (unsigned number = 2; !taken.insert(name).second; ++number) {
            name = StorageNames::numberedItem(escaped, number);
        }
        names.push_back(std::move(name));
    }
    return names;
}

}  // namespace

ItemList ItemWalk::run(const std::vector<std::string>& paths) {
    for (const auto& path : paths) {
        const std::string name = lastPathComponent(path);
        const std::string sent = withInvalidBytesEscaped(name);
        visit({AT_FDCWD, path}, path, sent, sent == name ? "" : name);
    }
    return std::move(items_);
}

void ItemWalk::add(std::shared_ptr<VeltoItem> item, const std::string& nameOnDisk) {
    item->nameOnDisk_ = nameOnDisk;
    items_.push_back(std::move(item));
}

void ItemWalk::skip(const std::string& path, std::string reason) {
    skipped_.push_back({path, std::move(reason)});
}

// Entries are looked at relative to their open folder: a lookup of one name instead of the
// whole path, which for a tree of many small files is much of the cost of listing it.
void ItemWalk::visit(const Location& at, const std::string& path, const std::string& name,
                     const std::string& nameOnDisk) {
    struct stat info {};
    if (::fstatat(at.folder, at.entry.c_str(), &info, 0) != 0) {
        struct stat link {};
        if (errno == ENOENT &&
            ::fstatat(at.folder, at.entry.c_str(), &link, AT_SYMLINK_NOFOLLOW) != 0) {
            skip(path, "does not exist");
        } else if (errno == ENOENT) {
            skip(path, "is a link to nothing");
        } else {
            skip(path, std::string("cannot be read: ") + std::strerror(errno));
        }
        return;
    }
    if (S_ISDIR(info.st_mode)) {
        visitFolder(at, path, name, info.st_dev, info.st_ino, nameOnDisk);
        return;
    }
    if (!S_ISREG(info.st_mode)) {
        skip(path, "is neither a regular file nor a folder");
        return;
    }
    if (!readableByOwner(info) && ::faccessat(at.folder, at.entry.c_str(), R_OK, 0) != 0) {
        skip(path, std::string("cannot be read: ") + std::strerror(errno));
        return;
    }
    // Follows links: a link is sent as what it points to, with that file's size.
    add(std::shared_ptr<VeltoFile>(
            new VeltoFile(path, name, {static_cast<std::uint64_t>(info.st_size), {}})),
        nameOnDisk);
}

void ItemWalk::visitFolder(const Location& at, const std::string& path, const std::string& name,
                           dev_t device, ino_t inode, const std::string& nameOnDisk) {
    const auto self = std::make_pair(device, inode);
    if (std::find(openFolders_.begin(), openFolders_.end(), self) != openFolders_.end()) {
        skip(path, "leads back into a folder that contains it");
        return;
    }
    UniqueFd folder(::openat(at.folder, at.entry.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    std::vector<std::string> entries;
    std::size_t subfolders = 0;
    std::string error = folder ? "" : std::strerror(errno);
    if (!folder || !listFolder(folder.get(), entries, subfolders, error)) {
        skip(path, "cannot be listed: " + error);
        return;
    }
    // Deep down, entries are looked up by full path, so that no tree can use up the process's
    // descriptors.
    if (openFolders_.size() >= maxOpenFolders) {
        folder.reset();
    }
    add(std::make_shared<VeltoDir>(path, name), nameOnDisk);
    openFolders_.push_back(self);
    visitEntries(folder ? folder.get() : AT_FDCWD, path, name, entries,
                 openFolders_.size() == 1 && subfolders >= 2);
    openFolders_.pop_back();
}

void ItemWalk::visitEntries(int folder, const std::string& path, const std::string& name,
                            const std::vector<std::string>& entries, bool mayShare) {
    const auto sentNames = namesToSend(entries);
    if (!mayShare) {
        for (std::size_t i = 0; i < entries.size(); ++i) {
            visitEntry(folder, path, name, entries[i], sentNames[i]);
        }
        return;
    }
    // Each entry is walked whole by whichever thread takes it next, into a walk of its own
    // that starts below the same folders; the parts are then joined in listing order.
    std::vector<ItemWalk> parts(entries.size());
    std::atomic<std::size_t> next{0};
    const auto walkEntries = [&] {
        for (std::size_t i; (i = next.fetch_add(1, std::memory_order_relaxed)) < entries.size();) {
            parts[i].openFolders_ = openFolders_;
            parts[i].visitEntry(folder, path, name, entries[i], sentNames[i]);
        }
    };
    std::exception_ptr otherFailure;
    {
        std::jthread other;  // joined on leaving this block, also when this thread's walk throws
        try {
            other = std::jthread([&] {
                try {
                    walkEntries();
                } catch (...) {
                    otherFailure = std::current_exception();
                }
            });
        } catch (const std::system_error&) {
            // No thread to be had: this one walks them all.
        }
        walkEntries();
    }
    if (otherFailure) {
        std::rethrow_exception(otherFailure);
    }
    for (auto& part : parts) {
        std::move(part.items_.begin(), part.items_.end(), std::back_inserter(items_));
        std::move(part.skipped_.begin(), part.skipped_.end(), std::back_inserter(skipped_));
    }
}

void ItemWalk::visitEntry(int folder, const std::string& path, const std::string& name,
                          const std::string& entry, const std::string& sentName) {
    const std::string entryPath = stringByAppendingPathComponent(path, entry);
    visit(folder == AT_FDCWD ? Location{AT_FDCWD, entryPath} : Location{folder, entry}, entryPath,
          stringByAppendingPathComponent(name, sentName), sentName == entry ? "" : entry);
}

}  // namespace velto
