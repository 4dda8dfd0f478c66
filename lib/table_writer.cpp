#include "table_writer.h"

#include <algorithm>
#include <cstring>

#include "qb_layout.h"

namespace dbgparse {

static_assert(qb::head_size + std::max(qb::max_text_length, dbg::block_size) <=
              table_writer::min_piece_size);

table_writer::table_writer(const byte_sink& sink, std::size_t piece_size)
    : sink_(sink),
      piece_size_(std::max(piece_size, min_piece_size)),
      piece_(new unsigned char[piece_size_]) {}

void table_writer::hand_over() {
  // A piece that holds more than an end marker starts with an entry.
  if (first_piece_ && used_ > qb::marker_size) {
    piece_[0] = qb::first_entry_marker;
  }
  first_piece_ = false;
  refused_ = !sink_(std::span<const unsigned char>(piece_.get(), used_));
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
  std::memcpy(piece_.get() + used_, qb::end_marker.data(), qb::marker_size);
  used_ += qb::marker_size;
  hand_over();
  return !refused_;
}

}  // namespace dbgparse
