// --entries: the table's entries as it holds them, one a line.
#pragma once

#include <span>
#include <string>

namespace dbgparse::qbdump {

// Each entry as the table holds it, one a line; at a fault the entries
// before it have been shown, and the fault is told as --check tells it.
int show_entries(const std::string& table, std::span<const unsigned char> bytes);

}  // namespace dbgparse::qbdump
