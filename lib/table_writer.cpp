#include "table_writer.h"

#include <algorithm>
#include <cstring>
#include <memory>
#include <utility>

#include "qb_layout.h"

namespace dbgparse {

static_assert(qb::head_size + std::max(qb::max_text_length, dbg::block_size) <=
              table_writer::min_piece_size);

table_writer::table_writer(piece_exchange& pieces) : pieces_(pieces) {
  take(pieces.next_piece({}));
}

void table_writer::take(std::span<unsigned char> piece) {
  // Memory too small for the longest entry stops the table as well.
  piece_ = piece.size() < min_piece_size ? std::span<unsigned char>() : piece;
  at_ = piece_.data();
  end_ = at_ + piece_.size();
}

std::span<const unsigned char> table_writer::filled() {
  const auto used = static_cast<std::size_t>(at_ - piece_.data());
  // A piece that holds more than an end marker starts with an entry.
  if (first_piece_ && used > qb::marker_size) {
    piece_[0] = qb::first_entry_marker;
  }
  first_piece_ = false;
  return piece_.first(used);
}

bool table_writer::hand_over(std::size_t count) {
  if (!piece_.empty()) {
    take(pieces_.next_piece(filled()));
  }
  return static_cast<std::size_t>(end_ - at_) >= count;
}

bool table_writer::entry(std::uint32_t checksum, std::span<const unsigned char> text) {
  if (!make_room(qb::head_size + text.size())) {
    return false;
  }
  unsigned char* const copy = put_head(checksum);
  if (!text.empty()) {
    std::memcpy(copy, text.data(), text.size());
    // A zero byte ends the text; the rest of its length is zero bytes.
    std::fill(copy + dbg::first_zero_byte(text), copy + text.size(), 0);
  }
  at_ = copy + text.size();
  return true;
}

bool table_writer::finish() {
  if (!make_room(qb::marker_size)) {
    return false;
  }
  at_ = std::copy(qb::end_marker.begin(), qb::end_marker.end(), at_);
  const bool taken = pieces_.last_piece(filled());
  take({});
  return taken;
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
