#pragma once

#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "velto/Bytes.h"

namespace velto {

// The metadata server's answer to one request: a function of the request path and the user's
// picture, callable without a socket.
class MetadataApplication {
  public:
    using PictureSource = std::function<std::optional<Bytes>()>;

    struct Response {
        std::string status;  // e.g. "200 OK"
        std::vector<std::pair<std::string, std::string>> headers;
        Bytes body;
        // A response without Content-Length ends when the connection closes.
        bool endsWithClose() const;
        // Status line, headers in order, blank line, body.
        Bytes wire() const;
    };

    static constexpr std::string_view avatarPath = "/velto/avatar";

    explicit MetadataApplication(PictureSource picture) : picture_(std::move(picture)) {}

    // The picture is asked for anew on every request: it may change while we run.
    Response respond(std::string_view path) const;

    // The request path as a gateway hands it to an application: the target without its query,
    // percent-decoded (kept as sent when decoding would not give UTF-8).
    static std::string pathInfo(std::string_view target);
    // The path in double quotes, with a backslash before every backslash and double quote, and
    // control characters written as escapes so the body stays one readable line.
    static std::string quoted(std::string_view path);

  private:
    PictureSource picture_;
};

}  // namespace velto
