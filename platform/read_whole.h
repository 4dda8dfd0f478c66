// Reading an input whole, the same on every system. The size from the
// file's status is only a first guess: a pipe reports none, a /proc file 0,
// and a file may grow before it is read, so the read goes on to the end of
// the data whatever it said.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <utility>

#include "input_memory.h"
#include "platform.h"

namespace dbgparse::platform {

inline constexpr std::size_t min_input_growth = std::size_t{64} << 10;

// The capacity after `capacity` bytes, `count` of them filled, have run out;
// 0 when no larger size can be had. It grows by half of what arrived, and by
// a pipe's worth at least, so that reading a pipe or a growing file copies
// each byte a bounded number of times however long it runs.
constexpr std::size_t grown_input_capacity(std::size_t capacity, std::size_t count) {
  const std::size_t growth = std::max(count / 2, min_input_growth);
  return growth > SIZE_MAX - capacity ? 0 : capacity + growth;
}

// The first capacity for an input whose size the system gave as `size`:
// one byte beyond it, so that the read that finds the end needs no larger
// buffer. 0 when that size cannot be held in memory at all.
constexpr std::size_t first_input_capacity(std::uint64_t size) {
  return size >= SIZE_MAX ? 0 : static_cast<std::size_t>(size) + 1;
}

// Reads to the end into memory of `capacity` bytes first, grown as it fills.
// `read_some(into, room, got)` reads at most `room` bytes, sets `got` (0 at
// the end) and returns false when the read failed, the system's reason
// kept for failure_reason().
template <class reader>
read_result read_whole(std::size_t capacity, const reader& read_some, input_bytes& input) {
  // Left uninitialised: the read fills what is used.
  std::shared_ptr<unsigned char[]> memory =
      capacity == 0 ? nullptr : allocate_input_memory(capacity);
  if (!memory) {
    return read_result::no_memory;
  }
  std::size_t count = 0;
  for (;;) {
    if (count == capacity) {
      capacity = grown_input_capacity(capacity, count);
      std::shared_ptr<unsigned char[]> larger =
          capacity == 0 ? nullptr : allocate_input_memory(capacity);
      if (!larger) {
        return read_result::no_memory;
      }
      std::copy_n(memory.get(), count, larger.get());
      memory = std::move(larger);
    }
    std::size_t got = 0;
    if (!read_some(memory.get() + count, capacity - count, got)) {
      return read_result::cannot_read;
    }
    if (got == 0) {
      break;
    }
    count += got;
  }
  input.bytes = std::span<const unsigned char>(memory.get(), count);
  input.owner = std::move(memory);
  return read_result::ok;
}

}  // namespace dbgparse::platform
