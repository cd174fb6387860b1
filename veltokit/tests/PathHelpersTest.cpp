#include <gtest/gtest.h>

#include <map>
#include <set>
#include <thread>

#include "velto/PathHelpers.h"
#include "velto/RandomString.h"

namespace velto {
namespace {

TEST(PathHelpers, AppendsWithExactlyOneSeparator) {
    const std::vector<std::tuple<std::string, std::string, std::string>> cases = {
        {"/tmp", "scratch.tiff", "/tmp/scratch.tiff"},
        {"/tmp/", "scratch.tiff", "/tmp/scratch.tiff"},
        {"/", "scratch.tiff", "/scratch.tiff"},
        {"", "scratch.tiff", "scratch.tiff"},
        {"/tmp", "a/b.txt", "/tmp/a/b.txt"},
        {"/tmp", "/a//b/", "/tmp/a/b"},
        {"/tmp", "../x", "/tmp/../x"},
        {"//srv//", "", "/srv"},
        {"/", "", "/"},
        {"", "", ""},
    };
    for (const auto& [path, component, expected] : cases) {
        EXPECT_EQ(stringByAppendingPathComponent(path, component), expected)
            << path << " + " << component;
    }
    EXPECT_EQ(fromPathComponents({"a", "b", "c"}), "a/b/c");
    EXPECT_EQ(fromPathComponents({"/", "Users", "x"}), "/Users/x");
    EXPECT_EQ(fromPathComponents({}), "");
}

TEST(PathHelpers, DeletesTheLastComponent) {
    const std::vector<std::pair<std::string, std::string>> cases = {
        {"/tmp/scratch.tiff", "/tmp"},
        {"/tmp/lock/", "/tmp"},
        {"/tmp/", "/"},
        {"/tmp", "/"},
        {"/", "/"},
        {"scratch.tiff", ""},
        {"a/b", "a"},
        {"a//b//", "a"},
        {"", ""},
    };
    for (const auto& [path, expected] : cases) {
        EXPECT_EQ(stringByDeletingLastPathComponent(path), expected) << path;
    }
}

TEST(PathHelpers, SanitisingRemovesOnlyTheNineUnsafeCharacters) {
    EXPECT_EQ(sanitizedString("/\\:*<>?%|"), "");
    EXPECT_EQ(sanitizedString("Received by Velto at 2026-12-05 10-15"),
              "Received by Velto at 2026-12-05 10-15");
    EXPECT_EQ(sanitizedString("../a:b|c?.\"txt\"\t"), "..abc.\"txt\"\t");
    EXPECT_EQ(hexEncodedString({0x00, 0x0A, 0xFF}), "000aff");
    EXPECT_EQ(hexEncodedString({}), "");
}

TEST(RandomString, DrawsEveryAlphabetCharacterAndNothingElse) {
    EXPECT_EQ(generateRandomStringWithLength(0), "");
    EXPECT_EQ(generateRandomStringWithLength(-3), "");
    EXPECT_NE(generateRandomStringWithLength(32), generateRandomStringWithLength(32));

    std::map<char, int> counts;
    for (const char c : generateRandomStringWithLength(62 * 1000)) {
        ++counts[c];
    }
    ASSERT_EQ(counts.size(), 62u);
    for (const auto& [c, count] : counts) {
        EXPECT_TRUE(std::isalnum(static_cast<unsigned char>(c))) << c;
        EXPECT_GT(count, 700) << c;  // 1000 expected, about 31 standard deviation
        EXPECT_LT(count, 1300) << c;
    }
}

TEST(RandomString, ThreadsDrawIndependentKeys) {
    std::vector<std::vector<std::string>> keys(4);
    std::vector<std::thread> threads;
    for (auto& list : keys) {
        threads.emplace_back([&list] {
            for (int i = 0; i < 200; ++i) {
                list.push_back(generateRandomStringWithLength(32));
            }
        });
    }
    for (auto& thread : threads) {
        thread.join();
    }
    std::set<std::string> distinct;
    for (const auto& list : keys) {
        for (const auto& key : list) {
            EXPECT_EQ(key.size(), 32u);
            distinct.insert(key);
        }
    }
    EXPECT_EQ(distinct.size(), 800u);
}

}  // namespace
}  // namespace velto
