#include "discovery/MetadataServer.h"

#include "discovery/MetadataSession.h"
#include "velto/Diagnostics.h"

namespace velto {

namespace asio = boost::asio;
using asio::ip::tcp;

MetadataServer::MetadataServer(std::uint16_t port, MetadataApplication application, Limits limits)
    : port_(port),
      limits_(limits),
      application_(std::make_shared<const MetadataApplication>(std::move(application))),
      acceptor_(context_),
      retryTimer_(context_) {}

MetadataServer::~MetadataServer() {
    context_.stop();
    if (thread_.joinable()) {
        thread_.join();
    }
}

bool MetadataServer::listen(std::string* error) {
    boost::system::error_code ec;
    const tcp::endpoint endpoint(asio::ip::address_v4::any(), port_);
    acceptor_.open(endpoint.protocol(), ec);
    if (!ec) {
        acceptor_.set_option(tcp::acceptor::reuse_address(true), ec);
    }
    if (!ec) {
        acceptor_.bind(endpoint, ec);
    }
    if (!ec) {
        acceptor_.listen(asio::socket_base::max_listen_connections, ec);
    }
    if (ec) {
        if (error != nullptr) {
            *error = ec.message();
        }
        acceptor_.close(ec);
        return false;
    }
    return true;
}

void MetadataServer::run() {
    if (thread_.joinable() || !acceptor_.is_open()) {
        return;
    }
    acceptNext();
    thread_ = std::thread([this] { context_.run(); });
}

std::uint16_t MetadataServer::localPort() const {
    boost::system::error_code ec;
    const auto endpoint = acceptor_.local_endpoint(ec);
    return ec ? 0 : endpoint.port();
}

void MetadataServer::acceptNext() {
    acceptor_.async_accept([this](boost::system::error_code ec, tcp::socket socket) {
        if (ec == asio::error::operation_aborted) {
            return;
        }
        if (ec) {
            // Out of descriptors or similar: try again shortly rather than spin.
            diagnostic("metadata server accept failed:", ec.message());
            retryTimer_.expires_after(std::chrono::milliseconds(100));
            retryTimer_.async_wait([this](boost::system::error_code timerError) {
                if (!timerError) {
                    acceptNext();
                }
            });
            return;
        }
        std::make_shared<MetadataSession>(std::move(socket), application_, limits_)->start();
        acceptNext();
    });
}

}  // namespace velto
