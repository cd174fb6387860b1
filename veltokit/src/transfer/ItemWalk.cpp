#include "transfer/ItemWalk.h"

#include <dirent.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <memory>

#include "transfer/LastPathComponent.h"
#include "velto/PathHelpers.h"
#include "velto/VeltoDir.h"
#include "velto/VeltoFile.h"

namespace velto {
namespace {

struct DirCloser {
    void operator()(DIR* dir) const { ::closedir(dir); }
};

// The entry names of a folder in listing order, or false when it cannot be listed completely.
bool listFolder(const std::string& path, std::vector<std::string>& names, std::string& error) {
    std::unique_ptr<DIR, DirCloser> dir(::opendir(path.c_str()));
    if (!dir) {
        error = std::strerror(errno);
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
        }
    }
}

}  // namespace

ItemList ItemWalk::run(const std::vector<std::string>& paths) {
    for (const auto& path : paths) {
        visit(path, lastPathComponent(path));
    }
    return std::move(items_);
}

void ItemWalk::skip(const std::string& path, std::string reason) {
    skipped_.push_back({path, std::move(reason)});
}

void ItemWalk::visit(const std::string& path, const std::string& name) {
    struct stat info {};
    if (::stat(path.c_str(), &info) != 0) {
        struct stat link {};
        if (errno == ENOENT && ::lstat(path.c_str(), &link) != 0) {
            skip(path, "does not exist");
        } else if (errno == ENOENT) {
            skip(path, "is a link to nothing");
        } else {
            skip(path, std::string("cannot be read: ") + std::strerror(errno));
        }
        return;
    }
    if (S_ISDIR(info.st_mode)) {
        visitFolder(path, name, info.st_dev, info.st_ino);
        return;
    }
    if (!S_ISREG(info.st_mode)) {
        skip(path, "is neither a regular file nor a folder");
        return;
    }
    if (::access(path.c_str(), R_OK) != 0) {
        skip(path, std::string("cannot be read: ") + std::strerror(errno));
        return;
    }
    auto file = std::make_shared<VeltoFile>(path, name);
    if (!file->readFailure().empty()) {
        skip(path, file->readFailure());
        return;
    }
    items_.push_back(std::move(file));
}

void ItemWalk::visitFolder(const std::string& path, const std::string& name, dev_t device,
                           ino_t inode) {
    const auto self = std::make_pair(device, inode);
    if (std::find(openFolders_.begin(), openFolders_.end(), self) != openFolders_.end()) {
        skip(path, "leads back into a folder that contains it");
        return;
    }
    std::vector<std::string> entries;
    std::string error;
    if (!listFolder(path, entries, error)) {
        skip(path, "cannot be listed: " + error);
        return;
    }
    items_.push_back(std::make_shared<VeltoDir>(path, name));
    openFolders_.push_back(self);
    for (const auto& entry : entries) {
        visit(stringByAppendingPathComponent(path, entry),
              stringByAppendingPathComponent(name, entry));
    }
    openFolders_.pop_back();
}

}  // namespace velto
