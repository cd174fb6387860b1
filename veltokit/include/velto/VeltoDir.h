#pragma once

#include <string>

#include "velto/Export.h"
#include "velto/VeltoItem.h"

namespace velto {

// A folder element: the folder marker as its size and no body.
class VELTO_EXPORT VeltoDir : public VeltoItem {
  public:
    VeltoDir(std::string path, std::string name)
        : VeltoItem(std::move(name), 0, folderMarker), path_(std::move(path)) {}

    const std::string& path() const { return path_; }

  private:
    std::string path_;
};

}  // namespace velto
