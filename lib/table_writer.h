// The one way a table is written: entries gathered in a piece, handed over
// whenever the piece is full and once at the end, all on the calling thread.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>
#include <span>

#include "byte_sink.h"
#include "dbg_line.h"
#include "qb_layout.h"

namespace dbgparse {

class table_writer {
 public:
  // A piece smaller than this could not hold the longest entry.
  static constexpr std::size_t min_piece_size = 1024;

  // Fills the memory that `pieces` gives, piece after piece.
  explicit table_writer(piece_exchange& pieces);

  // Writes an entry's marker (the first entry's for the table's first) and
  // checksum, then `text`: its bytes up to the first zero byte, zero bytes for
  // the rest. False once the table was stopped.
  bool entry(std::uint32_t checksum, std::span<const unsigned char> text);
  // Writes an entry whose text is the first `length` bytes of the
  // dbg::block_size from `window`, none of them zero, with one fixed-size
  // copy: the common entry, written fast.
  bool window_entry(std::uint32_t checksum, const unsigned char* window, std::size_t length) {
    if (!make_room(qb::head_size + dbg::block_size)) {
      return false;
    }
    unsigned char* text = put_head(checksum);
    std::memcpy(text, window, dbg::block_size);
    at_ = text + length;
    return true;
  }
  // Writes the end marker and hands over what is left. False when the
  // exchange stopped the table, now or before.
  bool finish();

 private:
  // Hands the piece over when fewer than `count` bytes are left in it; false
  // once the table was stopped, which leaves no room at all.
  bool make_room(std::size_t count) {
    return static_cast<std::size_t>(end_ - at_) >= count || hand_over(count);
  }
  // The piece filled so far, its first entry's marker set.
  std::span<const unsigned char> filled();
  // Fills `piece` next; a piece too small for the longest entry stops the
  // table, which then has no piece.
  void take(std::span<unsigned char> piece);
  // Hands the piece over; false when the next cannot take `count` bytes.
  bool hand_over(std::size_t count);
  // Writes an entry's marker and checksum; returns where its text goes. Every
  // entry gets the later entries' marker; the first piece's first entry,
  // always at its start, gets its own when the piece is handed over.
  unsigned char* put_head(std::uint32_t checksum) {
    unsigned char* at = at_;
    *at++ = qb::entry_marker;
    *at++ = qb::entry_tag;
    for (std::size_t k = 0; k < qb::checksum_size; ++k) {
      *at++ = static_cast<unsigned char>(checksum >> (8 * k));
    }
    return at;
  }

  piece_exchange& pieces_;
  std::span<unsigned char> piece_;  // empty once the table was stopped
  unsigned char* at_ = nullptr;     // where the next byte goes
  unsigned char* end_ = nullptr;    // the piece's end
  bool first_piece_ = true;
};

// Pieces for a byte sink: one piece's memory, filled again once the sink
// has taken it.
class sink_pieces final : public piece_exchange {
 public:
  // Obtains the piece's memory (throws std::bad_alloc when it cannot be had).
  sink_pieces(const byte_sink& sink, std::size_t piece_size);

  std::span<unsigned char> next_piece(std::span<const unsigned char> full) override;
  bool last_piece(std::span<const unsigned char> full) override;

 private:
  const byte_sink& sink_;
  std::size_t size_;
  std::unique_ptr<unsigned char[]> memory_;
};

}  // namespace dbgparse
