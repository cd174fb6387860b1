#pragma once

#include <gtest/gtest.h>

#include <string>
#include <string_view>

#include "core/ProgrammingError.h"

namespace velto::test {

// A regular expression matching `text` literally (for death-test messages full of quotes,
// question marks and at signs).
inline std::string literalPattern(std::string_view text) {
    std::string pattern;
    for (const char c : text) {
        if (std::string_view(".[]{}()\\*+?|^$").find(c) != std::string_view::npos) {
            pattern.push_back('\\');
        }
        pattern.push_back(c);
    }
    return pattern;
}

// A call that breaks a precondition: where programming errors abort, it must die with the
// message; elsewhere it must return and its result must pass `check`.
template <typename Call, typename Check>
void expectMisuse(Call call, std::string_view message, Check check) {
    if constexpr (kProgrammingErrorsAbort) {
        EXPECT_DEATH(call(), literalPattern(message)) << message;
    } else {
        check(call());
    }
}

}  // namespace velto::test
