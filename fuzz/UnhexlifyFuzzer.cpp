// unhexlify on any text: a value exactly when every character but the ordinary space is a hex
// digit and their count is even, and then hexlify gives those digits back in lower case.
#include <cctype>
#include <string>

#include "support/FuzzInput.h"
#include "velto/BinUtils.h"

using velto::fuzz::require;

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    velto::fuzz::silenceDiagnostics();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string text(reinterpret_cast<const char*>(data), size);

    std::string digits;
    bool allHex = true;
    for (const char c : text) {
        if (c == ' ') {
            continue;
        }
        allHex = allHex && std::isxdigit(static_cast<unsigned char>(c)) != 0;
        digits.push_back(static_cast<char>(std::tolower(static_cast<unsigned char>(c))));
    }
    const bool decodable = allHex && digits.size() % 2 == 0;

    const auto bytes = velto::unhexlify(text);
    require(bytes.has_value() == decodable, "a value exactly for an even run of hex digits");
    if (bytes) {
        require(bytes->size() * 2 == digits.size(), "one byte per two digits");
        require(velto::hexlify(*bytes) == digits, "hexlify gives the digits back");
    }
    return 0;
}
