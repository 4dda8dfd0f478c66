#include "table_output.h"

namespace dbgparse {

table_output::table_output(platform::output_file& output, std::size_t input_size)
    : output_(output) {
  if (input_size >= overlapped_from) {
    overlapped_ = worker_.start([this] { write_out(); });
  }
  if (overlapped_) {
    piece_size_ = large_piece_size;
  }
}

std::span<unsigned char> table_output::next_piece(std::span<const unsigned char> full) {
  if (!full.empty() && !take(full)) {
    return {};
  }
  std::unique_lock held(lock_);
  if (free_.empty() && memory_.size() < most_full + 1) {
    memory_.push_back(std::make_unique_for_overwrite<unsigned char[]>(piece_size_));
    free_.push_back(memory_.back().get());
  }
  changed_.wait(held, [this] { return !free_.empty() || failed_; });
  if (failed_) {
    return {};
  }
  filling_ = free_.back();
  free_.pop_back();
  return {filling_, piece_size_};
}

bool table_output::last_piece(std::span<const unsigned char> full) {
  const bool taken = take(full);
  filling_ = nullptr;
  return taken;
}

bool table_output::take(std::span<const unsigned char> full) {
  if (!overlapped_) {
    failed_ = failed_ || !output_.write(full);
    const std::scoped_lock held(lock_);
    free_.push_back(filling_);
    return !failed_;
  }
  {
    const std::scoped_lock held(lock_);
    full_.push_back({filling_, full.size()});
  }
  changed_.notify_all();
  const std::scoped_lock held(lock_);
  return !failed_;
}

void table_output::write_out() {
  std::unique_lock held(lock_);
  for (;;) {
    changed_.wait(held, [this] { return !full_.empty() || done_; });
    if (full_.empty()) {
      return;
    }
    const piece next = full_.front();
    full_.pop_front();
    const bool skip = failed_;
    held.unlock();
    // After a failure the rest is only taken back, never written.
    const bool written = skip || output_.write({next.memory, next.size});
    held.lock();
    failed_ = failed_ || !written;
    free_.push_back(next.memory);
    changed_.notify_all();
  }
}

bool table_output::finish() {
  if (overlapped_) {
    overlapped_ = false;
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
