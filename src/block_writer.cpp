// The table streamed to a sink in blocks.
#include <algorithm>
#include <span>

#include "table_writers.h"

namespace dbgparse {

block_writer::block_writer(const table_sink& sink, std::size_t block_size)
    : sink_(sink), block_(std::max(block_size, min_block_size)) {}

out_cursor block_writer::refill(out_cursor cursor, std::size_t /*count*/,
                                const unsigned char* /*keep_from*/) {
  return finish(cursor) ? start() : out_cursor{};
}

bool block_writer::finish(out_cursor cursor) {
  const auto used = static_cast<std::size_t>(cursor.at - block_.data());
  return used == 0 || sink_(std::span<const unsigned char>(block_.data(), used));
}

}  // namespace dbgparse
