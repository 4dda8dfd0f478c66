// The one way a table is written: entries gathered in a block, handed to a
// sink whenever the block is full and once at the end, all on the calling
// thread.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>

#include "byte_sink.h"

namespace dbgparse {

class table_writer {
 public:
  // A block smaller than this could not hold the longest entry.
  static constexpr std::size_t min_block_size = 1024;

  // Obtains the block (throws std::bad_alloc when it cannot be had).
  table_writer(const byte_sink& sink, std::size_t block_size);

  // Writes an entry's marker and value, then `text`: its bytes up to the
  // first zero byte, zero bytes for the rest. False once the sink refused.
  bool entry(bool first, std::uint32_t value, std::span<const unsigned char> text);
  // Writes the end marker and hands over what is left. False when the sink
  // refused a piece, now or before.
  bool finish();

 private:
  bool make_room(std::size_t count);

  const byte_sink& sink_;
  std::size_t block_size_;
  std::unique_ptr<unsigned char[]> block_;
  std::size_t used_ = 0;
  bool refused_ = false;
};

}  // namespace dbgparse
