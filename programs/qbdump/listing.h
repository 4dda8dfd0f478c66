// The table as a DBG listing that dbgparse converts back to the same table.
#pragma once

#include <optional>
#include <span>
#include <string>

namespace dbgparse::qbdump {

// The listing of `table`'s `bytes` on standard output, or into the file at
// `listing_path`, which an existing DBG file there only with `force`;
// entries that no listing can reproduce are left out with a warning.
int list(const std::string& table, std::span<const unsigned char> bytes,
         const std::optional<std::string>& listing_path, bool force);

}  // namespace dbgparse::qbdump
