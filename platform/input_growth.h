// How the input's buffer grows when the data outgrows it, the same on every
// system: by half of what arrived, and by a pipe's worth at least, so that
// reading a pipe or a growing file copies each byte a bounded number of
// times however long it runs.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>

namespace dbgparse::platform {

inline constexpr std::size_t min_input_growth = std::size_t{64} << 10;

// The capacity after `capacity` bytes, `count` of them filled, have run out;
// 0 when no larger size can be had.
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

}  // namespace dbgparse::platform
