#pragma once

#include <boost/asio/ip/tcp.hpp>
#include <boost/beast/core/flat_buffer.hpp>
#include <boost/beast/core/tcp_stream.hpp>
#include <boost/beast/http/empty_body.hpp>
#include <boost/beast/http/message.hpp>
#include <boost/beast/http/parser.hpp>
#include <boost/beast/http/vector_body.hpp>
#include <memory>
#include <string>

#include "discovery/HttpAvatarFetcher.h"

namespace velto {

// One GET of a peer's picture; keeps itself alive through its pending operations.
class AvatarRequest : public std::enable_shared_from_this<AvatarRequest> {
  public:
    AvatarRequest(boost::asio::io_context& context, const HttpAvatarFetcher::Limits& limits,
                  AvatarFetcher::Completion completion);

    void start(const boost::asio::ip::tcp::endpoint& endpoint, const std::string& hostField);

  private:
    void onConnected(boost::system::error_code ec);
    void onWritten(boost::system::error_code ec);
    void onHead(boost::system::error_code ec);
    void onRead(boost::system::error_code ec);
    void finish(std::optional<AvatarResponse> response);
    // No picture: says why in a diagnostic line, then completes without a response.
    void giveUp(const std::string& reason);

    boost::beast::tcp_stream stream_;
    boost::beast::flat_buffer buffer_;
    boost::beast::http::request<boost::beast::http::empty_body> request_;
    boost::beast::http::response_parser<boost::beast::http::vector_body<std::uint8_t>> parser_;
    std::chrono::milliseconds timeout_;
    std::size_t maxBodyBytes_;
    AvatarFetcher::Completion completion_;
    std::string host_;  // for diagnostic lines
};

}  // namespace velto
