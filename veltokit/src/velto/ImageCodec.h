#pragma once

#include <cstdint>
#include <optional>
#include <span>

#include "velto/Bytes.h"

namespace velto {

// 8-bit pixels, rows top to bottom, `channels` bytes per pixel (1 grey, 2 grey and alpha,
// 3 RGB, 4 RGBA).
struct DecodedImage {
    int width = 0;
    int height = 0;
    int channels = 0;
    Bytes pixels;
};

// Decodes the common still-image formats (PNG, JPEG, GIF, BMP, TGA, PSD, HDR, PIC, PNM) and
// writes PNG. Pictures larger than kMaxSide on a side are refused.
class ImageCodec {
  public:
    static constexpr int kMaxSide = 1 << 14;

    static std::optional<DecodedImage> decode(std::span<const std::uint8_t> encoded);
    static std::optional<Bytes> encodePng(const DecodedImage& image);
    // decode, then encodePng; no value when the bytes are not a picture it can read.
    static std::optional<Bytes> toPng(std::span<const std::uint8_t> encoded);
};

}  // namespace velto
