#pragma once

#include <boost/asio/io_context.hpp>

#include "velto/DispatchQueue.h"

namespace velto {

// The event loop behind a queue, for the sockets and timers of the library: what is made on it
// calls back on the queue's thread.
class DispatchQueueContext {
  public:
    static boost::asio::io_context& of(DispatchQueue& queue);
};

inline boost::asio::io_context& ioContextOf(DispatchQueue& queue) {
    return DispatchQueueContext::of(queue);
}

}  // namespace velto
