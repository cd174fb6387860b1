#include "CliCommand.h"

#include <algorithm>

namespace velto::cli {
namespace {

// A function-local table: commands register during static initialisation, in any order.
std::vector<CommandRegistry::Entry>& entries() {
    static std::vector<CommandRegistry::Entry> table;
    return table;
}

}  // namespace

bool CommandRegistry::add(Entry entry) {
    entries().push_back(std::move(entry));
    return true;
}

std::vector<CommandRegistry::Entry> CommandRegistry::all() {
    auto sorted = entries();
    std::sort(sorted.begin(), sorted.end(),
              [](const Entry& a, const Entry& b) { return a.name < b.name; });
    return sorted;
}

}  // namespace velto::cli
