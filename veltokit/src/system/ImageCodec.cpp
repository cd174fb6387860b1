#include "velto/ImageCodec.h"

#include <climits>
#include <memory>

#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wold-style-cast"
#include <stb_image.h>
#include <stb_image_write.h>
#pragma GCC diagnostic pop

namespace velto {
namespace {

void appendToBytes(void* context, void* data, int size) {
    auto* out = static_cast<Bytes*>(context);
    const auto* first = static_cast<const std::uint8_t*>(data);
    out->insert(out->end(), first, first + size);
}

}  // namespace

std::optional<DecodedImage> ImageCodec::decode(std::span<const std::uint8_t> encoded) {
    if (encoded.empty() || encoded.size() > static_cast<std::size_t>(INT_MAX)) {
        return std::nullopt;
    }
    const int length = static_cast<int>(encoded.size());
    DecodedImage image;
    std::unique_ptr<stbi_uc, void (*)(void*)> pixels(
        stbi_load_from_memory(encoded.data(), length, &image.width, &image.height, &image.channels,
                              0),
        stbi_image_free);
    if (!pixels || image.width > kMaxSide || image.height > kMaxSide) {
        return std::nullopt;
    }
    const auto size = static_cast<std::size_t>(image.width) *
                      static_cast<std::size_t>(image.height) *
                      static_cast<std::size_t>(image.channels);
    image.pixels.assign(pixels.get(), pixels.get() + size);
    return image;
}

std::optional<Bytes> ImageCodec::encodePng(const DecodedImage& image) {
    const bool shapeValid = image.width > 0 && image.height > 0 && image.channels >= 1 &&
                            image.channels <= 4 && image.width <= kMaxSide &&
                            image.height <= kMaxSide;
    if (!shapeValid || image.pixels.size() != static_cast<std::size_t>(image.width) *
                                                  static_cast<std::size_t>(image.height) *
                                                  static_cast<std::size_t>(image.channels)) {
        return std::nullopt;
    }
    Bytes png;
    const int rowBytes = image.width * image.channels;
    if (stbi_write_png_to_func(appendToBytes, &png, image.width, image.height, image.channels,
                               image.pixels.data(), rowBytes) == 0) {
        return std::nullopt;
    }
    return png;
}

std::optional<Bytes> ImageCodec::toPng(std::span<const std::uint8_t> encoded) {
    const auto image = decode(encoded);
    if (!image) {
        return std::nullopt;
    }
    return encodePng(*image);
}

}  // namespace velto
