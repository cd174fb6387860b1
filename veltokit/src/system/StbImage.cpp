// The one translation unit holding the image decoder's implementation. Its code is not ours and
// does not meet our warning flags, so they are lifted here only.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wconversion"
#pragma GCC diagnostic ignored "-Wsign-conversion"
#pragma GCC diagnostic ignored "-Wold-style-cast"
#pragma GCC diagnostic ignored "-Wcast-align"
#pragma GCC diagnostic ignored "-Wnull-dereference"
#pragma GCC diagnostic ignored "-Wmissing-field-initializers"
#define STBI_MAX_DIMENSIONS (1 << 14)  // ImageCodec::kMaxSide
#define STBI_NO_STDIO                  // we only decode from memory
#define STB_IMAGE_IMPLEMENTATION
#include <stb_image.h>
#pragma GCC diagnostic pop
