// Throughput of the conversion, in input bytes per second, through each of
// its entry points (parse_qb, over its own buffer as the listing converts;
// write_table, streamed in blocks to a sink as dbgparse converts, here a sink
// that keeps nothing), on generated DBG inputs of several shapes, each at
// doubling sizes so that linear scaling shows as an unchanged rate:
//   realistic   a few lines before the header, then "0x" + 8 hex digits + a
//               blank + an identifier-like name of 5 to 40 bytes + CR LF
//   lf_only     the same lines ending in LF alone
//   long_texts  names of 256 to 1024 bytes, so every text is cut to 255
//   worst_case  one line whose text is "0x" repeated: an entry every 12 input
//               bytes, each repeating a 255-byte tail (a table ~22x the input)
#include <benchmark/benchmark.h>

#include <cstddef>
#include <cstdint>
#include <random>
#include <span>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "conversion.h"

#if defined(__SSE2__) || defined(_M_X64)
#include <emmintrin.h>
#endif

namespace {

constexpr std::size_t mib = std::size_t{1} << 20;

enum class shape { realistic, lf_only, long_texts, worst_case };
enum class entry_point { parse_qb, write_table };

void append(std::vector<unsigned char>& out, std::string_view text) {
  out.insert(out.end(), text.begin(), text.end());
}

// A "0x" inside a name would start a checksum line of its own; real names
// rarely hold one, so these never do.
void append_name(std::vector<unsigned char>& out, std::mt19937_64& random, std::size_t length) {
  constexpr std::string_view first = "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ_";
  constexpr std::string_view rest =
      "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ_0123456789";
  out.push_back(static_cast<unsigned char>(first[random() % first.size()]));
  for (std::size_t i = 1; i < length; ++i) {
    char next = rest[random() % rest.size()];
    if (next == 'x' && out.back() == '0') {
      next = 'y';
    }
    out.push_back(static_cast<unsigned char>(next));
  }
}

void append_checksum(std::vector<unsigned char>& out, std::uint32_t checksum) {
  constexpr std::string_view digits = "0123456789ABCDEF";
  append(out, "0x");
  for (int shift = 28; shift >= 0; shift -= 4) {
    out.push_back(static_cast<unsigned char>(digits[(checksum >> shift) & 0xFU]));
  }
}

// About `size` bytes of the given shape (whole lines, so a little more),
// the same bytes on every run.
std::vector<unsigned char> generate(shape kind, std::size_t size) {
  std::vector<unsigned char> out;
  out.reserve(size + 2048);
  append(out, "; Checksums of the data files\r\n[Info]\r\nVersion=2\r\n\r\n[Checksums]\r\n");
  if (kind == shape::worst_case) {
    while (out.size() + 4 <= size) {
      append(out, "0x");
    }
    append(out, "\r\n");
    return out;
  }
  std::mt19937_64 random(20261207);  // NOLINT(cert-msc32-c,cert-msc51-cpp)
  const std::size_t min_length = kind == shape::long_texts ? 256 : 5;
  const std::size_t max_length = kind == shape::long_texts ? 1024 : 40;
  const std::string_view line_end = kind == shape::lf_only ? "\n" : "\r\n";
  while (out.size() < size) {
    append_checksum(out, static_cast<std::uint32_t>(random()));
    out.push_back(' ');
    append_name(out, random, min_length + random() % (max_length - min_length + 1));
    append(out, line_end);
  }
  return out;
}

// Flushes the bytes out of the caches, so that every size starts as a large
// input does: from memory. Otherwise a small input, just copied, would be
// converted from the cache and seem faster per byte than a large one.
void evict_from_caches(const std::vector<unsigned char>& bytes) {
#if defined(__SSE2__) || defined(_M_X64)
  constexpr std::size_t cache_line = 64;
  for (std::size_t at = 0; at < bytes.size(); at += cache_line) {
    _mm_clflush(bytes.data() + at);
  }
  _mm_mfence();
#else
  static_cast<void>(bytes);
#endif
}

void bm_convert(benchmark::State& state, shape kind, entry_point way) {
  const std::vector<unsigned char> input =
      generate(kind, static_cast<std::size_t>(state.range(0)) * mib);
  std::vector<unsigned char> buffer;
  std::size_t table_length = 0;
  const dbgparse::byte_sink count = [&table_length](std::span<const unsigned char> piece) {
    table_length += piece.size();
    return true;
  };
  for (auto _ : state) {  // NOLINT(clang-analyzer-deadcode.DeadStores)
    // parse_qb leaves the table in the buffer: give every run the input anew.
    state.PauseTiming();
    buffer.assign(input.begin(), input.end());
    evict_from_caches(buffer);
    table_length = 0;
    state.ResumeTiming();
    if (way == entry_point::parse_qb) {
      table_length = dbgparse::parse_qb(buffer, input.size());
    } else {
      dbgparse::write_table(buffer, count);
    }
    benchmark::DoNotOptimize(buffer.data());
    benchmark::ClobberMemory();
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) *
                          static_cast<std::int64_t>(input.size()));
  state.counters["input_MiB"] = static_cast<double>(input.size()) / mib;
  state.counters["table_MiB"] = static_cast<double>(table_length) / mib;
}

}  // namespace

int main(int argc, char** argv) {
  struct shape_sizes {
    const char* name;
    shape kind;
    std::int64_t smallest_mib;
    std::int64_t largest_mib;
  };
  // The worst case stays smaller: its table is ~22x its input.
  const shape_sizes shapes[] = {{"realistic", shape::realistic, 4, 64},
                                {"lf_only", shape::lf_only, 4, 64},
                                {"long_texts", shape::long_texts, 4, 64},
                                {"worst_case", shape::worst_case, 2, 32}};
  const std::pair<const char*, entry_point> ways[] = {{"parse_qb", entry_point::parse_qb},
                                                      {"write_table", entry_point::write_table}};
  for (const shape_sizes& s : shapes) {
    for (const auto& [way_name, way] : ways) {
      const std::string name = std::string("bm_convert/") + s.name + "/" + way_name;
      benchmark::RegisterBenchmark(name.c_str(), bm_convert, s.kind, way)
          ->RangeMultiplier(2)
          ->Range(s.smallest_mib, s.largest_mib)
          ->Unit(benchmark::kMillisecond);
    }
  }
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
