// The two ways the table is written: streamed to a sink in blocks
// (block_writer), or in place over the input's own buffer (in_place_writer).
// The scan writes entries at an out_cursor and asks its writer for room
// when the cursor's runs out.
#pragma once

#include <array>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "byte_sink.h"
#include "qb_layout.h"

namespace dbgparse {

// Where the next bytes of the table go. The scan keeps it in variables of its
// own, so that the compiler can hold it in registers (bytes written through
// an unsigned char pointer could otherwise alias a writer's members), and
// asks the writer for more room only when it runs out.
struct out_cursor {
  unsigned char* at = nullptr;  // the next byte's place; null to stop
  // The room ends here. Null when `at` lies in the input's own buffer: the
  // room then ends at the first input byte still to be read.
  unsigned char* end = nullptr;
};

// True when `count` bytes fit at the cursor. Input bytes from `keep_from` on
// are still to be read and must stay as they are.
inline bool fits(const out_cursor& cursor, std::size_t count, const unsigned char* keep_from) {
  const unsigned char* room_end = cursor.end == nullptr ? keep_from : cursor.end;
  return static_cast<std::size_t>(room_end - cursor.at) >= count;
}

// Writes an entry's marker and value; returns where its text goes.
inline unsigned char* put_head(unsigned char* out, unsigned char marker, std::uint32_t value) {
  out[0] = marker;
  out[1] = qb::entry_tag;
  for (std::size_t i = 0; i < qb::value_size; ++i) {
    out[qb::marker_size + i] = static_cast<unsigned char>(value >> (8 * i));
  }
  return out + qb::head_size;
}

// Copies `length` bytes of a text (at most qb::max_text_length); from its first
// zero byte on, the copy holds zero bytes only. `out` may overlap the text
// provided it does not start after it. Returns the end of the copy.
inline unsigned char* copy_text(const unsigned char* text, std::size_t length, unsigned char* out) {
  const void* zero = std::memchr(text, 0, length);
  const std::size_t before_zero =
      zero == nullptr ? length
                      : static_cast<std::size_t>(static_cast<const unsigned char*>(zero) - text);
  std::memmove(out, text, before_zero);
  std::memset(out + before_zero, 0, length - before_zero);
  return out + length;
}

// Each writer offers the same three steps: start() gives the first room,
// refill(cursor, count, keep_from) room for at least `count` bytes (a null
// cursor to stop the conversion), and a last step that takes the rest.

// Gathers the table in blocks and hands each full block to the sink, which
// runs on a thread of its own while the scan fills the next block
// (block_writer.cpp).
class block_writer {
 public:
  // Every room the scan asks for at once fits in a block of this size.
  static constexpr std::size_t min_block_size = 1024;

  block_writer(const byte_sink& sink, std::size_t block_size);
  block_writer(const block_writer&) = delete;
  block_writer& operator=(const block_writer&) = delete;
  ~block_writer();  // stops the writing thread, if one runs, and waits for it

  [[nodiscard]] out_cursor start();

  // An empty block, after handing the full one over; a null cursor once the
  // sink has refused a block.
  [[nodiscard]] out_cursor refill(out_cursor cursor, std::size_t count,
                                  const unsigned char* keep_from);

  // Hands the last block over and waits until the sink has taken every
  // block; false when it refused one.
  [[nodiscard]] bool finish(out_cursor cursor);

 private:
  static constexpr std::size_t block_count = 3;
  // A table's first block is written in pieces of this size, on the scan's
  // own thread, from the start of the ring: memory touched once and kept in
  // the cache, where filling a whole fresh block would take a page fault
  // every 4 KiB, a good part of a small run. The ring and its thread take
  // over once that much has been written.
  static constexpr std::size_t small_piece_size = std::size_t{64} << 10;

  [[nodiscard]] unsigned char* block(std::size_t number) const;
  [[nodiscard]] bool write_small_piece(out_cursor cursor);
  void hand_over(out_cursor cursor);
  void write_blocks();  // the writing thread
  void write_next(std::unique_lock<std::mutex>& lock);

  const byte_sink& sink_;
  const std::size_t block_size_;
  std::unique_ptr<unsigned char[]> blocks_;  // a ring of block_count blocks
  std::size_t small_bytes_left_;  // still written in small pieces; 0 once the ring took over
  bool on_this_thread_ = false;   // the sink is called by the scan's thread
  std::thread thread_;

  // Shared with the writing thread, under mutex_.
  std::mutex mutex_;
  std::condition_variable changed_;
  std::size_t handed_ = 0;                       // blocks handed over; the next one is filled
  std::size_t written_ = 0;                      // blocks the sink has taken
  std::array<std::size_t, block_count> used_{};  // bytes in each block handed over
  bool failed_ = false;                          // the sink refused a block, or the scan gave up
  bool closing_ = false;                         // no more blocks are coming
};

// Builds the table over the start of its own input: an entry is never longer
// than the line it comes from plus its head of "0x", value field and
// separator (dbg::head_size bytes), so the table mostly stays behind the bytes still to be read.
// Where it would catch up with them (the first short lines, lines inside
// texts), entries wait on the side until there is room again. The side is a
// list of pieces rather than one growing buffer: a table many times longer
// than its input (lines inside texts repeat the texts' tails) is then
// written once on the side and copied once into place, with no regrowing.
class in_place_writer {
 public:
  explicit in_place_writer(unsigned char* base) : base_(base) {}

  [[nodiscard]] out_cursor start() const { return {base_, nullptr}; }

  [[nodiscard]] out_cursor refill(out_cursor cursor, std::size_t count,
                                  const unsigned char* keep_from);

  // Puts the whole table at the start of `buffer` (whose data is the base),
  // growing it when the table is longer. Returns the table's length.
  std::size_t finish(out_cursor cursor, std::vector<unsigned char>& buffer);

 private:
  struct piece {
    std::unique_ptr<unsigned char[]> bytes;
    std::size_t size;
    std::size_t used;
  };

  void take(out_cursor cursor);
  void move_side_into_place();

  unsigned char* base_;
  std::size_t out_ = 0;      // table bytes in place
  std::vector<piece> side_;  // table bytes to follow them, in order
  std::size_t waiting_ = 0;  // their count
};

}  // namespace dbgparse
