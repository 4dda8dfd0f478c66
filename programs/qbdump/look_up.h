// --find and --name: the names of a checksum, the checksums of a name.
#pragma once

#include <span>
#include <string>
#include <vector>

#include "options.h"

namespace dbgparse::qbdump {

// The answers to the queries in the order asked, each query's lines
// together; exit_nothing_found when none has one.
int look_up(const std::string& table, std::span<const unsigned char> bytes,
            const std::vector<query>& queries);

}  // namespace dbgparse::qbdump
