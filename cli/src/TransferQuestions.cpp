#include "TransferQuestions.h"

#include <poll.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <sstream>

namespace velto::cli {

TransferQuestions::TransferQuestions(int input, Lookup lookup, std::shared_ptr<DispatchQueue> queue)
    : input_(input), lookup_(std::move(lookup)), queue_(std::move(queue)) {
    if (::pipe(stopPipe_) != 0) {
        stopPipe_[0] = stopPipe_[1] = -1;
    }
}

TransferQuestions::~TransferQuestions() {
    if (reader_.joinable()) {
        const char stop = 0;
        [[maybe_unused]] const auto written = ::write(stopPipe_[1], &stop, 1);
        reader_.join();
    }
    for (const int fd : stopPipe_) {
        if (fd >= 0) {
            ::close(fd);
        }
    }
}

void TransferQuestions::startReading() {
    reader_ = std::thread([this] { read(); });
}

void TransferQuestions::read() {
    std::string pending;
    std::array<char, 4096> buffer{};
    for (;;) {
        std::array<pollfd, 2> watched{{{input_, POLLIN, 0}, {stopPipe_[0], POLLIN, 0}}};
        if (::poll(watched.data(), watched.size(), -1) < 0) {
            if (errno == EINTR) {
                continue;
            }
            break;
        }
        if (watched[1].revents != 0) {
            return;  // this object is going
        }
        const ssize_t count = ::read(input_, buffer.data(), buffer.size());
        if (count < 0 && errno == EINTR) {
            continue;
        }
        if (count <= 0) {
            break;
        }
        pending.append(buffer.data(), static_cast<std::size_t>(count));
        for (auto end = pending.find('\n'); end != std::string::npos; end = pending.find('\n')) {
            answer(pending.substr(0, end));
            pending.erase(0, end + 1);
        }
        if (pending.size() > maxLine) {
            pending.clear();  // no answer is that long
        }
    }
    inputClosed();
}

void TransferQuestions::ask(const std::string& key) {
    {
        std::lock_guard lock(mutex_);
        if (!closed_) {
            open_.push_back(key);
            return;
        }
    }
    declineLater(key);
}

void TransferQuestions::declineLater(const std::string& key) {
    queue_->async([lookup = lookup_, key] {
        if (const auto transfer = lookup(key)) {
            transfer->decline();
        }
    });
}

bool TransferQuestions::answer(const std::string& line) {
    std::istringstream words(line);
    std::string verb, key;
    words >> verb >> key;
    if (key.empty() && (verb == "y" || verb == "yes" || verb == "n" || verb == "no")) {
        std::lock_guard lock(mutex_);
        if (open_.empty()) {
            return false;
        }
        key = open_.front();
        verb = verb.front() == 'y' ? "accept" : "decline";
    }
    if (verb != "accept" && verb != "decline" && verb != "cancel") {
        return false;
    }
    {
        std::lock_guard lock(mutex_);
        std::erase(open_, key);
    }
    const auto transfer = lookup_(key);
    if (!transfer) {
        return false;
    }
    if (verb == "accept") {
        transfer->accept();
    } else if (verb == "decline") {
        transfer->decline();
    } else {
        transfer->cancel();
    }
    return true;
}

void TransferQuestions::inputClosed() {
    std::deque<std::string> open;
    {
        std::lock_guard lock(mutex_);
        closed_ = true;
        open.swap(open_);
    }
    for (const auto& key : open) {
        declineLater(key);
    }
}

}  // namespace velto::cli
