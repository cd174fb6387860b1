#include "discovery/MetadataRequest.h"

#include <boost/asio/buffer.hpp>
#include <boost/beast/http/error.hpp>

namespace velto {

void MetadataRequest::configure(Parser& parser) {
    parser.header_limit(headerLimit);
}

MetadataApplication::Response MetadataRequest::answer(const MetadataApplication& application,
                                                      const Parser& parser) {
    const auto target = parser.get().target();
    return application.respond(MetadataApplication::pathInfo({target.data(), target.size()}));
}

std::optional<MetadataApplication::Response> MetadataRequest::answer(
    const MetadataApplication& application, std::string_view bytes, std::string& refusal) {
    Parser parser;
    configure(parser);
    for (;;) {
        boost::beast::error_code ec;
        const std::size_t used = parser.put(boost::asio::buffer(bytes.data(), bytes.size()), ec);
        bytes.remove_prefix(used);
        if (parser.is_header_done()) {
            break;
        }
        if (ec && ec != boost::beast::http::error::need_more) {
            refusal = ec.message();
            return std::nullopt;
        }
        if (used == 0) {
            refusal = "incomplete request head";
            return std::nullopt;
        }
    }
    return answer(application, parser);
}

}  // namespace velto
