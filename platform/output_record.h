// What an output keeps on every system beside its own handles: whether it
// failed and why, and, for an existing file written in place, the table
// held in memory until commit() puts it over the old contents.
#pragma once

#include <exception>
#include <span>
#include <string>
#include <utility>
#include <vector>

#include "platform.h"

namespace dbgparse::platform {

// Why an output could not be written, where the run itself decided so rather
// than a call into the system failing: the same words on every system, to
// follow the output's name in a message ("dbgparse: out.qb: ...").
namespace output_failures {

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

}  // namespace output_failures

struct output_record {
  bool in_place = false;             // an existing file written over at commit
  std::vector<unsigned char> table;  // what goes in place, held until then
  bool failed = false;
  bool committed = false;
  output_failure failure;  // once it has failed

  // Keeps why the output failed: `own` where the run decided so, the
  // system's words for the call that just failed otherwise. Always false.
  bool fail(std::string own = {}) {
    failed = true;
    failure.reason = own.empty() ? failure_reason() : std::move(own);
    return false;
  }

  // Takes bytes that go in place into the held table; false once the
  // output has failed.
  bool hold(std::span<const unsigned char> bytes) {
    if (failed) {
      return false;
    }
    try {
      table.insert(table.end(), bytes.begin(), bytes.end());
      // No memory for it, or a table past what a vector holds (2 GiB on a
      // 32-bit build): the same lack.
    } catch (const std::exception&) {
      failure.no_memory = true;
      return fail(output_failures::no_memory);
    }
    return true;
  }
};

}  // namespace dbgparse::platform
