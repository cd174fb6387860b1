#pragma once

#include <deque>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

#include "velto/VeltoIncomingTransfer.h"

namespace velto::cli {

// The answers of "velto-cli receive" to incoming transfers, read as lines from a file
// descriptor (standard input): "accept KEY" and "decline KEY" answer a question, "cancel KEY"
// ends a transfer under way; on a terminal, "y" or "n" answers the oldest question still
// open. Once the input has closed, every question open then or later is declined.
class TransferQuestions {
  public:
    static constexpr std::size_t maxLine = 4096;

    explicit TransferQuestions(int input);
    ~TransferQuestions();  // stops reading
    TransferQuestions(const TransferQuestions&) = delete;
    TransferQuestions& operator=(const TransferQuestions&) = delete;

    // Reads the input on a thread of its own until it closes or this object goes.
    void startReading();

    // Any thread.
    void track(VeltoIncomingTransfer& transfer);  // may be cancelled from now on
    void ask(VeltoIncomingTransfer& transfer);    // waits for its answer
    // One line of input; false when it names no known transfer or means nothing.
    bool answer(const std::string& line);
    void inputClosed();

  private:
    void read();
    std::shared_ptr<VeltoIncomingTransfer> take(const std::string& key);

    int input_;
    int stopPipe_[2] = {-1, -1};
    std::thread reader_;
    std::mutex mutex_;
    std::map<std::string, std::weak_ptr<VeltoIncomingTransfer>> transfers_;
    std::deque<std::string> open_;  // keys of the questions not yet answered, oldest first
    bool closed_ = false;
};

}  // namespace velto::cli
