#include "velto/Ipv4Address.h"

namespace velto {

bool isPlainIpv4Address(std::string_view text) {
    int parts = 0;
    std::size_t at = 0;
    while (parts < 4) {
        const std::size_t start = at;
        unsigned value = 0;
        while (at < text.size() && text[at] >= '0' && text[at] <= '9' && at - start < 3) {
            value = value * 10 + static_cast<unsigned>(text[at] - '0');
            ++at;
        }
        const std::size_t digits = at - start;
        if (digits == 0 || value > 255 || (digits > 1 && text[start] == '0')) {
            return false;
        }
        ++parts;
        if (parts < 4) {
            if (at >= text.size() || text[at] != '.') {
                return false;
            }
            ++at;
        }
    }
    return at == text.size();
}

}  // namespace velto
