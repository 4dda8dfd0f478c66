// The table streamed to a sink in blocks. The sink runs on a thread of its
// own, so that writing one block overlaps with filling the next: the scan
// fills the blocks of a small ring one after another, and the writing thread
// hands them to the sink in the same order. A block is filled again only
// once the sink has taken it. The first block's worth goes out in small
// pieces on the scan's thread, and the writing thread starts only when the
// first full block after it is, so a table that fits in one block needs
// none; where no thread can be had the sink is called on the scan's own.
#include <algorithm>
#include <cstdint>
#include <new>
#include <span>
#include <system_error>

#include "table_writers.h"

namespace dbgparse {
namespace {

// The ring's size in bytes; more than memory can hold throws, as a vector
// of that size would.
std::size_t ring_size(std::size_t block_size, std::size_t block_count) {
  if (block_size > SIZE_MAX / block_count) {
    throw std::bad_alloc();
  }
  return block_size * block_count;
}

}  // namespace

block_writer::block_writer(const byte_sink& sink, std::size_t block_size)
    : sink_(sink),
      block_size_(std::max(block_size, min_block_size)),
      blocks_(std::make_unique_for_overwrite<unsigned char[]>(ring_size(block_size_, block_count))),
      small_bytes_left_(block_size_ > small_piece_size ? block_size_ : 0) {}

block_writer::~block_writer() {
  // Reached with the thread running only when the scan did not finish: the
  // blocks still waiting are dropped.
  if (thread_.joinable()) {
    {
      const std::lock_guard<std::mutex> lock(mutex_);
      failed_ = true;
    }
    changed_.notify_all();
    thread_.join();
  }
}

out_cursor block_writer::start() {
  unsigned char* const begin = block(handed_);
  return {begin, begin + (small_bytes_left_ > 0 ? small_piece_size : block_size_)};
}

out_cursor block_writer::refill(out_cursor cursor, std::size_t /*count*/,
                                const unsigned char* /*keep_from*/) {
  if (small_bytes_left_ > 0) {
    return write_small_piece(cursor) ? start() : out_cursor{};
  }
  hand_over(cursor);
  std::unique_lock<std::mutex> lock(mutex_);
  // The next block is free once the sink has taken what it held before.
  changed_.wait(lock, [this] { return failed_ || handed_ - written_ < block_count; });
  return failed_ ? out_cursor{} : start();
}

bool block_writer::finish(out_cursor cursor) {
  if (small_bytes_left_ > 0) {
    return write_small_piece(cursor);
  }
  if (!thread_.joinable()) {
    on_this_thread_ = true;  // the last block needs no thread of its own
  }
  hand_over(cursor);
  if (thread_.joinable()) {
    {
      const std::lock_guard<std::mutex> lock(mutex_);
      closing_ = true;
    }
    changed_.notify_all();
    thread_.join();
  }
  return !failed_;
}

unsigned char* block_writer::block(std::size_t number) const {
  return blocks_.get() + (number % block_count) * block_size_;
}

// Before the writing thread exists: the piece at the ring's start goes to
// the sink at once, and the same memory takes the next.
bool block_writer::write_small_piece(out_cursor cursor) {
  const std::span<const unsigned char> piece(blocks_.get(), cursor.at);
  small_bytes_left_ -= std::min(small_bytes_left_, piece.size());
  // The sink never gets an empty piece.
  failed_ = !piece.empty() && !sink_(piece);
  return !failed_;
}

void block_writer::hand_over(out_cursor cursor) {
  std::unique_lock<std::mutex> lock(mutex_);
  used_[handed_ % block_count] = static_cast<std::size_t>(cursor.at - block(handed_));
  ++handed_;
  if (thread_.joinable()) {
    lock.unlock();
    changed_.notify_all();
    return;
  }
  if (!on_this_thread_) {
    try {
      thread_ = std::thread([this] { write_blocks(); });
      return;
    } catch (const std::system_error&) {
      on_this_thread_ = true;
    }
  }
  while (!failed_ && written_ < handed_) {
    write_next(lock);
  }
}

void block_writer::write_blocks() {
  std::unique_lock<std::mutex> lock(mutex_);
  while (true) {
    changed_.wait(lock, [this] { return failed_ || closing_ || written_ < handed_; });
    if (failed_ || written_ == handed_) {
      return;
    }
    write_next(lock);
  }
}

void block_writer::write_next(std::unique_lock<std::mutex>& lock) {
  const std::span<const unsigned char> bytes(block(written_), used_[written_ % block_count]);
  lock.unlock();
  // The sink never gets an empty piece.
  const bool taken = bytes.empty() || sink_(bytes);
  lock.lock();
  if (taken) {
    ++written_;
  } else {
    failed_ = true;
  }
  changed_.notify_all();
}

}  // namespace dbgparse
