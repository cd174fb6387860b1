#include "discovery/MetadataSession.h"

#include <boost/asio/write.hpp>
#include <boost/beast/http/read.hpp>

#include "velto/Diagnostics.h"

namespace velto {

namespace asio = boost::asio;
namespace beast = boost::beast;
namespace http = beast::http;

MetadataSession::MetadataSession(asio::ip::tcp::socket socket,
                                 std::shared_ptr<const MetadataApplication> application,
                                 MetadataServer::Limits limits)
    : stream_(std::move(socket)), application_(std::move(application)), limits_(limits) {
    beast::error_code ec;
    const auto remote = stream_.socket().remote_endpoint(ec);
    remoteAddress_ = ec ? std::string("an unknown address") : remote.address().to_string();
    MetadataRequest::configure(parser_);
}

void MetadataSession::start() {
    stream_.expires_after(limits_.requestTimeout);
    http::async_read_header(stream_, buffer_, parser_,
                            [self = shared_from_this()](beast::error_code ec, std::size_t) {
                                self->onRequestHead(ec);
                            });
}

void MetadataSession::onRequestHead(beast::error_code ec) {
    if (ec) {
        // Not HTTP, too large, or too slow: nothing sensible to answer.
        diagnostic("Metadata request refused from", remoteAddress_ + ":", ec.message());
        closeGracefully();
        return;
    }
    reply_ = MetadataRequest::answer(*application_, parser_).wire();
    stream_.expires_after(limits_.requestTimeout);  // a fresh deadline for sending the reply
    asio::async_write(stream_, asio::buffer(reply_),
                      [self = shared_from_this()](beast::error_code writeError, std::size_t) {
                          self->onReplyWritten(writeError);
                      });
}

void MetadataSession::onReplyWritten(beast::error_code ec) {
    if (ec) {
        diagnostic("Metadata reply to", remoteAddress_, "abandoned:", ec.message());
        stream_.close();
        return;
    }
    closeGracefully();
}

void MetadataSession::closeGracefully() {
    beast::error_code ignored;
    stream_.socket().shutdown(asio::ip::tcp::socket::shutdown_send, ignored);
    stream_.expires_after(limits_.lingerTimeout);
    drain();
}

void MetadataSession::drain() {
    stream_.async_read_some(asio::buffer(discard_),
                            [self = shared_from_this()](beast::error_code ec, std::size_t) {
                                if (ec) {
                                    self->stream_.close();
                                    return;
                                }
                                self->drain();
                            });
}

}  // namespace velto
