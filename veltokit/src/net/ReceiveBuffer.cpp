#include "net/ReceiveBuffer.h"

#include <algorithm>
#include <cstring>

namespace velto {

void ReceiveBuffer::consume(std::size_t count) {
    begin_ += std::min(count, size());
    if (begin_ == end_) {
        begin_ = end_ = 0;
    }
}

boost::asio::mutable_buffer ReceiveBuffer::freeSpace() {
    if (storage_.size() != capacity_) {
        storage_.resize(capacity_);
    }
    if (begin_ > 0) {
        std::memmove(storage_.data(), storage_.data() + begin_, size());
        end_ -= begin_;
        begin_ = 0;
    }
    return boost::asio::buffer(storage_.data() + end_, capacity_ - end_);
}

void ReceiveBuffer::commit(std::size_t count) {
    end_ = std::min(end_ + count, capacity_);
}

void ReceiveBuffer::clear() {
    begin_ = end_ = 0;
}

}  // namespace velto
