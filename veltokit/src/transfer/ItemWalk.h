#pragma once

#include <sys/types.h>

#include <string>
#include <utility>
#include <vector>

#include "velto/VeltoTransfer.h"

namespace velto {

// Builds the element list for chosen paths: depth-first, a folder before its entries, entries
// in listing order, names relative to the parent of the chosen item. Links are followed; a
// folder that is already being walked further up (a link cycle) is not entered again. What
// cannot be sent faithfully is left out here, before anything goes on the wire. A name that is
// not valid UTF-8 never goes on the wire: its item goes under a form of it with each stray byte
// written as %XX, numbered when that meets the name of a sibling, and records its name on
// disk. The entries of a chosen folder that holds further folders are walked by two threads,
// their items then put back in listing order: a large tree is mostly system calls per entry.
class ItemWalk {
  public:
    ItemList run(const std::vector<std::string>& paths);
    const std::vector<SkippedPath>& skipped() const { return skipped_; }

  private:
    static constexpr std::size_t maxOpenFolders = 64;  // per walking thread

    // An entry as the system is asked about it: a name inside an open folder, or a path
    // (folder AT_FDCWD).
    struct Location {
        int folder;
        std::string entry;
    };

    void visit(const Location& at, const std::string& path, const std::string& name,
               const std::string& nameOnDisk);
    void visitFolder(const Location& at, const std::string& path, const std::string& name,
                     dev_t device, ino_t inode, const std::string& nameOnDisk);
    // Visits the entries of an open folder in order, on this thread or shared with another.
    void visitEntries(int folder, const std::string& path, const std::string& name,
                      const std::vector<std::string>& entries, bool mayShare);
    void visitEntry(int folder, const std::string& path, const std::string& name,
                    const std::string& entry, const std::string& sentName);
    void add(std::shared_ptr<VeltoItem> item, const std::string& nameOnDisk);
    void skip(const std::string& path, std::string reason);

    ItemList items_;
    std::vector<SkippedPath> skipped_;
    std::vector<std::pair<dev_t, ino_t>> openFolders_;  // the folders on the current walk path
};

}  // namespace velto
