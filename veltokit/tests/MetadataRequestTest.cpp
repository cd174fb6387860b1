#include <gtest/gtest.h>

#include "discovery/MetadataRequest.h"

namespace velto {
namespace {

const MetadataApplication app([] { return Bytes{0x89, 'P', 'N', 'G'}; });

std::string statusOf(std::string_view request) {
    std::string refusal;
    const auto response = MetadataRequest::answer(app, request, refusal);
    return response ? response->status : "refused: " + refusal;
}

TEST(MetadataRequest, AnswersAnyMethodByTheDecodedPathAlone) {
    EXPECT_EQ(statusOf("GET /velto/avatar HTTP/1.1\r\nHost: x\r\n\r\n"), "200 OK");
    EXPECT_EQ(statusOf("GET /velto%2favatar?size=9 HTTP/1.0\r\n\r\n"), "200 OK");
    // A body is never read: the head is enough, whatever follows it.
    EXPECT_EQ(statusOf("POST /velto/avatar HTTP/1.1\r\nContent-Length: 5\r\n\r\nhello"), "200 OK");
    EXPECT_EQ(statusOf("GET / HTTP/1.1\r\n\r\n"), "400 Bad Request");
}

TEST(MetadataRequest, RefusesWhatIsNotAWholeRequestHeadWithinTheLimit) {
    EXPECT_EQ(statusOf(""), "refused: incomplete request head");
    EXPECT_EQ(statusOf("GET /velto/avatar HTTP/1.1\r\nHost: x\r\n"),
              "refused: incomplete request head");
    EXPECT_NE(statusOf("\x16\x03\x01 not http\r\n\r\n").rfind("refused: ", 0), std::string::npos);
    const std::string huge =
        "GET / HTTP/1.1\r\nX: " + std::string(MetadataRequest::headerLimit, 'a') + "\r\n\r\n";
    EXPECT_NE(statusOf(huge).rfind("refused: ", 0), std::string::npos);
}

}  // namespace
}  // namespace velto
