#include "discovery/MetadataApplication.h"

#include <cstdio>

#include "core/Utf8.h"

namespace velto {
namespace {

constexpr std::string_view serverName = "Velto/1.0";
constexpr std::string_view unavailableText = "Avatar is unavailable.";
constexpr std::string_view nothingHereText =
    "This is a Velto metadata server. There is nothing implemented for ";

int hexValue(char c) {
    if (c >= '0' && c <= '9') {
        return c - '0';
    }
    if (c >= 'a' && c <= 'f') {
        return c - 'a' + 10;
    }
    if (c >= 'A' && c <= 'F') {
        return c - 'A' + 10;
    }
    return -1;
}

}  // namespace

bool MetadataApplication::Response::endsWithClose() const {
    for (const auto& header : headers) {
        if (header.first == "Content-Length") {
            return false;
        }
    }
    return true;
}

Bytes MetadataApplication::Response::wire() const {
    std::string head = "HTTP/1.1 " + status + "\r\n";
    for (const auto& [name, value] : headers) {
        head += name + ": " + value + "\r\n";
    }
    head += "\r\n";
    Bytes out = bytesOf(head);
    out.insert(out.end(), body.begin(), body.end());
    return out;
}

MetadataApplication::Response MetadataApplication::respond(std::string_view path) const {
    Response response;
    response.headers.emplace_back("Server", serverName);
    if (path != avatarPath) {
        response.status = "400 Bad Request";
        response.body = bytesOf(std::string(nothingHereText) + quoted(path) + ".");
        return response;
    }
    std::optional<Bytes> picture = picture_ ? picture_() : std::nullopt;
    if (!picture) {
        response.status = "404 Not Found";
        response.body = bytesOf(unavailableText);
        return response;
    }
    response.status = "200 OK";
    response.headers.emplace_back("Content-Type", "image/png");
    response.headers.emplace_back("Content-Length", std::to_string(picture->size()));
    response.body = std::move(*picture);
    return response;
}

std::string MetadataApplication::pathInfo(std::string_view target) {
    const std::string_view raw = target.substr(0, target.find('?'));
    std::string decoded;
    decoded.reserve(raw.size());
    for (std::size_t i = 0; i < raw.size(); ++i) {
        if (raw[i] == '%' && i + 2 < raw.size() && hexValue(raw[i + 1]) >= 0 &&
            hexValue(raw[i + 2]) >= 0) {
            decoded += static_cast<char>(hexValue(raw[i + 1]) * 16 + hexValue(raw[i + 2]));
            i += 2;
        } else {
            decoded += raw[i];
        }
    }
    return isValidUtf8(decoded) ? decoded : std::string(raw);
}

std::string MetadataApplication::quoted(std::string_view path) {
    std::string out = "\"";
    for (const char c : path) {
        const auto byte = static_cast<unsigned char>(c);
        if (c == '\\' || c == '"') {
            out += '\\';
            out += c;
        } else if (c == '\n') {
            out += "\\n";
        } else if (c == '\r') {
            out += "\\r";
        } else if (c == '\t') {
            out += "\\t";
        } else if (byte < 0x20 || byte == 0x7F) {
            char escape[8];
            std::snprintf(escape, sizeof escape, "\\u{%x}", byte);
            out += escape;
        } else {
            out += c;
        }
    }
    out += '"';
    return out;
}

}  // namespace velto
