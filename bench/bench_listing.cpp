// qbdump's listing, in table entries per second, on generated tables of two
// shapes, so that the cost per entry of the hardest names shows beside that
// of common ones:
//   realistic  identifier-like names of 5 to 40 bytes, none holding "0x"
//   0x_runs    names of "0x" said 120 times: each name holds a checksum line
//              that the listing must rule out by converting, and none can be
//              listed
#include <benchmark/benchmark.h>

#include <cstddef>
#include <cstdint>
#include <random>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "qb_layout.h"
#include "qb_listing.h"

namespace {

namespace qb = dbgparse::qb;

enum class shape { realistic, zero_x_runs };

void append_entry(std::vector<unsigned char>& table, std::uint32_t checksum,
                  std::string_view name) {
  table.push_back(table.empty() ? qb::first_entry_marker : qb::entry_marker);
  table.push_back(qb::entry_tag);
  for (std::size_t k = 0; k < qb::checksum_size; ++k) {
    table.push_back(static_cast<unsigned char>(checksum >> (8 * k)));
  }
  table.insert(table.end(), name.begin(), name.end());
}

std::vector<unsigned char> generate(shape kind, std::size_t entries) {
  std::vector<unsigned char> table;
  std::mt19937_64 random(20261208);  // NOLINT(cert-msc32-c,cert-msc51-cpp)
  constexpr std::string_view letters = "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ_";
  std::string name;
  for (std::size_t k = 0; k < entries; ++k) {
    name.clear();
    if (kind == shape::zero_x_runs) {
      for (int i = 0; i < 120; ++i) {
        name += "0x";
      }
    } else {
      const std::size_t length = 5 + random() % 36;
      while (name.size() < length) {
        name += letters[random() % letters.size()];
      }
    }
    append_entry(table, static_cast<std::uint32_t>(random()), name);
  }
  table.insert(table.end(), qb::end_marker.begin(), qb::end_marker.end());
  return table;
}

void bm_listing(benchmark::State& state, shape kind) {
  const auto entries = static_cast<std::size_t>(state.range(0));
  const std::vector<unsigned char> table = generate(kind, entries);
  std::size_t listed = 0;
  std::size_t left_out = 0;
  const dbgparse::byte_sink sink = [&listed](std::span<const unsigned char> piece) {
    listed += piece.size();
    return true;
  };
  const qb::warning_sink warn = [&left_out](const qb::listing_warning&) { ++left_out; };
  for (auto _ : state) {  // NOLINT(clang-analyzer-deadcode.DeadStores)
    listed = 0;
    left_out = 0;
    benchmark::DoNotOptimize(qb::write_listing(table, sink, warn));
  }
  state.SetItemsProcessed(state.iterations() * state.range(0));
  state.counters["table_MiB"] = static_cast<double>(table.size()) / (1 << 20);
  state.counters["left_out"] = static_cast<double>(left_out);
}

BENCHMARK_CAPTURE(bm_listing, realistic, shape::realistic)
    ->Arg(50000)
    ->Arg(200000)
    ->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(bm_listing, 0x_runs, shape::zero_x_runs)
    ->Arg(50000)
    ->Arg(200000)
    ->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
