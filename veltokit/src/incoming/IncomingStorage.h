#pragma once

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>

#include "core/UniqueFd.h"
#include "velto/Bytes.h"

namespace velto {

// Where one incoming transfer puts what it receives: a hidden intermediate folder in the
// destination folder, created with the first folder or file and locked while in use, and the
// publication of its content into the destination without ever replacing anything there.
// Every operation answers false with a reason in error when the file system refuses it.
class IncomingStorage {
  public:
    // The folder the last file went into: files arrive folder by folder, and creating one by
    // its name in an open folder saves the lookup of every folder above it. One per thread.
    struct OpenFolder {
        std::string relative;
        UniqueFd fd;
    };

    IncomingStorage(std::string basePath, std::chrono::system_clock::time_point startTime);
    ~IncomingStorage();  // removes an unpublished intermediate folder
    IncomingStorage(const IncomingStorage&) = delete;
    IncomingStorage& operator=(const IncomingStorage&) = delete;

    const std::string& basePath() const { return basePath_; }
    const std::string& intermediatePath() const { return intermediatePath_; }
    bool hasIntermediateFolder() const { return static_cast<bool>(folderLock_); }

    // Whether the destination's file system can take this many bytes and entries.
    bool checkRoom(std::uint64_t bytes, std::uint64_t entries, std::string& error) const;

    // relative has been cleaned (ElementName): no empty, "." or ".." components.
    bool prepareFolder(const std::string& relative, std::string& error);
    // Makes the intermediate folder, which storeFile needs.
    bool prepareStore(std::string& error) { return ensureIntermediateFolder(error); }
    bool prepareFile(const std::string& relative, std::string& error);
    bool write(const std::uint8_t* bytes, std::size_t length, std::string& error);
    bool write(const Bytes& chunk, std::string& error) {
        return write(chunk.data(), chunk.size(), error);
    }
    bool closeFile(std::string& error);
    int fileDescriptor() const { return file_.get(); }  // of the file being received
    // Creates, writes and closes a whole file, replacing one of the same name; safe on several
    // threads at once, each with its own folder, from prepareStore until publish or discard.
    bool storeFile(const std::string& relative, const std::uint8_t* bytes, std::size_t length,
                   OpenFolder& folder, std::string& error) const;

    // Moves the result into the destination: a single entry under its own name, several as
    // the dated folder, each numbered on a clash. publishedPath stays empty when nothing was
    // stored.
    bool publish(std::optional<std::string>& publishedPath, std::string& error);
    // Closes the file and removes the intermediate folder with everything in it.
    void discard();

    // Removes intermediate folders that no running transfer holds (left by a crash); returns
    // how many.
    static std::size_t removeLeftovers(const std::string& basePath);

  private:
    bool ensureIntermediateFolder(std::string& error);
    // Creates the folder with its missing parents; errno tells why not.
    bool makeFolder(const std::string& relative) const;
    // The open folder a file at relative goes into, made where missing; -1 with errno set.
    int folderFor(const std::string& relative, OpenFolder& last) const;
    // Opens relative for writing from its start, made where missing; -1 with errno set.
    int openFile(const std::string& relative, OpenFolder& last) const;
    static bool writeAll(int fd, const std::uint8_t* bytes, std::size_t length, std::string& error);
    std::string pathOf(const std::string& relative) const;

    std::string basePath_;
    std::chrono::system_clock::time_point startTime_;
    std::string intermediatePath_;
    UniqueFd folderLock_;  // open and locked while the intermediate folder is ours
    UniqueFd file_;
    OpenFolder lastFolder_;  // of the connection's own thread
};

}  // namespace velto
