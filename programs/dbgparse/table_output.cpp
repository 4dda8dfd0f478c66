#include "table_output.h"

#include <utility>

namespace dbgparse {

table_output::table_output(platform::output_file& output, std::size_t input_size)
    : output_(output) {
  if (input_size >= overlapped_from) {
    filling_.reserve(buffer_size);
    overlapped_ = worker_.start([this] { write_out(); });
  }
}

bool table_output::write(std::span<const unsigned char> piece) {
  if (!overlapped_) {
    failed_ = failed_ || !output_.write(piece);
    return !failed_;
  }
  // Handed over before the piece would outgrow the buffer, so that no buffer
  // is ever copied into a larger one.
  if (!filling_.empty() && filling_.size() + piece.size() > buffer_size) {
    hand_over();
  }
  filling_.insert(filling_.end(), piece.begin(), piece.end());
  const std::scoped_lock held(lock_);
  return !failed_;
}

void table_output::hand_over() {
  std::unique_lock held(lock_);
  changed_.wait(held, [this] { return full_.size() < most_full || failed_; });
  full_.push_back(std::move(filling_));
  if (free_.empty()) {
    filling_ = {};
    filling_.reserve(buffer_size);
  } else {
    filling_ = std::move(free_.back());
    free_.pop_back();
  }
  held.unlock();
  changed_.notify_all();
}

void table_output::write_out() {
  std::unique_lock held(lock_);
  for (;;) {
    changed_.wait(held, [this] { return !full_.empty() || done_; });
    if (full_.empty()) {
      return;
    }
    std::vector<unsigned char> buffer = std::move(full_.front());
    full_.pop_front();
    const bool skip = failed_;
    held.unlock();
    // After a failure the rest is only taken back, never written.
    const bool written = skip || output_.write(buffer);
    buffer.clear();
    held.lock();
    failed_ = failed_ || !written;
    free_.push_back(std::move(buffer));
    changed_.notify_all();
  }
}

bool table_output::finish() {
  if (overlapped_) {
    overlapped_ = false;
    if (!filling_.empty()) {
      hand_over();
    }
    {
      const std::scoped_lock held(lock_);
      done_ = true;
    }
    changed_.notify_all();
    worker_.join();
  }
  return !failed_;
}

}  // namespace dbgparse
