#include "table_writer.h"

#include <algorithm>
#include <cstring>
#include <memory>
#include <utility>

#include "qb_layout.h"

namespace dbgparse {

static_assert(qb::head_size + std::max(qb::max_text_length, dbg::block_size) <=
              table_writer::min_piece_size);

table_writer::table_writer(piece_exchange& pieces)
    : pieces_(pieces), piece_(pieces.next_piece({})), stopped_(piece_.size() < min_piece_size) {}

std::span<const unsigned char> table_writer::filled() {
  // A piece that holds more than an end marker starts with an entry.
  if (first_piece_ && used_ > qb::marker_size) {
    piece_[0] = qb::first_entry_marker;
  }
  first_piece_ = false;
  return piece_.first(std::exchange(used_, 0));
}

void table_writer::hand_over() {
  piece_ = pieces_.next_piece(filled());
  // Memory too small for the longest entry stops the table as well.
  stopped_ = piece_.size() < min_piece_size;
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
  std::memcpy(piece_.data() + used_, qb::end_marker.data(), qb::marker_size);
  used_ += qb::marker_size;
  stopped_ = !pieces_.last_piece(filled());
  return !stopped_;
}

sink_pieces::sink_pieces(const byte_sink& sink, std::size_t piece_size)
    : sink_(sink),
      size_(std::max(piece_size, table_writer::min_piece_size)),
      memory_(std::make_unique_for_overwrite<unsigned char[]>(size_)) {}

std::span<unsigned char> sink_pieces::next_piece(std::span<const unsigned char> full) {
  if (!full.empty() && !sink_(full)) {
    return {};
  }
  return {memory_.get(), size_};
}

bool sink_pieces::last_piece(std::span<const unsigned char> full) { return sink_(full); }

}  // namespace dbgparse
