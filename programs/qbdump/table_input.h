// Reading the table qbdump is given, and telling what is wrong with it.
#pragma once

#include <optional>
#include <span>
#include <string>

#include "platform.h"
#include "qb_reader.h"

namespace dbgparse::qbdump {

// The table's bytes ("-" reads standard input), or nothing after saying why
// not.
std::optional<platform::input_bytes> read_table(const std::string& path);

// Tells `fault`, found in `table`'s `bytes`, and that dbgparse converts the
// table when its bytes look like DBG text instead.
void report_fault(const std::string& table, std::span<const unsigned char> bytes,
                  const qb::fault& fault);

}  // namespace dbgparse::qbdump
