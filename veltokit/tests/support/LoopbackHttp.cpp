#include "support/LoopbackHttp.h"

#include <sys/socket.h>
#include <sys/time.h>

#include <boost/asio/read.hpp>
#include <boost/asio/read_until.hpp>
#include <boost/asio/streambuf.hpp>
#include <boost/asio/write.hpp>

namespace velto::test {

namespace asio = boost::asio;
using asio::ip::tcp;

namespace {

void limitReceiveWait(tcp::socket& socket) {
    timeval limit{5, 0};
    setsockopt(socket.native_handle(), SOL_SOCKET, SO_RCVTIMEO, &limit, sizeof limit);
}

const tcp::endpoint loopback(asio::ip::address_v4::loopback(), 0);

}  // namespace

CannedHttpPeer::CannedHttpPeer(std::optional<std::string> answer)
    : acceptor_(context_, loopback), headFuture_(head_.get_future()) {
    port_ = acceptor_.local_endpoint().port();
    thread_ = std::thread([this, answer = std::move(answer), released = release_.get_future()] {
        boost::system::error_code ec;
        tcp::socket socket(context_);
        acceptor_.accept(socket, ec);
        if (ec) {
            head_.set_value("");
            return;
        }
        limitReceiveWait(socket);
        asio::streambuf buffer;
        const std::size_t length = asio::read_until(socket, buffer, "\r\n\r\n", ec);
        head_.set_value(ec ? ""
                           : std::string(asio::buffers_begin(buffer.data()),
                                         asio::buffers_begin(buffer.data()) +
                                             static_cast<std::ptrdiff_t>(length)));
        if (answer) {
            asio::write(socket, asio::buffer(*answer), ec);
            socket.shutdown(tcp::socket::shutdown_send, ec);
        }
        released.wait();
    });
}

CannedHttpPeer::~CannedHttpPeer() {
    release_.set_value();
    // Unblocks an accept that never came; otherwise it waits harmlessly in the backlog.
    boost::system::error_code ec;
    tcp::socket nudge(context_);
    nudge.connect({asio::ip::address_v4::loopback(), port_}, ec);
    thread_.join();
}

std::string CannedHttpPeer::requestHead() {
    return headFuture_.get();
}

std::string exchangeRaw(std::uint16_t port, const std::string& request) {
    asio::io_context context;
    tcp::socket socket(context);
    socket.connect({asio::ip::address_v4::loopback(), port});
    limitReceiveWait(socket);
    asio::write(socket, asio::buffer(request));
    std::string reply;
    boost::system::error_code ec;
    asio::read(socket, asio::dynamic_buffer(reply), ec);
    return reply;
}

std::uint16_t unusedTcpPort() {
    asio::io_context context;
    tcp::acceptor acceptor(context, loopback);
    return acceptor.local_endpoint().port();
}

}  // namespace velto::test
