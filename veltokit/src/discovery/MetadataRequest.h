#pragma once

#include <boost/beast/http/empty_body.hpp>
#include <boost/beast/http/parser.hpp>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "discovery/MetadataApplication.h"

namespace velto {

// The request side of the metadata server: the head of one HTTP request, read with the
// sessions' limits, and the application's answer to it. Works on bytes alone, so that what the
// network may send can be tested without a socket.
class MetadataRequest {
  public:
    using Parser = boost::beast::http::request_parser<boost::beast::http::empty_body>;
    static constexpr std::uint32_t headerLimit = 16 * 1024;

    // Applies the sessions' limits to a fresh parser.
    static void configure(Parser& parser);

    // The answer to the request whose head the parser has read.
    static MetadataApplication::Response answer(const MetadataApplication& application,
                                                const Parser& parser);

    // The answer to the request at the start of bytes; nothing, with the reason, when they do
    // not begin with a whole, well-formed request head within the limits.
    static std::optional<MetadataApplication::Response> answer(
        const MetadataApplication& application, std::string_view bytes, std::string& refusal);
};

}  // namespace velto
