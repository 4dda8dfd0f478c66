// The conversion's entry points: the walk over the checksum lines with the
// observer that writes their entries.
#include "conversion.h"

#include <algorithm>
#include <cstring>

#include "qb_layout.h"

namespace dbgparse {

bool write_table(std::span<const unsigned char> input, const byte_sink& sink,
                 std::size_t piece_size) {
  sink_pieces pieces(sink, piece_size);
  return write_table(input, pieces);
}

bool write_table(std::span<const unsigned char> input, piece_exchange& pieces) {
  table_writer out(pieces);
  entry_writer entries(input, out);
  return dbg::for_each_checksum_line(input, entries) && out.finish();
}

std::vector<unsigned char> convert(std::span<const unsigned char> input) {
  std::vector<unsigned char> table;
  // Nearly every table is shorter than its input.
  table.reserve(input.size() + qb::marker_size);
  write_table(input, [&table](std::span<const unsigned char> piece) {
    table.insert(table.end(), piece.begin(), piece.end());
    return true;
  });
  return table;
}

std::size_t parse_qb(std::vector<unsigned char>& buffer, std::size_t length) {
  const std::vector<unsigned char> table =
      convert(std::span<const unsigned char>(buffer.data(), std::min(length, buffer.size())));
  if (table.size() > buffer.size()) {
    buffer.resize(table.size());
  }
  std::copy(table.begin(), table.end(), buffer.begin());
  return table.size();
}

}  // namespace dbgparse
