// unpack with any format, data and encoding: it returns or throws BinUtilsError, never reads
// outside the data, succeeds only on data of the format's size, and for formats of integers and
// doubles alone pack turns the values back into the same bytes.
#include <string>
#include <string_view>

#include "support/FuzzInput.h"
#include "velto/BinUtils.h"

using velto::fuzz::require;

namespace {

// Formats whose values pack back into exactly the bytes they came from ("?" folds every
// non-zero byte into true, "x" skips any byte, texts and floats may not survive a round trip).
bool packsBackExactly(std::string_view format) {
    if (format.empty() || std::string_view("<>=!").find(format.front()) == std::string_view::npos) {
        return false;
    }
    return format.substr(1).find_first_not_of("0123456789bBhHiIlLqQd") == std::string_view::npos;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    velto::fuzz::silenceDiagnostics();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    velto::fuzz::FuzzInput input(data, size);
    const auto encoding = static_cast<velto::TextEncoding>(input.byte() % 2);
    const velto::Bytes formatBytes = input.bytes(input.byte());
    const std::string format = velto::textOf(formatBytes);
    const velto::Bytes bytes = input.rest();

    std::vector<velto::PackValue> values;
    try {
        values = velto::unpack(format, bytes, encoding);
    } catch (const velto::BinUtilsError& error) {
        if (const auto* mismatch = error.lengthMismatch()) {
            require(mismatch->dataSize == bytes.size(), "the mismatch names the data's size");
            require(velto::numberOfBytesInFormat(format) != bytes.size(),
                    "a mismatch only for data of another size");
        }
        return 0;
    }
    require(velto::numberOfBytesInFormat(format) == bytes.size(),
            "values only from data of the format's size");
    if (packsBackExactly(format) && !values.empty()) {
        require(velto::pack(format, values, encoding) == bytes, "pack undoes unpack");
    }
    return 0;
}
