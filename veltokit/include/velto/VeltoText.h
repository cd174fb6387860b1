#pragma once

#include <string>

#include "velto/Export.h"
#include "velto/VeltoItem.h"

namespace velto {

// The one text of a text transfer, sent under the fixed marker name as a single chunk.
class VELTO_EXPORT VeltoText : public VeltoItem {
  public:
    static constexpr const char* markerName = "___VELTO___TEXT___";

    explicit VeltoText(const std::string& text)
        : VeltoItem(markerName, text.size(), text.size()), buffer_(bytesOf(text)) {}

    Bytes nextChunk() override { return buffer_; }

  private:
    Bytes buffer_;
};

}  // namespace velto
