#include "qb_reader.h"

#include <algorithm>
#include <cstring>

#include "qb_layout.h"

namespace dbgparse::qb {
namespace {

// What a fault says was missing, where more than one fault says it.
constexpr const char* marker_or_end = "2B (an entry's marker 00 2B) or 00 (the end marker 00 00)";
constexpr const char* end_after_end_marker = "the end of the file after the end marker 00 00";

}  // namespace

std::size_t entry::body_size() const { return checksum_size + name.size() + padding; }

table_reader::table_reader(std::span<const unsigned char> table, std::size_t offset)
    : table_(table) {
  if (offset == 0) {
    return;
  }
  const std::size_t size = table_.size();
  if (offset >= size || table_[offset] != entry_marker) {
    stop(std::min(offset, size), "00 2B (an entry's marker) or 00 00 (the end marker)");
  } else if (size - offset < marker_size) {
    stop(size, marker_or_end);
  } else if (table_[offset + 1] == entry_tag) {
    at_ = offset;
  } else if (table_[offset + 1] != end_marker[1]) {
    stop(offset + 1, marker_or_end);
  } else if (size - offset > end_marker.size()) {
    stop(offset + end_marker.size(), end_after_end_marker);
  } else {
    done_ = true;
  }
}

std::optional<entry> table_reader::stop(std::size_t offset, const char* expected) {
  done_ = true;
  fault_ = qb::fault{offset, expected};
  return std::nullopt;
}

std::optional<entry> table_reader::next() {
  if (done_) {
    return std::nullopt;
  }
  const std::size_t size = table_.size();
  if (at_ == 0) {  // before the first marker, which is checked here
    if (size == 0) {
      return stop(0, "a table (the file is empty)");
    }
    if (table_[0] == end_marker[0] && size >= end_marker.size() && table_[1] == end_marker[1]) {
      done_ = true;
      if (size > end_marker.size()) {
        return stop(end_marker.size(), end_after_end_marker);
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
  for (std::size_t k = checksum_size; k > 0; --k) {  // little-endian
    item.checksum = (item.checksum << 8U) | table_[checksum_at + k - 1];
  }
  const std::size_t name_at = checksum_at + checksum_size;
  const void* zero = std::memchr(table_.data() + name_at, 0, size - name_at);
  if (zero == nullptr) {
    return stop(size, "a zero byte ending the name (the table has no end marker)");
  }
  const auto name_end =
      static_cast<std::size_t>(static_cast<const unsigned char*>(zero) - table_.data());
  item.name = table_.subspan(name_at, name_end - name_at);
  // Most names are followed right away by the next entry's marker.
  if (size - name_end > marker_size && table_[name_end + 1] == entry_tag) {
    at_ = name_end;
    return item;
  }
  // Otherwise the padding runs up to the next marker's 2B or to the end.
  const auto zeros_end = std::find_if(table_.begin() + static_cast<std::ptrdiff_t>(name_end),
                                      table_.end(), [](unsigned char c) { return c != 0; });
  const auto after = static_cast<std::size_t>(zeros_end - table_.begin());
  const std::size_t zeros = after - name_end;
  if (zeros_end == table_.end()) {
    if (zeros < end_marker.size()) {
      return stop(after, "00 (the end marker is 00 00)");
    }
    item.padding = zeros - end_marker.size();
    done_ = true;
    return item;
  }
  if (*zeros_end != entry_tag) {
    return stop(
        after,
        zeros == 1
            ? marker_or_end
            : "2B (an entry's marker 00 2B), or the end of the file after the end marker 00 00");
  }
  // The last zero before the tag is the next marker's first byte.
  item.padding = zeros - 1;
  at_ = after - 1;
  return item;
}

}  // namespace dbgparse::qb
