// The table on its way to the output file: written by a worker thread while
// a large input is still being converted, so that converting and writing
// overlap; on the converting thread for a small input, or where no thread
// can be had.
#pragma once

#include <condition_variable>
#include <cstddef>
#include <deque>
#include <mutex>
#include <span>
#include <vector>

#include "platform.h"

namespace dbgparse {

class table_output {
 public:
  // Inputs from this size on have their tables written by a worker thread.
  // Paired whole runs with and without it: 0.94 of the time at 16 MiB,
  // 0.81 at 64 MiB, 0.74 at 256 MiB, but 1.47 at 4 MiB and 1.32 at 1 MiB,
  // where the thread and its buffers cost more than the overlap saves.
  static constexpr std::size_t overlapped_from = std::size_t{16} << 20;

  // Writes to `output`, which must stay open until finish() returns.
  table_output(platform::output_file& output, std::size_t input_size);
  table_output(const table_output&) = delete;
  table_output& operator=(const table_output&) = delete;
  ~table_output() { finish(); }

  // The conversion's sink: takes the next piece of the table; false once a
  // write has failed.
  bool write(std::span<const unsigned char> piece);
  // Waits until every piece taken is written; false when one could not be.
  bool finish();

 private:
  // Pieces are gathered into buffers of this size, and at most this many
  // are full at once: the converting thread waits while the writer is
  // that far behind.
  static constexpr std::size_t buffer_size = std::size_t{1} << 20;
  static constexpr std::size_t most_full = 4;

  void hand_over();  // the buffer being filled goes to the writer
  void write_out();  // the worker thread's loop

  platform::output_file& output_;
  platform::worker_thread worker_;
  bool overlapped_ = false;
  std::vector<unsigned char> filling_;
  std::mutex lock_;  // guards what follows
  std::condition_variable changed_;
  std::deque<std::vector<unsigned char>> full_;  // to write, in order
  std::vector<std::vector<unsigned char>> free_;
  bool done_ = false;    // no piece comes any more
  bool failed_ = false;  // a write failed
};

}  // namespace dbgparse
