#include "table_writer.h"

#include <algorithm>
#include <cstring>

#include "qb_layout.h"

namespace dbgparse {

static_assert(qb::head_size + std::max(qb::max_text_length, dbg::block_size) <=
              table_writer::min_block_size);

table_writer::table_writer(const byte_sink& sink, std::size_t block_size)
    : sink_(sink),
      block_size_(std::max(block_size, min_block_size)),
      block_(new unsigned char[block_size_]) {}

void table_writer::hand_over() {
  // A block that holds more than an end marker starts with an entry.
  if (first_block_ && used_ > qb::marker_size) {
    block_[0] = qb::first_entry_marker;
  }
  first_block_ = false;
  refused_ = !sink_(std::span<const unsigned char>(block_.get(), used_));
  used_ = 0;
}

bool table_writer::entry(std::uint32_t value, std::span<const unsigned char> text) {
  if (!make_room(qb::head_size + text.size())) {
    return false;
  }
  unsigned char* at = put_head(value);
  if (!text.empty()) {
    std::memcpy(at, text.data(), text.size());
    // A zero byte ends the text; the rest of its length is zero bytes.
    std::fill(at + dbg::first_zero_byte(text), at + text.size(), 0);
  }
  used_ += qb::head_size + text.size();
  return true;
}

bool table_writer::finish() {
  if (!make_room(qb::marker_size)) {
    return false;
  }
  std::memcpy(block_.get() + used_, qb::end_marker.data(), qb::marker_size);
  used_ += qb::marker_size;
  hand_over();
  return !refused_;
}

}  // namespace dbgparse
