// Why an output could not be written, where the run itself decided so rather
// than a call into the system failing: the same words on every system, to
// follow the output's name in a message ("dbgparse: out.qb: ...").
#pragma once

#include <string>

namespace dbgparse::platform::output_failures {

inline constexpr const char* own_stream =
    "the program's own standard output or error goes to this file; give the output another name";
inline constexpr const char* name_moved =
    "the name no longer leads to the file opened at the start: it was removed or replaced "
    "during the run";
inline constexpr const char* name_taken =
    "another file took the name during the run and is left as it is";
inline constexpr const char* name_taken_at_each_try =
    "another file took the name at each attempt to create it";
inline constexpr const char* no_memory = "not enough memory to hold it before it is written";

// The space for the table could not be reserved in a file written in place.
inline std::string no_room(const std::string& system_reason) {
  return "its space could not be reserved (" + system_reason + "); the file is left as it was";
}

}  // namespace dbgparse::platform::output_failures
