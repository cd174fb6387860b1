#include "discovery/MetadataSession.h"

#include <boost/asio/write.hpp>
#include <boost/beast/http/read.hpp>

namespace velto {

namespace asio = boost::asio;
namespace beast = boost::beast;
namespace http = beast::http;

namespace {
constexpr std::uint32_t headerLimit = 16 * 1024;
}

MetadataSession::MetadataSession(asio::ip::tcp::socket socket,
                                 std::shared_ptr<const MetadataApplication> application,
                                 MetadataServer::Limits limits)
    : stream_(std::move(socket)), application_(std::move(application)), limits_(limits) {
    parser_.header_limit(headerLimit);
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
        closeGracefully();
        return;
    }
    const auto target = parser_.get().target();
    const auto response =
        application_->respond(MetadataApplication::pathInfo({target.data(), target.size()}));
    reply_ = response.wire();
    stream_.expires_after(limits_.requestTimeout);  // a fresh deadline for sending the reply
    asio::async_write(stream_, asio::buffer(reply_),
                      [self = shared_from_this()](beast::error_code writeError, std::size_t) {
                          self->onReplyWritten(writeError);
                      });
}

void MetadataSession::onReplyWritten(beast::error_code ec) {
    if (ec) {
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
