// The table on its way to the output file: the conversion fills this
// writer's memory directly, and for a large input a worker thread writes
// each full piece while the next is being converted, so that converting and
// writing overlap. A small input's table, or one where no thread can be had,
// is written on the converting thread.
#pragma once

#include <condition_variable>
#include <cstddef>
#include <deque>
#include <memory>
#include <mutex>
#include <span>
#include <vector>

#include "byte_sink.h"
#include "platform.h"

namespace dbgparse {

class table_output final : public piece_exchange {
 public:
  // Inputs from this size on have their tables written by a worker thread.
  // Paired whole runs with and without it: 0.94 of the time at 16 MiB,
  // 0.81 at 64 MiB, 0.74 at 256 MiB, but 1.47 at 4 MiB and 1.32 at 1 MiB,
  // where the thread and its buffers cost more than the overlap saves.
  static constexpr std::size_t overlapped_from = std::size_t{16} << 20;

  // Writes to `output`, which must stay open until finish() returns.
  table_output(platform::output_file& output, std::size_t input_size);
  ~table_output() override { finish(); }

  std::span<unsigned char> next_piece(std::span<const unsigned char> full) override;
  bool last_piece(std::span<const unsigned char> full) override;
  // Waits until every piece taken is written; false when one could not be.
  bool finish();

 private:
  // A piece's memory, and how much of it the conversion filled.
  struct piece {
    unsigned char* memory;
    std::size_t size;
  };
  // The pieces' size when written on the converting thread, and when written
  // by the worker; the conversion waits while this many are full at once.
  static constexpr std::size_t small_piece_size = std::size_t{64} << 10;
  static constexpr std::size_t large_piece_size = std::size_t{1} << 20;
  static constexpr std::size_t most_full = 4;

  // Takes the piece being filled, to be written; false once a write failed.
  bool take(std::span<const unsigned char> full);
  void write_out();  // the worker thread's loop

  platform::output_file& output_;
  platform::worker_thread worker_;
  bool overlapped_ = false;
  std::size_t piece_size_ = small_piece_size;
  std::vector<std::unique_ptr<unsigned char[]>> memory_;  // every piece's
  unsigned char* filling_ = nullptr;                      // the piece being filled
  std::mutex lock_;                                       // guards what follows
  std::condition_variable changed_;
  std::deque<piece> full_;  // to write, in order
  std::vector<unsigned char*> free_;
  bool done_ = false;    // no piece comes any more
  bool failed_ = false;  // a write failed
};

}  // namespace dbgparse
