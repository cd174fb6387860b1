#include <gtest/gtest.h>

#include "support/FileTree.h"
#include "support/ScopedEnvironment.h"
#include "support/TempDir.h"
#include "system/UserPicture.h"
#include "velto/Base64.h"
#include "velto/ImageCodec.h"
#include "velto/NetworkTools.h"

namespace velto {
namespace {

const Bytes kPngSignature = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
const Bytes kPixels = {255, 0, 0, 0, 255, 0, 0, 0, 255, 10, 20, 30};  // 2 x 2 RGB

// A 2 x 2 picture in the netpbm format, which the decoder reads and PNG is not.
Bytes tinyPpm() {
    std::string ppm = "P6\n2 2\n255\n";
    ppm.append(kPixels.begin(), kPixels.end());
    return bytesOf(ppm);
}

bool isPng(const Bytes& data) {
    return data.size() > kPngSignature.size() &&
           std::equal(kPngSignature.begin(), kPngSignature.end(), data.begin());
}

TEST(ImageCodec, ReencodesAnyReadableFormatAsLosslessPng) {
    const auto png = ImageCodec::toPng(tinyPpm());
    ASSERT_TRUE(png);
    EXPECT_TRUE(isPng(*png));
    const auto back = ImageCodec::decode(*png);
    ASSERT_TRUE(back);
    EXPECT_EQ(back->width, 2);
    EXPECT_EQ(back->height, 2);
    EXPECT_EQ(back->channels, 3);
    EXPECT_EQ(back->pixels, kPixels);

    const DecodedImage greyAlpha{1, 3, 2, {0, 255, 128, 0, 255, 64}};
    const auto greyPng = ImageCodec::encodePng(greyAlpha);
    ASSERT_TRUE(greyPng);
    EXPECT_EQ(ImageCodec::decode(*greyPng)->pixels, greyAlpha.pixels);

    EXPECT_FALSE(ImageCodec::toPng(Bytes{}));
    EXPECT_FALSE(ImageCodec::toPng(bytesOf("not a picture at all")));
    EXPECT_FALSE(ImageCodec::toPng(Bytes(png->begin(), png->begin() + 20)));  // cut short
    EXPECT_FALSE(ImageCodec::encodePng({2, 2, 3, Bytes(11)}));
    EXPECT_FALSE(ImageCodec::encodePng({2, 2, 5, Bytes(20)}));
}

TEST(ImageCodec, UserPictureComesFromTheFirstReadableCandidate) {
    EXPECT_EQ(UserPicture::candidatePaths("ada", "/home/ada"),
              (std::vector<std::string>{"/var/lib/AccountsService/icons/ada", "/home/ada/.face",
                                        "/home/ada/.face.icon"}));
    EXPECT_EQ(UserPicture::candidatePaths("../x", "").size(), 0u);

    test::TempDir dir;
    const std::string junk = dir.str() + "/junk";
    const std::string picture = dir.str() + "/picture";
    test::writeFile(junk, "GIF89a but not really");
    test::writeFile(picture, textOf(tinyPpm()));
    const auto png = UserPicture::firstAsPng({dir.str() + "/missing", junk, picture});
    ASSERT_TRUE(png);
    EXPECT_EQ(ImageCodec::decode(*png)->pixels, kPixels);
    EXPECT_FALSE(UserPicture::firstAsPng({junk, dir.str()}));

    test::ScopedEnvironment environment;
    environment.set("HOME", dir.str());
    EXPECT_FALSE(NetworkTools::getCBUserImage());
    test::writeFile(dir.str() + "/.face.icon", textOf(tinyPpm()));
    EXPECT_TRUE(NetworkTools::getCBUserImage());
}

TEST(Base64, EncodesWithPaddingOnOneLine) {
    const std::vector<std::pair<std::string, std::string>> vectors = {
        {"", ""},
        {"f", "Zg=="},
        {"fo", "Zm8="},
        {"foo", "Zm9v"},
        {"foob", "Zm9vYg=="},
        {"fooba", "Zm9vYmE="},
        {"foobar", "Zm9vYmFy"},
    };
    for (const auto& [plain, encoded] : vectors) {
        EXPECT_EQ(Base64::encode(bytesOf(plain)), encoded) << plain;
    }
    EXPECT_EQ(Base64::encode(Bytes{0xFB, 0xFF, 0xBF}), "+/+/");
    EXPECT_EQ(Base64::encode(Bytes(300, 0)).find('\n'), std::string::npos);
}

}  // namespace
}  // namespace velto
