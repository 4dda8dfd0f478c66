// The one way a table is written: entries gathered in a piece, handed to a
// sink whenever the piece is full and once at the end, all on the calling
// thread.
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

  // Obtains the piece's memory (throws std::bad_alloc when it cannot be had).
  table_writer(const byte_sink& sink, std::size_t piece_size);

  // Writes an entry's marker (the first entry's for the table's first) and
  // value, then `text`: its bytes up to the first zero byte, zero bytes for
  // the rest. False once the sink refused.
  bool entry(std::uint32_t value, std::span<const unsigned char> text);
  // Writes an entry whose text is the first `length` bytes of the
  // dbg::block_size from `window`, none of them zero, with one fixed-size
  // copy: the common entry, written fast.
  bool window_entry(std::uint32_t value, const unsigned char* window, std::size_t length) {
    if (!make_room(qb::head_size + dbg::block_size)) {
      return false;
    }
    unsigned char* at = put_head(value);
    std::memcpy(at, window, dbg::block_size);
    used_ += qb::head_size + length;
    return true;
  }
  // Writes the end marker and hands over what is left. False when the sink
  // refused a piece, now or before.
  bool finish();

 private:
  // Hands the piece over when fewer than `count` bytes are left in it.
  bool make_room(std::size_t count) {
    if (piece_size_ - used_ < count && !refused_) {
      hand_over();
    }
    return !refused_;
  }
  void hand_over();
  // Writes an entry's marker and value; returns where its text goes. Every
  // entry gets the later entries' marker; the first piece's first entry,
  // always at its start, gets its own when the piece is handed over.
  unsigned char* put_head(std::uint32_t value) {
    unsigned char* at = piece_.get() + used_;
    *at++ = qb::entry_marker;
    *at++ = qb::entry_tag;
    for (std::size_t k = 0; k < qb::value_size; ++k) {
      *at++ = static_cast<unsigned char>(value >> (8 * k));
    }
    return at;
  }

  const byte_sink& sink_;
  std::size_t piece_size_;
  std::unique_ptr<unsigned char[]> piece_;
  std::size_t used_ = 0;
  bool refused_ = false;
  bool first_piece_ = true;
};

}  // namespace dbgparse
