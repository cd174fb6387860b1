#pragma once

#include <chrono>
#include <string>

namespace velto {

// Names of the folders and files a received transfer takes in Downloads.
class StorageNames {
  public:
    static constexpr const char* intermediatePrefix = ".VeltoTransferIntermediateStorage";

    // ".VeltoTransferIntermediateStorage" + yyyyMMddhhmmss (12-hour clock) + random.
    static std::string intermediateFolder(std::chrono::system_clock::time_point startTime,
                                          const std::string& random);
    // "Received by Velto at yyyy-MM-dd hh-mm", cleaned of characters unsafe in a name.
    static std::string datedFolder(std::chrono::system_clock::time_point startTime);

    // The name a single received item is published under: its own, except that a name the
    // next start would take for a leftover intermediate folder loses its leading dot.
    static std::string itemName(const std::string& name);
    // The n-th choice (n >= 2) for a single received item: "photo (3).jpg", "README (2)",
    // ".profile (2)", "archive.tar (2).gz", "my (2).project".
    static std::string numberedItem(const std::string& name, unsigned number);
    // The n-th choice for the dated folder: "<folder> (2)".
    static std::string numberedFolder(const std::string& folder, unsigned number);
};

}  // namespace velto
