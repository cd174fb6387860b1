// Sends a text from one instance of the library to another on this host and prints what the
// receiver got. The receiver listens on other ports than the standard ones, so that both fit in
// one network namespace. Exit status 0 only when the text arrived unchanged.
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <memory>
#include <mutex>
#include <optional>
#include <string>

#include "velto/DispatchQueue.h"
#include "velto/VeltoIncomingTransferDelegate.h"
#include "velto/VeltoServer.h"
#include "velto/VeltoTransfer.h"
#include "velto/VeltoTransferDelegate.h"

namespace {

constexpr std::uint16_t receiverPort = 4654;

class ReceiverOnOtherPorts : public velto::VeltoServer {
  public:
    ReceiverOnOtherPorts() : VeltoServer(receiverPort, receiverPort) {}
};

// Waits for the first text received or the first failure, on either side.
class Outcome : public velto::VeltoIncomingTransferDelegate, public velto::VeltoTransferDelegate {
  public:
    std::optional<std::string> waitForText(std::chrono::seconds timeout) {
        std::unique_lock lock(mutex_);
        changed_.wait_for(lock, timeout, [this] { return text_ || failed_; });
        return text_;
    }

    void incomingTransferWithReceivedText(velto::VeltoIncomingTransfer&,
                                          const std::string& text) override {
        std::lock_guard lock(mutex_);
        text_ = text;
        changed_.notify_all();
    }
    void incomingTransferWithFailed(velto::VeltoIncomingTransfer&) override { fail("receiving"); }
    void transferWithFailed(velto::VeltoTransfer& transfer) override {
        fail("sending: " + transfer.failureReason());
    }

    void incomingTransferWithCreated(velto::VeltoIncomingTransfer&) override {}
    void incomingTransferWithFinished(velto::VeltoIncomingTransfer&) override {}
    void incomingTransferWithProgress(velto::VeltoIncomingTransfer&, std::uint64_t, std::uint64_t,
                                      std::uint64_t, std::uint64_t,
                                      const std::optional<std::string>&,
                                      const std::optional<std::string>&) override {}
    void incomingTransferWithReceivedFile(velto::VeltoIncomingTransfer&,
                                          const std::string&) override {}
    void transferWithConnected(velto::VeltoTransfer&) override {}
    void transferWithFinished(velto::VeltoTransfer&) override {}
    void transferWithProgress(velto::VeltoTransfer&, std::uint64_t, std::uint64_t, std::uint64_t,
                              std::uint64_t) override {}

  private:
    void fail(const std::string& what) {
        std::fprintf(stderr, "failed %s\n", what.c_str());
        std::lock_guard lock(mutex_);
        failed_ = true;
        changed_.notify_all();
    }

    std::mutex mutex_;
    std::condition_variable changed_;
    std::optional<std::string> text_;
    bool failed_ = false;
};

}  // namespace

int main(int argc, char** argv) {
    const std::string text = argc > 1 ? argv[1] : "hello from another instance";
    auto outcome = std::make_shared<Outcome>();

    auto receiver = std::make_shared<ReceiverOnOtherPorts>();
    receiver->setIncomingDelegate(outcome);
    receiver->startServer();
    auto sender = velto::VeltoServer::create();
    sender->startServer();

    const velto::VeltoPeer peer("receiver", "127.0.0.1", receiverPort, "", {});
    auto transfer = velto::VeltoTransfer::create(velto::VeltoTransfer::itemsForText(text), peer,
                                                 velto::DispatchQueue::create("outgoing"));
    transfer->setDelegate(outcome);
    transfer->setKey("send-text-example");
    sender->startTransfer(transfer);

    const auto received = outcome->waitForText(std::chrono::seconds(10));
    if (received != text) {
        std::fprintf(stderr, "the text did not arrive\n");
        return 1;
    }
    std::printf("received: %s\n", received->c_str());
    return 0;
}
