#include <gtest/gtest.h>

#include "discovery/MetadataApplication.h"

namespace velto {
namespace {

TEST(MetadataApplication, AnswersThePictureOrItsAbsenceAskingAnewEachTime) {
    std::optional<Bytes> picture = Bytes{0x89, 'P', 'N', 'G'};
    const MetadataApplication app([&] { return picture; });
    const auto found = app.respond("/velto/avatar");
    EXPECT_EQ(textOf(found.wire()),
              "HTTP/1.1 200 OK\r\nServer: Velto/1.0\r\nContent-Type: image/png\r\n"
              "Content-Length: 4\r\n\r\n\x89PNG");
    EXPECT_FALSE(found.endsWithClose());
    picture.reset();
    const auto missing = app.respond("/velto/avatar");
    EXPECT_EQ(textOf(missing.wire()),
              "HTTP/1.1 404 Not Found\r\nServer: Velto/1.0\r\n\r\nAvatar is unavailable.");
    EXPECT_TRUE(missing.endsWithClose());
}

TEST(MetadataApplication, AnswersEveryOtherPathWith400NamingIt) {
    int asked = 0;
    const MetadataApplication app([&] {
        ++asked;
        return Bytes{1};
    });
    const auto root = app.respond("/");
    EXPECT_EQ(textOf(root.wire()),
              "HTTP/1.1 400 Bad Request\r\nServer: Velto/1.0\r\n\r\nThis is a Velto metadata "
              "server. There is nothing implemented for \"/\".");
    EXPECT_TRUE(root.endsWithClose());
    EXPECT_EQ(app.respond("/Velto/avatar").status, "400 Bad Request");  // exact match only
    EXPECT_EQ(app.respond("/velto/avatar/").status, "400 Bad Request");
    EXPECT_EQ(asked, 0);
}

TEST(MetadataApplication, QuotesAndDecodesPathsUnambiguously) {
    EXPECT_EQ(MetadataApplication::quoted(R"(/a"b\c)"), R"("/a\"b\\c")");
    EXPECT_EQ(MetadataApplication::quoted("/l\n\r\t\x01\x7F"), R"("/l\n\r\t\u{1}\u{7f}")");
    EXPECT_EQ(MetadataApplication::quoted("/Zoë's"), "\"/Zoë's\"");
    EXPECT_EQ(MetadataApplication::pathInfo("/velto%2Favatar?size=64"), "/velto/avatar");
    EXPECT_EQ(MetadataApplication::pathInfo("/a%20b%"), "/a b%");
    EXPECT_EQ(MetadataApplication::pathInfo("/%zz%4"), "/%zz%4");
    EXPECT_EQ(MetadataApplication::pathInfo("/%C3%AB"), "/ë");
    EXPECT_EQ(MetadataApplication::pathInfo("/%FF"), "/%FF");  // would not be UTF-8 decoded
}

}  // namespace
}  // namespace velto
