// The table reader and the listing on arbitrary bytes: no crash, no read
// outside the input (the sanitizers watch), entries that tile the table
// exactly, every fault at an offset inside the file or at its end, the C
// interface's dbgparse_next_entry reading the same entries and the same
// fault, and a listing without warnings that converts back to the same
// bytes. Aborts otherwise. Built as a libFuzzer target, or linked with replay_main.cpp.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <optional>
#include <span>
#include <vector>

#include "conversion.h"
#include "dbgparse.h"
#include "qb_layout.h"
#include "qb_listing.h"
#include "qb_reader.h"

namespace {

[[noreturn]] void fail(const char* what, std::size_t at) {
  std::fprintf(stderr, "qb reader fuzz: %s (%zu)\n", what, at);
  std::abort();
}

// Walks the entries and checks that each starts where the last one ended,
// and that the C interface, called beside the reader, reads each alike.
void check_entries(std::span<const unsigned char> table) {
  namespace qb = dbgparse::qb;
  qb::table_reader reader(table);
  std::size_t expected_offset = 0;
  std::size_t c_offset = 0;
  dbgparse_entry c_entry{};
  const char* c_reason = nullptr;
  const auto c_next = [&] {
    return dbgparse_next_entry(table.data(), table.size(), &c_offset, &c_entry, &c_reason);
  };
  while (const std::optional<qb::entry> item = reader.next()) {
    if (item->offset != expected_offset) {
      fail("an entry starts elsewhere than where the last one ended", item->offset);
    }
    if (c_next() != DBGPARSE_OK || c_entry.offset != item->offset ||
        c_entry.checksum != item->checksum || c_entry.name != item->name.data() ||
        c_entry.name_length != item->name.size() || c_entry.padding != item->padding) {
      fail("dbgparse_next_entry reads another entry", item->offset);
    }
    const std::size_t name_at = item->offset + qb::head_size;
    if (item->name.data() != table.data() + name_at) {
      fail("a name does not follow its value", name_at);
    }
    expected_offset = item->offset + qb::marker_size + item->body_size();
  }
  const int c_end = c_next();
  if (reader.fault()) {
    if (reader.fault()->offset > table.size()) {
      fail("a fault lies past the end of the table", reader.fault()->offset);
    }
    if (c_end != DBGPARSE_ERROR_MALFORMED || c_offset != reader.fault()->offset ||
        c_reason != reader.fault()->expected) {
      fail("dbgparse_next_entry reports another fault", c_offset);
    }
    return;
  }
  if (c_end != DBGPARSE_END || c_offset != table.size()) {
    fail("dbgparse_next_entry does not end with the table", c_offset);
  }
  if (expected_offset + qb::end_marker.size() != table.size()) {
    fail("the entries and the end marker do not make up the table", expected_offset);
  }
}

void check_listing(std::span<const unsigned char> table) {
  std::vector<unsigned char> listing;
  const dbgparse::qb::listing_outcome outcome = dbgparse::qb::write_listing(
      table,
      [&listing](std::span<const unsigned char> piece) {
        listing.insert(listing.end(), piece.begin(), piece.end());
        return true;
      },
      [](const dbgparse::qb::listing_warning&) {});
  if (outcome.fault || outcome.left_out > 0) {
    return;
  }
  listing.resize(dbgparse::parse_qb(listing, listing.size()));
  if (!std::equal(listing.begin(), listing.end(), table.begin(), table.end())) {
    fail("a listing without warnings converts to another table", listing.size());
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::span<const unsigned char> table(data, size);
  check_entries(table);
  check_listing(table);
  return 0;
}
