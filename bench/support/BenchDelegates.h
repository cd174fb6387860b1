#pragma once

#include <cstdint>
#include <future>
#include <optional>
#include <string>

#include "velto/VeltoIncomingTransferDelegate.h"
#include "velto/VeltoTransferDelegate.h"

namespace velto::bench {

// Takes the reports a benchmark runs through and tells the waiting thread how it ended: the
// published path (empty for a text), or nothing when the transfer failed.
class IncomingOutcome : public VeltoIncomingTransferDelegate {
  public:
    std::future<std::optional<std::string>> outcome() { return promise_.get_future(); }
    std::uint64_t progressReports() const { return progressReports_; }

    void incomingTransferWithCreated(VeltoIncomingTransfer&) override {}
    void incomingTransferWithFinished(VeltoIncomingTransfer&) override {
        promise_.set_value(published_);
    }
    void incomingTransferWithFailed(VeltoIncomingTransfer&) override {
        promise_.set_value(std::nullopt);
    }
    void incomingTransferWithProgress(VeltoIncomingTransfer&, std::uint64_t, std::uint64_t,
                                      std::uint64_t, std::uint64_t,
                                      const std::optional<std::string>&,
                                      const std::optional<std::string>&) override {
        ++progressReports_;
    }
    void incomingTransferWithReceivedText(VeltoIncomingTransfer&, const std::string&) override {}
    void incomingTransferWithReceivedFile(VeltoIncomingTransfer&,
                                          const std::string& path) override {
        published_ = path;
    }

  private:
    std::promise<std::optional<std::string>> promise_;
    std::string published_;
    std::uint64_t progressReports_ = 0;
};

class OutgoingOutcome : public VeltoTransferDelegate {
  public:
    std::future<bool> outcome() { return promise_.get_future(); }
    std::uint64_t progressReports() const { return progressReports_; }

    void transferWithConnected(VeltoTransfer&) override {}
    void transferWithFinished(VeltoTransfer&) override { promise_.set_value(true); }
    void transferWithFailed(VeltoTransfer&) override { promise_.set_value(false); }
    void transferWithProgress(VeltoTransfer&, std::uint64_t, std::uint64_t, std::uint64_t,
                              std::uint64_t) override {
        ++progressReports_;
    }

  private:
    std::promise<bool> promise_;
    std::uint64_t progressReports_ = 0;
};

}  // namespace velto::bench
