#include "net/TcpListenerCore.h"

#include "core/DispatchQueueContext.h"
#include "net/AsyncTcpSocketImpl.h"
#include "velto/Diagnostics.h"

namespace velto {

namespace {

// After a failed accept (no descriptors left, say) wait a little instead of spinning.
constexpr double kAcceptRetrySeconds = 0.1;

}  // namespace

TcpListenerCore::TcpListenerCore(std::shared_ptr<DispatchQueue> queue,
                                 std::weak_ptr<TcpListenerDelegate> delegate)
    : queue_(std::move(queue)),
      delegate_(std::move(delegate)),
      acceptor_(ioContextOf(*queue_)),
      retryTimer_(ioContextOf(*queue_)) {}

bool TcpListenerCore::acceptOnPort(std::uint16_t port, std::string* error) {
    if (acceptor_.is_open()) {
        if (error != nullptr) {
            *error = "The listener is already accepting";
        }
        return false;
    }
    namespace ip = boost::asio::ip;
    boost::system::error_code failure;
    acceptor_.open(ip::tcp::v4(), failure);
    if (!failure) {
        // Lets a restarted program take its port back from connections still in TIME_WAIT; a
        // port another program listens on stays refused.
        acceptor_.set_option(ip::tcp::acceptor::reuse_address(true), failure);
    }
    if (!failure) {
        acceptor_.bind(ip::tcp::endpoint(ip::address_v4::any(), port), failure);
    }
    if (!failure) {
        acceptor_.listen(boost::asio::socket_base::max_listen_connections, failure);
    }
    if (failure) {
        boost::system::error_code ignored;
        acceptor_.close(ignored);
        if (error != nullptr) {
            *error = "Cannot accept on TCP port " + std::to_string(port) + ": " + failure.message();
        }
        return false;
    }
    port_ = acceptor_.local_endpoint(failure).port();
    acceptNext();
    return true;
}

void TcpListenerCore::close() {
    boost::system::error_code ignored;
    acceptor_.close(ignored);
    retryTimer_.cancel();
}

void TcpListenerCore::acceptNext() {
    if (!acceptor_.is_open()) {
        return;
    }
    acceptor_.async_accept([self = shared_from_this()](const boost::system::error_code& error,
                                                       boost::asio::ip::tcp::socket socket) {
        self->onAccepted(error, std::move(socket));
    });
}

void TcpListenerCore::onAccepted(const boost::system::error_code& error,
                                 boost::asio::ip::tcp::socket socket) {
    if (!acceptor_.is_open()) {
        return;
    }
    if (error) {
        diagnostic("accept failed:", error.message());
        retryTimer_.start(kAcceptRetrySeconds, [self = shared_from_this()] { self->acceptNext(); });
        return;
    }
    auto connection = AsyncTcpSocketImpl::make(
        std::make_shared<TcpSocketCore>(queue_, std::move(socket)), queue_);
    const auto handle = handle_.lock();
    const auto delegate = delegate_.lock();
    if (handle && delegate) {
        delegate->socketDidAcceptNewSocket(*handle, std::move(connection));
    }
    acceptNext();
}

}  // namespace velto
