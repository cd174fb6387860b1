// The metadata server's answer to any bytes a client may send: a refusal, or one of its three
// responses, well formed, with the picture exactly when the path is the avatar's and a picture
// exists.
#include <string>
#include <string_view>

#include "discovery/MetadataRequest.h"
#include "support/FuzzInput.h"

using velto::fuzz::require;

namespace {

const velto::Bytes picture{0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
constexpr std::string_view nothingHere =
    "This is a Velto metadata server. There is nothing implemented for \"";

bool hasLineBreak(std::string_view text) {
    return text.find_first_of("\r\n") != std::string_view::npos;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    velto::fuzz::silenceDiagnostics();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    velto::fuzz::FuzzInput input(data, size);
    const bool hasPicture = (input.byte() & 1) != 0;
    const velto::Bytes request = input.rest();
    const velto::MetadataApplication application([&]() -> std::optional<velto::Bytes> {
        if (hasPicture) {
            return picture;
        }
        return std::nullopt;
    });

    std::string refusal;
    const auto response = velto::MetadataRequest::answer(
        application,
        std::string_view(reinterpret_cast<const char*>(request.data()), request.size()), refusal);
    if (!response) {
        require(!refusal.empty(), "a refusal says why");
        return 0;
    }

    require(
        !response->headers.empty() &&
            response->headers.front() == std::pair<std::string, std::string>("Server", "Velto/1.0"),
        "every response names the server first");
    for (const auto& [name, value] : response->headers) {
        require(!hasLineBreak(name) && !hasLineBreak(value), "headers stay on their lines");
    }
    const std::string body = velto::textOf(response->body);
    if (response->status == "200 OK") {
        require(hasPicture && response->body == picture, "the picture only when there is one");
        require(response->headers.size() == 3 &&
                    response->headers[2].second == std::to_string(picture.size()),
                "the picture's length is announced");
    } else if (response->status == "404 Not Found") {
        require(!hasPicture && body == "Avatar is unavailable.", "404 only without a picture");
    } else {
        require(response->status == "400 Bad Request", "one of the three statuses");
        require(body.rfind(nothingHere, 0) == 0 && body.size() >= nothingHere.size() + 2 &&
                    body.substr(body.size() - 2) == "\".",
                "400 names the path in quotes");
        require(!hasLineBreak(body), "the quoted path stays on one line");
    }
    return 0;
}
