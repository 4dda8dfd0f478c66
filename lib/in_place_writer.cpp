// The table written over its own input, with entries that would overtake
// the bytes still to be read waiting on the side.
#include <algorithm>
#include <cstring>

#include "table_writers.h"

namespace dbgparse {
namespace {

constexpr std::size_t first_piece_size = std::size_t{64} << 10;
constexpr std::size_t piece_size = std::size_t{64} << 20;

}  // namespace

out_cursor in_place_writer::refill(out_cursor cursor, std::size_t count,
                                   const unsigned char* keep_from) {
  take(cursor);
  const auto room = static_cast<std::size_t>(keep_from - base_);
  if (waiting_ != 0 && out_ + waiting_ + count <= room) {
    move_side_into_place();
  }
  if (waiting_ == 0 && out_ + count <= room) {
    return {base_ + out_, nullptr};
  }
  if (side_.empty() || side_.back().size - side_.back().used < count) {
    const std::size_t size = std::max(side_.empty() ? first_piece_size : piece_size, count);
    side_.push_back({std::make_unique_for_overwrite<unsigned char[]>(size), size, 0});
  }
  piece& last = side_.back();
  return {last.bytes.get() + last.used, last.bytes.get() + last.size};
}

std::size_t in_place_writer::finish(out_cursor cursor, std::vector<unsigned char>& buffer) {
  take(cursor);
  const std::size_t length = out_ + waiting_;
  if (length <= buffer.size()) {
    move_side_into_place();
  } else {
    std::vector<unsigned char> table;
    table.reserve(length);
    table.insert(table.end(), base_, base_ + out_);
    for (piece& waiting : side_) {
      table.insert(table.end(), waiting.bytes.get(), waiting.bytes.get() + waiting.used);
      waiting.bytes.reset();  // returns the memory as early as possible
    }
    buffer.swap(table);
  }
  return length;
}

// Takes note of how far the cursor got.
void in_place_writer::take(out_cursor cursor) {
  if (cursor.end == nullptr) {
    out_ = static_cast<std::size_t>(cursor.at - base_);
  } else {
    piece& last = side_.back();
    const auto used = static_cast<std::size_t>(cursor.at - last.bytes.get());
    waiting_ += used - last.used;
    last.used = used;
  }
}

// Appends the waiting bytes to those in place; the caller has made sure
// that they do not reach input bytes still to be read.
void in_place_writer::move_side_into_place() {
  for (const piece& waiting : side_) {
    std::memcpy(base_ + out_, waiting.bytes.get(), waiting.used);
    out_ += waiting.used;
  }
  side_.clear();
  waiting_ = 0;
}

}  // namespace dbgparse
