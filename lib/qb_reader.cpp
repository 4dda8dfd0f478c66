#include "qb_reader.h"

#include <algorithm>
#include <cstring>
#include <utility>

#include "qb_layout.h"

namespace dbgparse::qb {
namespace {

// Where the first zero byte at or after `from` is; the size when none is.
std::size_t find_zero(std::span<const unsigned char> bytes, std::size_t from) {
  if (from >= bytes.size()) {
    return bytes.size();
  }
  const void* zero = std::memchr(bytes.data() + from, 0, bytes.size() - from);
  return zero == nullptr
             ? bytes.size()
             : static_cast<std::size_t>(static_cast<const unsigned char*>(zero) - bytes.data());
}

std::uint32_t read_little_endian(std::span<const unsigned char, checksum_size> bytes) {
  std::uint32_t checksum = 0;
  for (std::size_t k = checksum_size; k > 0; --k) {
    checksum = (checksum << 8U) | bytes[k - 1];
  }
  return checksum;
}

}  // namespace

std::size_t entry::body_size() const { return checksum_size + name.size() + padding; }

table_reader::table_reader(std::span<const unsigned char> table, std::size_t offset)
    : table_(table) {
  if (offset != 0) {
    started_ = true;
    resume_at(offset);
  }
}

std::optional<entry> table_reader::stop(std::size_t offset, const char* expected) {
  done_ = true;
  fault_ = qb::fault{offset, expected};
  return std::nullopt;
}

void table_reader::resume_at(std::size_t offset) {
  const std::size_t size = table_.size();
  const char* const a_marker = "00 2B (an entry's marker) or 00 00 (the end marker)";
  if (offset >= size || table_[offset] != entry_marker) {
    stop(std::min(offset, size), a_marker);
    return;
  }
  if (size - offset < marker_size) {
    stop(size, "2B (an entry's marker 00 2B) or 00 (the end marker 00 00)");
    return;
  }
  const unsigned char second = table_[offset + 1];
  if (second == entry_tag) {
    at_ = offset;
  } else if (second != end_marker[1]) {
    stop(offset + 1, "2B (an entry's marker 00 2B) or 00 (the end marker 00 00)");
  } else if (size - offset > end_marker.size()) {
    stop(offset + end_marker.size(), "the end of the file after the end marker 00 00");
  } else {
    done_ = true;
  }
}

std::optional<entry> table_reader::next() {
  if (done_) {
    return std::nullopt;
  }
  const std::size_t size = table_.size();
  if (!started_) {
    started_ = true;
    if (size == 0) {
      return stop(0, "a table (the file is empty)");
    }
    if (table_[0] == end_marker[0] && size >= end_marker.size() && table_[1] == end_marker[1]) {
      done_ = true;
      if (size > end_marker.size()) {
        return stop(end_marker.size(), "the end of the file after the end marker 00 00");
      }
      return std::nullopt;
    }
    if (table_[0] != first_entry_marker) {
      return stop(size == 1 ? 1 : 0,
                  "01 2B (the first entry's marker) or 00 00 (the end marker of an empty table)");
    }
    if (size < marker_size || table_[1] != entry_tag) {
      return stop(1, "2B (the first entry's marker is 01 2B)");
    }
  }

  // at_ is at a marker that has been checked.
  entry item;
  item.offset = at_;
  const std::size_t checksum_at = at_ + marker_size;
  if (size - checksum_at < checksum_size) {
    return stop(size, "4 value bytes (the entry is cut short)");
  }
  item.checksum = read_little_endian(table_.subspan(checksum_at).first<checksum_size>());
  const std::size_t name_at = checksum_at + checksum_size;
  const std::size_t name_end = find_zero(table_, name_at);
  if (name_end == size) {
    return stop(size, "a zero byte ending the name (the table has no end marker)");
  }
  item.name = table_.subspan(name_at, name_end - name_at);
  // Most names are followed right away by the next entry's marker.
  if (size - name_end > marker_size && table_[name_end + 1] == entry_tag) {
    at_ = name_end;
    return item;
  }
  if (!settle_padding(item, name_end)) {
    return std::nullopt;
  }
  return item;
}

bool table_reader::settle_padding(entry& item, std::size_t name_end) {
  const auto zeros_end = std::find_if(table_.begin() + static_cast<std::ptrdiff_t>(name_end),
                                      table_.end(), [](unsigned char c) { return c != 0; });
  const auto after = static_cast<std::size_t>(zeros_end - table_.begin());
  const std::size_t zeros = after - name_end;
  if (zeros_end == table_.end()) {
    if (zeros < end_marker.size()) {
      stop(after, "00 (the end marker is 00 00)");
      return false;
    }
    item.padding = zeros - end_marker.size();
    done_ = true;
    return true;
  }
  if (*zeros_end != entry_tag) {
    stop(after,
         zeros == 1
             ? "2B (an entry's marker 00 2B) or 00 (the end marker 00 00)"
             : "2B (an entry's marker 00 2B), or the end of the file after the end marker 00 00");
    return false;
  }
  // The last zero before the tag is the next marker's first byte.
  item.padding = zeros - 1;
  at_ = after - 1;
  return true;
}

}  // namespace dbgparse::qb
