// Reading a QB checksum table back, entry by entry.
//
// What it reads: the bytes of a whole table, laid out as qb_layout.h says.
// An entry is its marker (01 2B for the first, 00 2B for each later one),
// the checksum as 4 little-endian bytes and the name up to its first zero byte.
// Zero bytes after the name are its padding; they run up to the next entry's
// marker 00 2B or to the end marker 00 00, which must be the file's last two
// bytes. A table without entries is 00 00 alone.
//
// What it returns: each entry in order, then either the end of the table or
// one fault. Entries before a fault are returned as usual; the entry that the
// fault cuts off is not. A fault's offset is where the expected bytes were
// missing or wrong: always at most the table's size, and equal to it when
// the table ends too soon (an empty file gives offset 0).
//
// | Fault                                           | Offset                    |
// |-------------------------------------------------|---------------------------|
// | empty file                                      | 0                         |
// | first marker neither 01 2B nor 00 00            | of the wrong byte         |
// | an entry's checksum or name cut off by the end  | the table's size          |
// | padding followed by a byte other than 2B        | of that byte              |
// | one zero byte at the end, no full end marker    | the table's size          |
// | bytes after the end marker of an empty table    | 2                         |
//
// Nothing is read outside `table`, whatever its bytes; nothing is copied.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>

namespace dbgparse::qb {

struct entry {
  std::size_t offset = 0;  // of the entry's marker in the table
  std::uint32_t checksum = 0;
  std::span<const unsigned char> name;  // up to the first zero byte, into the table
  std::size_t padding = 0;              // zero bytes between the name and the next marker

  // The bytes that follow the marker: checksum, name and padding.
  [[nodiscard]] std::size_t body_size() const;
};

struct fault {
  std::size_t offset = 0;
  const char* expected = "";  // what should have been there, as a phrase; static
};

class table_reader {
 public:
  explicit table_reader(std::span<const unsigned char> table) : table_(table) {}
  // Reads on from `offset`, where a reader of the same table stood after
  // returning an entry: at a later entry's marker 00 2B, or at the end marker
  // as the table's last two bytes. Anything else there is a fault, found by
  // the first next(). Offset 0 is the table's start, as above.
  table_reader(std::span<const unsigned char> table, std::size_t offset);

  // The next entry, or nothing at the end of the table or at a fault.
  std::optional<entry> next();

  // Set once next() has stopped at a fault.
  [[nodiscard]] const std::optional<qb::fault>& fault() const { return fault_; }
  // True once next() has reached a well-formed end.
  [[nodiscard]] bool at_end() const { return done_ && !fault_; }

 private:
  std::optional<entry> stop(std::size_t offset, const char* expected);

  std::span<const unsigned char> table_;
  std::size_t at_ = 0;  // of the next marker; 0 only before the first
  bool done_ = false;
  std::optional<qb::fault> fault_;
};

}  // namespace dbgparse::qb
