// A QB checksum table written back as a DBG listing that converts to it again.
//
// The listing is "[Checksums]" CR LF, then for each entry a line: "0x", the
// checksum as 8 lower-case hexadecimal digits, a space, the name's bytes, the
// name's zero padding as zero bytes, CR LF. Converted with dbgparse, such a
// line makes its entry again, byte for byte.
//
// A name that holds "0x" makes further entries when it is converted, and a
// table made from such a line holds them right after its entry. Those are
// not listed again: the line is converted with dbgparse's own conversion and
// compared with the entries that follow in the table. When an inner entry
// reads past the line's end, the next line is chosen so that it makes that
// entry; when a name was cut to 255 bytes, the line is lengthened with the
// bytes that the inner entries show it had. Each such group of lines is kept
// only when its conversion gives exactly the table's entries.
//
// An entry that no listing reproduces is left out and reported to the
// warning sink: a name holding CR or LF, a name with its padding longer than
// 255 bytes, an empty name before the last entry, and a name holding "0x"
// whose line cannot make exactly the entries that follow it. Whenever no
// warning is reported (and the table has no fault), converting the listing
// gives the table byte for byte.
#pragma once

#include <cstddef>
#include <functional>
#include <optional>
#include <span>
#include <string>

#include "byte_sink.h"
#include "qb_reader.h"

namespace dbgparse::qb {

struct listing_warning {
  std::size_t number = 0;  // the entry's position in the table, from 1
  std::size_t offset = 0;  // of its marker in the table
  std::string reason;
};

using warning_sink = std::function<void(const listing_warning&)>;

struct listing_outcome {
  bool written = true;             // false when the listing sink asked to stop
  std::optional<qb::fault> fault;  // the table's first fault; entries before it are listed
  std::size_t entries = 0;         // entries read from the table
  std::size_t left_out = 0;        // entries warned about and not listed
};

// Lists `table` to `sink` in pieces of at most 1 MiB; the sink's false stops
// the listing. Time is linear in the table's size.
listing_outcome write_listing(std::span<const unsigned char> table, const byte_sink& sink,
                              const warning_sink& warn);

}  // namespace dbgparse::qb
