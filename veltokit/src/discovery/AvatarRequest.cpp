#include "discovery/AvatarRequest.h"

#include <boost/beast/http/read.hpp>
#include <boost/beast/http/write.hpp>

#include "discovery/MetadataApplication.h"
#include "velto/Diagnostics.h"

namespace velto {

namespace beast = boost::beast;
namespace http = beast::http;

AvatarRequest::AvatarRequest(boost::asio::io_context& context,
                             const HttpAvatarFetcher::Limits& limits,
                             AvatarFetcher::Completion completion)
    : stream_(context),
      timeout_(limits.timeout),
      maxBodyBytes_(limits.maxBodyBytes),
      completion_(std::move(completion)) {
    parser_.body_limit(limits.maxBodyBytes);
}

void AvatarRequest::start(const boost::asio::ip::tcp::endpoint& endpoint,
                          const std::string& hostField) {
    request_.method(http::verb::get);
    request_.target(std::string(MetadataApplication::avatarPath));
    request_.version(11);
    request_.set(http::field::host, hostField);
    request_.set(http::field::connection, "close");
    host_ = hostField;
    // One deadline for the whole exchange, not one per step.
    stream_.expires_after(timeout_);
    stream_.async_connect(
        endpoint, [self = shared_from_this()](beast::error_code ec) { self->onConnected(ec); });
}

void AvatarRequest::onConnected(beast::error_code ec) {
    if (ec) {
        giveUp(ec.message());
        return;
    }
    http::async_write(stream_, request_,
                      [self = shared_from_this()](beast::error_code writeError, std::size_t) {
                          self->onWritten(writeError);
                      });
}

void AvatarRequest::onWritten(beast::error_code ec) {
    if (ec) {
        giveUp(ec.message());
        return;
    }
    http::async_read_header(stream_, buffer_, parser_,
                            [self = shared_from_this()](beast::error_code readError, std::size_t) {
                                self->onHead(readError);
                            });
}

void AvatarRequest::onHead(beast::error_code ec) {
    // The parser's own limit check on a declared length is skipped when it reads eagerly, so
    // the declared length is checked here, before any of the body is read.
    if (ec) {
        giveUp(ec.message());
        return;
    }
    if (parser_.content_length().value_or(0) > maxBodyBytes_) {
        giveUp("a picture of " + std::to_string(*parser_.content_length()) + " bytes announced");
        return;
    }
    http::async_read(stream_, buffer_, parser_,
                     [self = shared_from_this()](beast::error_code readError, std::size_t) {
                         self->onRead(readError);
                     });
}

void AvatarRequest::onRead(beast::error_code ec) {
    if (ec) {
        giveUp(ec.message());
        return;
    }
    auto message = parser_.release();
    finish(AvatarResponse{message.result_int(), std::move(message.body())});
}

void AvatarRequest::giveUp(const std::string& reason) {
    diagnostic("Avatar fetch from", host_, "failed:", reason);
    finish(std::nullopt);
}

void AvatarRequest::finish(std::optional<AvatarResponse> response) {
    beast::error_code ignored;
    stream_.socket().shutdown(boost::asio::ip::tcp::socket::shutdown_both, ignored);
    stream_.close();
    auto completion = std::move(completion_);
    completion(std::move(response));
}

}  // namespace velto
