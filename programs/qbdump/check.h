// --check: each table's structure, without listing it.
#pragma once

#include <string>
#include <vector>

namespace dbgparse::qbdump {

// Checks each table in turn, one line each, named when there are several;
// a table that fails does not stop the others.
int check(const std::vector<std::string>& tables);

}  // namespace dbgparse::qbdump
