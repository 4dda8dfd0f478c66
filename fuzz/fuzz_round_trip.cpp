// The listing's promise: arbitrary bytes as a DBG file, dbgparse's table of
// them, qbdump's listing of that table, converted again, must give the same
// table byte for byte unless the listing warned. Aborts otherwise. Built as
// a libFuzzer target, or linked with replay_main.cpp to run a corpus.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <span>
#include <vector>

#include "conversion.h"
#include "qb_listing.h"

namespace {

std::vector<unsigned char> table_of(std::span<const unsigned char> dbg) {
  std::vector<unsigned char> buffer(dbg.begin(), dbg.end());
  buffer.resize(dbgparse::parse_qb(buffer, buffer.size()));
  return buffer;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::vector<unsigned char> table = table_of(std::span<const unsigned char>(data, size));
  std::vector<unsigned char> listing;
  std::size_t warnings = 0;
  const dbgparse::qb::listing_outcome outcome = dbgparse::qb::write_listing(
      table,
      [&listing](std::span<const unsigned char> piece) {
        listing.insert(listing.end(), piece.begin(), piece.end());
        return true;
      },
      [&warnings](const dbgparse::qb::listing_warning&) { ++warnings; });
  if (outcome.fault) {
    std::fprintf(stderr, "qbdump fuzz: dbgparse's table has a fault at byte %zu: %s\n",
                 outcome.fault->offset, outcome.fault->expected);
    std::abort();
  }
  if (warnings != outcome.left_out) {
    std::fprintf(stderr, "qbdump fuzz: %zu warnings for %zu entries left out\n", warnings,
                 outcome.left_out);
    std::abort();
  }
  if (warnings == 0 && table_of(listing) != table) {
    std::fprintf(stderr, "qbdump fuzz: the listing (%zu bytes) converts to another table\n",
                 listing.size());
    std::abort();
  }
  return 0;
}
