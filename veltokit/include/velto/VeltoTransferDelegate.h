#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "velto/Export.h"

namespace velto {

class VeltoTransfer;

// Reports of an outgoing transfer, on the transfer's queue.
class VELTO_EXPORT VeltoTransferDelegate {
  public:
    virtual ~VeltoTransferDelegate() = default;
    virtual void transferWithConnected(VeltoTransfer& transfer) = 0;
    virtual void transferWithFinished(VeltoTransfer& transfer) = 0;
    // Refused connection, a break before the end (a receiver that declined, too), a source
    // that changed under us, or cancel() (the transfer's outcome() tells); at most once, never
    // after finished.
    virtual void transferWithFailed(VeltoTransfer& transfer) = 0;
    virtual void transferWithProgress(VeltoTransfer& transfer, std::uint64_t itemCount,
                                      std::uint64_t itemFinished, std::uint64_t byteCount,
                                      std::uint64_t byteFinished) = 0;
    // The items whose own names on disk are not valid UTF-8, by the names they are sent under
    // (each stray byte written as %XX). Once, before any other report, and only when there are
    // such items.
    virtual void transferWithRenamedItems(VeltoTransfer& /*transfer*/,
                                          const std::vector<std::string>& /*names*/) {}
    // No byte moved for VeltoTransfer::waitingAfter seconds (true): the receiver is most
    // likely asking its user. False once bytes move again.
    virtual void transferWithWaiting(VeltoTransfer& /*transfer*/, bool /*waiting*/) {}
};

}  // namespace velto
