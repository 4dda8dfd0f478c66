// Warnings about a DBG file: where the conversion, exact to its rule, did
// something its author probably did not mean. They change nothing in the
// table; they only say what happened and where.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <span>
#include <string>

#include "byte_sink.h"

namespace dbgparse {

// The kinds, numbered as the C interface's DBGPARSE_WARNING_* constants.
enum class warning_kind {
  no_section = 1,
  value_field = 2,
  inner_line = 3,
  empty_name = 4,
  no_line_end = 5,
  name_cut = 6,
  name_zero_byte = 7,
  name_end_blank = 8,
  not_converted = 9,
  // 10 and 11 are the listing's
  name_unexpected = 12,
};

struct warning {
  warning_kind kind = warning_kind::no_section;
  std::size_t line = 0;    // 1-based; 0 for the input as a whole
  std::size_t offset = 0;  // of the byte the warning is about
  std::string message;     // one sentence, printable ASCII, no file name
};

// Receives each warning in input order; false stops the diagnosis.
using warning_sink = std::function<bool(const warning&)>;

// Finds the warnings of `input` and hands them to `sink`. Returns false when
// the sink stopped it. Only the first `most_messages` warnings carry their
// message; the rest come with an empty one, for a caller that shows a few
// and counts the others. Time is linear in the input's size and the
// warnings' count.
bool diagnose(std::span<const unsigned char> input, const warning_sink& sink,
              std::size_t most_messages = SIZE_MAX);

// Converts `input` as write_table does, to `sink`, and finds its warnings as
// diagnose does, to `warn`, in one walk over the checksum lines: each
// warning is handed over as its line is reached, before the table's bytes
// for the lines after it. Returns false when either sink stopped it (then
// neither is called again). Throws std::bad_alloc as write_table does.
bool convert_and_diagnose(std::span<const unsigned char> input, const byte_sink& sink,
                          const warning_sink& warn, std::size_t most_messages = SIZE_MAX);
// The same, the table into the memory that `pieces` gives.
bool convert_and_diagnose(std::span<const unsigned char> input, piece_exchange& pieces,
                          const warning_sink& warn, std::size_t most_messages = SIZE_MAX);

}  // namespace dbgparse
