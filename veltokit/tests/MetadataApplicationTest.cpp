#include <gtest/gtest.h>

#include "discovery/MetadataApplication.h"

namespace velto {
namespace {

// The three answers, byte for byte, are checked with curl by the discovery scenario, and held
// for any request by the metadata fuzzer.
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
