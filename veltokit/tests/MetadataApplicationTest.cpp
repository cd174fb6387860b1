#include <gtest/gtest.h>

#include "discovery/MetadataApplication.h"

namespace velto {
namespace {

const Bytes png{0x89, 'P', 'N', 'G'};

std::string wireText(const MetadataApplication::Response& response) {
    return textOf(response.wire());
}

TEST(MetadataApplication, AnswersThePictureWithThreeHeadersInOrder) {
    const MetadataApplication app([] { return png; });
    const auto response = app.respond("/velto/avatar");
    EXPECT_EQ(wireText(response),
              "HTTP/1.1 200 OK\r\nServer: Velto/1.0\r\nContent-Type: image/png\r\n"
              "Content-Length: 4\r\n\r\n\x89PNG");
    EXPECT_FALSE(response.endsWithClose());
}

TEST(MetadataApplication, AnswersAMissingPictureWith404AndNoLength) {
    const MetadataApplication app([] { return std::nullopt; });
    const auto response = app.respond("/velto/avatar");
    EXPECT_EQ(wireText(response),
              "HTTP/1.1 404 Not Found\r\nServer: Velto/1.0\r\n\r\nAvatar is unavailable.");
    EXPECT_EQ(response.body.size(), 22u);
    EXPECT_TRUE(response.endsWithClose());
}

TEST(MetadataApplication, AnswersEveryOtherPathWith400NamingIt) {
    int asked = 0;
    const MetadataApplication app([&] {
        ++asked;
        return png;
    });
    const auto root = app.respond("/");
    EXPECT_EQ(wireText(root),
              "HTTP/1.1 400 Bad Request\r\nServer: Velto/1.0\r\n\r\nThis is a Velto metadata "
              "server. There is nothing implemented for \"/\".");
    EXPECT_TRUE(root.endsWithClose());
    EXPECT_EQ(textOf(app.respond("/Velto/avatar").body).substr(66), "\"/Velto/avatar\".");
    EXPECT_EQ(textOf(app.respond("/velto/avatar/").body).substr(66), "\"/velto/avatar/\".");
    EXPECT_EQ(asked, 0);  // only the avatar path looks for a picture
}

TEST(MetadataApplication, AsksForThePictureOnEveryRequest) {
    std::optional<Bytes> picture;
    const MetadataApplication app([&] { return picture; });
    EXPECT_EQ(app.respond("/velto/avatar").status, "404 Not Found");
    picture = png;
    EXPECT_EQ(app.respond("/velto/avatar").status, "200 OK");
    picture.reset();
    EXPECT_EQ(app.respond("/velto/avatar").status, "404 Not Found");
}

TEST(MetadataApplication, QuotesThePathSoTheTextStaysOneUnambiguousLine) {
    EXPECT_EQ(MetadataApplication::quoted("/x"), "\"/x\"");
    EXPECT_EQ(MetadataApplication::quoted(R"(/a"b\c)"), R"("/a\"b\\c")");
    EXPECT_EQ(MetadataApplication::quoted("/l\n\r\t\x01\x7F"), R"("/l\n\r\t\u{1}\u{7f}")");
    EXPECT_EQ(MetadataApplication::quoted("/Zoë's"), "\"/Zoë's\"");
}

TEST(MetadataApplication, PathInfoIsTheDecodedTargetWithoutQuery) {
    EXPECT_EQ(MetadataApplication::pathInfo("/velto/avatar?size=64"), "/velto/avatar");
    EXPECT_EQ(MetadataApplication::pathInfo("/velto%2Favatar"), "/velto/avatar");
    EXPECT_EQ(MetadataApplication::pathInfo("/a%20b%"), "/a b%");
    EXPECT_EQ(MetadataApplication::pathInfo("/%zz%4"), "/%zz%4");
    EXPECT_EQ(MetadataApplication::pathInfo("/%C3%AB"), "/ë");
    EXPECT_EQ(MetadataApplication::pathInfo("/%FF"), "/%FF");  // not UTF-8 once decoded
    EXPECT_EQ(MetadataApplication::pathInfo(""), "");
}

}  // namespace
}  // namespace velto
