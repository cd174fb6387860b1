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
}

// Keys drawn on several threads at once are distinct and, together, use the whole alphabet
// evenly: a shared, unguarded generator would repeat keys (or race under the sanitizer).
TEST(RandomString, ThreadsDrawDistinctKeysFromTheWholeAlphabet) {
    EXPECT_EQ(generateRandomStringWithLength(0), "");
    EXPECT_EQ(generateRandomStringWithLength(-3), "");
    std::vector<std::vector<std::string>> keys(4);
    std::vector<std::thread> threads;
    for (auto& list : keys) {
        threads.emplace_back([&list] {
            for (int i = 0; i < 500; ++i) {
                list.push_back(generateRandomStringWithLength(31));
            }
        });
    }
    for (auto& thread : threads) {
        thread.join();
    }
    std::set<std::string> distinct;
    std::map<char, int> counts;
    for (const auto& list : keys) {
        for (const auto& key : list) {
            EXPECT_EQ(key.size(), 31u);
            distinct.insert(key);
            for (const char c : key) {
                ++counts[c];
            }
        }
    }
    EXPECT_EQ(distinct.size(), 2000u);
    ASSERT_EQ(counts.size(), 62u);  // 62,000 characters: 1000 of each expected
    for (const auto& [c, count] : counts) {
        EXPECT_TRUE(std::isalnum(static_cast<unsigned char>(c))) << c;
        EXPECT_GT(count, 700) << c;  // nearly ten standard deviations (31) either way
        EXPECT_LT(count, 1300) << c;
    }
}

}  // namespace
}  // namespace velto
