#include "TransferProgressBar.h"

#include <cstdio>

namespace velto::cli {

std::string TransferProgressBar::bytes(double count) {
    static const char* const units[] = {"B", "kB", "MB", "GB", "TB"};
    int unit = 0;
    while (count >= 1000 && unit < 4) {
        count /= 1000;
        ++unit;
    }
    char text[32];
    std::snprintf(text, sizeof text, unit == 0 ? "%.0f %s" : "%.1f %s", count, units[unit]);
    return text;
}

std::string TransferProgressBar::duration(std::chrono::seconds s) {
    const long long total = s.count();
    char text[32];
    if (total >= 3600) {
        std::snprintf(text, sizeof text, "%lld:%02lld:%02lld", total / 3600, total / 60 % 60,
                      total % 60);
    } else {
        std::snprintf(text, sizeof text, "%lld:%02lld", total / 60, total % 60);
    }
    return text;
}

std::string TransferProgressBar::line(std::uint64_t byteFinished, std::uint64_t byteCount,
                                      Clock::time_point now) const {
    const double share =
        byteCount == 0 ? 1.0 : static_cast<double>(byteFinished) / static_cast<double>(byteCount);
    const int filled = static_cast<int>(share * width);
    std::string bar = "[" + std::string(static_cast<std::size_t>(filled), '#') +
                      std::string(static_cast<std::size_t>(width - filled), '.') + "]";
    char percent[16];
    std::snprintf(percent, sizeof percent, " %3d%%", static_cast<int>(share * 100));
    const double seconds = std::chrono::duration<double>(now - start_).count();
    std::string text = bar + percent;
    if (seconds > 0 && byteFinished > 0) {
        const double rate = static_cast<double>(byteFinished) / seconds;
        const auto left = std::chrono::seconds(
            static_cast<long long>(static_cast<double>(byteCount - byteFinished) / rate + 0.5));
        text += "  " + bytes(rate) + "/s  ETA " + duration(left);
    }
    return text;
}

}  // namespace velto::cli
