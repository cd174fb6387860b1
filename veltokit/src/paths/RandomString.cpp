#include "velto/RandomString.h"

#include <array>
#include <random>
#include <string_view>

namespace velto {
namespace {

constexpr std::string_view kAlphabet =
    "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789";

// One engine per thread, so that no lock is needed and no two threads share a sequence.
std::mt19937_64& threadEngine() {
    thread_local std::mt19937_64 engine = [] {
        std::random_device device;
        std::array<std::random_device::result_type, 8> seed{};
        for (auto& word : seed) {
            word = device();
        }
        std::seed_seq sequence(seed.begin(), seed.end());
        return std::mt19937_64(sequence);
    }();
    return engine;
}

}  // namespace

std::string generateRandomStringWithLength(int length) {
    if (length < 1) {
        return {};
    }
    std::uniform_int_distribution<std::size_t> index(0, kAlphabet.size() - 1);
    auto& engine = threadEngine();
    std::string text;
    text.reserve(static_cast<std::size_t>(length));
    for (int i = 0; i < length; ++i) {
        text.push_back(kAlphabet[index(engine)]);
    }
    return text;
}

}  // namespace velto
