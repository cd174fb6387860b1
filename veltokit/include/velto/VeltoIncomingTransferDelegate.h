#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "velto/Export.h"

namespace velto {

class VeltoIncomingTransfer;

// Reports of an incoming transfer, on the server's "incoming" queue.
class VELTO_EXPORT VeltoIncomingTransferDelegate {
  public:
    virtual ~VeltoIncomingTransferDelegate() = default;
    virtual void incomingTransferWithCreated(VeltoIncomingTransfer& transfer) = 0;
    virtual void incomingTransferWithFinished(VeltoIncomingTransfer& transfer) = 0;
    // A broken, refused, declined or cancelled stream (the transfer's outcome() tells which);
    // the partial data is gone. At most once, never after finished.
    virtual void incomingTransferWithFailed(VeltoIncomingTransfer& transfer) = 0;
    virtual void incomingTransferWithProgress(VeltoIncomingTransfer& transfer,
                                              std::uint64_t itemCount, std::uint64_t itemFinished,
                                              std::uint64_t byteCount, std::uint64_t byteFinished,
                                              const std::optional<std::string>& filename,
                                              const std::optional<std::string>& filepath) = 0;
    virtual void incomingTransferWithReceivedText(VeltoIncomingTransfer& transfer,
                                                  const std::string& text) = 0;
    virtual void incomingTransferWithReceivedFile(VeltoIncomingTransfer& transfer,
                                                  const std::string& path) = 0;
    // A connection from address closed before one byte was read, with the reason in words.
    // No transfer was created for it.
    virtual void incomingConnectionRefused(const std::string& /*address*/,
                                           const std::string& /*reason*/) {}
    // Files or folders wait for the user's answer before any byte of them is stored: the
    // sender's stream stands still until transfer.accept() or transfer.decline(), or until the
    // question's deadline declines it. itemCount and totalSize are the stream's, firstName the
    // first element's name as sent.
    virtual void incomingTransferWithQuestion(VeltoIncomingTransfer& /*transfer*/,
                                              std::uint64_t /*itemCount*/,
                                              std::uint64_t /*totalSize*/,
                                              const std::string& /*firstName*/) {}
};

}  // namespace velto
