#include "system/UserPicture.h"

#include "system/FileContents.h"
#include "velto/ImageCodec.h"
#include "velto/PathHelpers.h"

namespace velto {
namespace {

constexpr std::size_t kMaxPictureFile = 32 << 20;

}  // namespace

std::vector<std::string> UserPicture::candidatePaths(const std::string& login,
                                                     const std::string& home) {
    std::vector<std::string> paths;
    if (!login.empty() && login.find('/') == std::string::npos) {
        paths.push_back("/var/lib/AccountsService/icons/" + login);
    }
    if (!home.empty()) {
        paths.push_back(stringByAppendingPathComponent(home, ".face"));
        paths.push_back(stringByAppendingPathComponent(home, ".face.icon"));
    }
    return paths;
}

std::optional<Bytes> UserPicture::firstAsPng(const std::vector<std::string>& paths) {
    for (const auto& path : paths) {
        if (const auto contents = readFileContents(path, kMaxPictureFile)) {
            if (auto png = ImageCodec::toPng(*contents)) {
                return png;
            }
        }
    }
    return std::nullopt;
}

}  // namespace velto
