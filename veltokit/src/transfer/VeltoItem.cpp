#include "velto/VeltoItem.h"

#include "velto/BinUtils.h"

namespace velto {

Bytes VeltoItem::header() const {
    Bytes bytes(name_.begin(), name_.end());
    bytes.push_back(0);
    appendLittleEndianUInt64(bytes, protocolSize_);
    return bytes;
}

}  // namespace velto
