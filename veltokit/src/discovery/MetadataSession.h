#pragma once

#include <array>
#include <boost/asio/ip/tcp.hpp>
#include <boost/beast/core/flat_buffer.hpp>
#include <boost/beast/core/tcp_stream.hpp>
#include <memory>
#include <string>

#include "discovery/MetadataApplication.h"
#include "discovery/MetadataRequest.h"
#include "discovery/MetadataServer.h"

namespace velto {

// One connection to the metadata server: read a request head, answer it, close. The answer
// to every request closes the connection, which is what ends a response that carries no
// Content-Length. The request body, if any, is never read: the method does not matter.
class MetadataSession : public std::enable_shared_from_this<MetadataSession> {
  public:
    MetadataSession(boost::asio::ip::tcp::socket socket,
                    std::shared_ptr<const MetadataApplication> application,
                    MetadataServer::Limits limits);

    void start();

  private:
    void onRequestHead(boost::system::error_code ec);
    void onReplyWritten(boost::system::error_code ec);
    // Shuts our half, then reads until the client closes: closing with unread bytes would
    // reset the connection and could destroy the reply before the client reads it.
    void closeGracefully();
    void drain();

    boost::beast::tcp_stream stream_;
    std::string remoteAddress_;  // for diagnostic lines, also once the connection is gone
    std::shared_ptr<const MetadataApplication> application_;
    MetadataServer::Limits limits_;
    boost::beast::flat_buffer buffer_;
    MetadataRequest::Parser parser_;
    Bytes reply_;
    std::array<char, 4096> discard_{};
};

}  // namespace velto
