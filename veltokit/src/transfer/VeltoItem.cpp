#include "velto/VeltoItem.h"

#include "core/TemporaryUtilities.h"

namespace velto {

Bytes VeltoItem::header() const {
    Bytes bytes(name_.begin(), name_.end());
    bytes.push_back(0);
    temporary::appendLittleEndian64(bytes, protocolSize_);
    return bytes;
}

}  // namespace velto
