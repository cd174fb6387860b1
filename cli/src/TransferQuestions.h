#pragma once

#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

#include "velto/DispatchQueue.h"
#include "velto/VeltoIncomingTransfer.h"

namespace velto::cli {

// The answers of "velto-cli receive" to incoming transfers, read as lines from a file
// descriptor (standard input): "accept KEY" and "decline KEY" answer a question, "cancel KEY"
// ends a transfer under way; on a terminal, "y" or "n" answers the oldest question still
// open. Once the input has closed, every question open then or later is declined.
class TransferQuestions {
  public:
    static constexpr std::size_t maxLine = 4096;

    // The running incoming transfer with a key, or null.
    using Lookup = std::function<std::shared_ptr<VeltoIncomingTransfer>(const std::string& key)>;

    // Answers that cannot wait for the input (it has closed) go out through queue, never from
    // inside the report that asked.
    TransferQuestions(int input, Lookup lookup, std::shared_ptr<DispatchQueue> queue);
    ~TransferQuestions();  // stops reading
    TransferQuestions(const TransferQuestions&) = delete;
    TransferQuestions& operator=(const TransferQuestions&) = delete;

    // Reads the input on a thread of its own until it closes or this object goes.
    void startReading();

    // The transfer with this key waits for its answer. Any thread.
    void ask(const std::string& key);
    // One line of input; false when it names no known transfer or means nothing.
    bool answer(const std::string& line);
    void inputClosed();

  private:
    void read();
    void declineLater(const std::string& key);

    int input_;
    Lookup lookup_;
    std::shared_ptr<DispatchQueue> queue_;
    int stopPipe_[2] = {-1, -1};
    std::thread reader_;
    std::mutex mutex_;
    std::deque<std::string> open_;  // keys of the questions not yet answered, oldest first
    bool closed_ = false;
};

}  // namespace velto::cli
