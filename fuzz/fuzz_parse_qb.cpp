// Converts arbitrary bytes with dbgparse::parse_qb and with the reference
// model, and aborts on any difference between them or on a table that breaks
// the layout's own rules. Built as a libFuzzer target, or linked with
// replay_main.cpp to run a corpus of saved inputs.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <span>
#include <string>
#include <vector>

#include "conversion.h"
#include "dbg_line.h"
#include "diagnosis.h"
#include "reference_model.h"

namespace {

[[noreturn]] void fail(const std::string& what) {
  std::fprintf(stderr, "dbgparse fuzz check failed: %s\n", what.c_str());
  std::fflush(stderr);
  std::abort();
}

void print_bytes(const char* label, std::span<const unsigned char> table, std::size_t around) {
  const std::size_t from = around > 16 ? around - 16 : 0;
  const std::size_t to = std::min(table.size(), around + 16);
  std::fprintf(stderr, "%s, bytes %zu to %zu:", label, from, to);
  for (std::size_t k = from; k < to; ++k) {
    std::fprintf(stderr, " %02X", table[k]);
  }
  std::fprintf(stderr, "\n");
}

void check_same_table(std::span<const unsigned char> actual, std::span<const unsigned char> model,
                      const char* how) {
  const auto difference = std::mismatch(actual.begin(), actual.end(), model.begin(), model.end());
  if (difference.first == actual.end() && difference.second == model.end()) {
    return;
  }
  const auto at = static_cast<std::size_t>(difference.first - actual.begin());
  print_bytes("parse_qb", actual, at);
  print_bytes("model   ", model, at);
  fail(std::string(how) + ": parse_qb gives " + std::to_string(actual.size()) +
       " bytes, the model " + std::to_string(model.size()) + ", first difference at byte " +
       std::to_string(at));
}

void check_line_end_search(std::span<const unsigned char> input) {
  const std::size_t n = input.size();
  for (const std::size_t count : {n, n / 2, std::min<std::size_t>(n, 1), std::size_t{0}}) {
    const std::size_t offset = dbgparse::dbg::line_end(input.first(count), 0);
    // The model answers 0 both for a line end at the start and for none.
    const std::size_t model = reference_model::line_end_offset(input, 0, count);
    const bool agrees = offset == count
                            ? model == 0 && (count == 0 || !dbgparse::dbg::is_line_end(input[0]))
                            : offset == model;
    if (!agrees) {
      fail("the line-end search differs for n = " + std::to_string(count));
    }
  }
}

// The model's reading of a value field, against the C library's own on a
// zero-terminated copy; a zero byte stops both alike.
void check_value_field(std::span<const unsigned char> input) {
#ifdef __GLIBC__
  const std::string terminated(input.begin(), input.end());
  unsigned int library = 0;
  if (std::sscanf(terminated.c_str(), "%8x", &library) != 1) {
    library = 0;
  }
  if (reference_model::read_value_field(input, 0) != library) {
    fail("the model reads the value field at offset 0 as " +
         std::to_string(reference_model::read_value_field(input, 0)) + ", the C library as " +
         std::to_string(library));
  }
#else
  (void)input;
#endif
}

// The warnings of any input: each about a byte of it, on a line that exists,
// in one line of printable ASCII.
void check_warnings(std::span<const unsigned char> input) {
  const std::size_t lines =
      1 + static_cast<std::size_t>(std::count_if(input.begin(), input.end(), [](unsigned char c) {
        return dbgparse::dbg::is_line_end(c);
      }));
  dbgparse::diagnose(input, [&](const dbgparse::warning& w) {
    if (w.offset > input.size() || w.line > lines || w.message.empty() ||
        !std::all_of(w.message.begin(), w.message.end(),
                     [](char c) { return c >= 0x20 && c < 0x7F; })) {
      fail("a warning out of bounds or not printable: line " + std::to_string(w.line) +
           ", offset " + std::to_string(w.offset) + ": " + w.message);
    }
    return true;
  });
}

// Converting with warnings is one walk: it must give the same table as the
// conversion alone and the same warnings as diagnose alone, and each warning
// about an entry must be about one the table has, in the table's order.
void check_one_walk(std::span<const unsigned char> input,
                    const reference_model::conversion& model) {
  std::vector<dbgparse::warning> apart;
  dbgparse::diagnose(input, [&](const dbgparse::warning& w) {
    apart.push_back(w);
    return true;
  });
  std::vector<unsigned char> table;
  std::vector<dbgparse::warning> together;
  dbgparse::convert_and_diagnose(
      input,
      [&table](std::span<const unsigned char> piece) {
        table.insert(table.end(), piece.begin(), piece.end());
        return true;
      },
      [&](const dbgparse::warning& w) {
        together.push_back(w);
        return true;
      });
  check_same_table(table, model.table, "converted with warnings");
  if (together.size() != apart.size()) {
    fail("converting with warnings gives " + std::to_string(together.size()) +
         " warnings, diagnose " + std::to_string(apart.size()));
  }
  std::size_t entry = 0;
  for (std::size_t k = 0; k < together.size(); ++k) {
    const dbgparse::warning& w = together[k];
    if (w.kind != apart[k].kind || w.line != apart[k].line || w.offset != apart[k].offset ||
        w.message != apart[k].message) {
      fail("warning " + std::to_string(k) + " differs: \"" + w.message + "\" against \"" +
           apart[k].message + "\"");
    }
    if (w.kind == dbgparse::warning_kind::no_section ||
        w.kind == dbgparse::warning_kind::not_converted) {
      continue;
    }
    // An entry's warnings lie between its "0x" and its kept text's end.
    const auto about = [&](std::size_t e) {
      return model.line_starts[e] <= w.offset &&
             w.offset <= model.line_starts[e] + dbgparse::dbg::text_offset + model.text_lengths[e];
    };
    while (entry < model.line_starts.size() && !about(entry)) {
      ++entry;
    }
    // Everything the rule did to an entry is told in one warning: each
    // warning takes an entry of its own, after the previous warning's.
    if (entry == model.line_starts.size()) {
      fail("warning " + std::to_string(k) + " at offset " + std::to_string(w.offset) +
           " is about no entry the table has after the previous warning's (none, or a second "
           "warning about one entry): " +
           w.message);
    }
    ++entry;
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::span<const unsigned char> input(data, size);
  const reference_model::conversion model = reference_model::convert(input);
  const std::string layout = reference_model::layout_fault(model.table, model.text_lengths);
  if (!layout.empty()) {
    fail("the model's own table: " + layout);
  }

  // A buffer of exactly the input's size, as the program hands over.
  std::vector<unsigned char> buffer(input.begin(), input.end());
  const std::size_t length = dbgparse::parse_qb(buffer, buffer.size());
  if (length > buffer.size()) {
    fail("parse_qb returns " + std::to_string(length) + " for a buffer of " +
         std::to_string(buffer.size()) + " bytes");
  }
  const std::span<const unsigned char> table(buffer.data(), length);
  check_same_table(table, model.table, "whole buffer");
  const std::string fault = reference_model::layout_fault(table, model.text_lengths);
  if (!fault.empty()) {
    fail("parse_qb's table: " + fault);
  }

  // Bytes behind the given length must not be converted.
  std::vector<unsigned char> longer(input.begin(), input.end());
  const std::string more = "\r\n[Checksums]\r\n0x00000001 tail\r\n";
  longer.insert(longer.end(), more.begin(), more.end());
  const std::size_t short_length = dbgparse::parse_qb(longer, size);
  check_same_table(std::span<const unsigned char>(longer.data(), short_length), model.table,
                   "length shorter than the buffer");

  // Handed over in the smallest blocks, so that entries straddle them.
  std::vector<unsigned char> pieces;
  const bool completed = dbgparse::write_table(
      input,
      [&pieces](std::span<const unsigned char> piece) {
        pieces.insert(pieces.end(), piece.begin(), piece.end());
        return true;
      },
      1);
  if (!completed) {
    fail("write_table stopped although its sink took every piece");
  }
  check_same_table(pieces, model.table, "smallest blocks");

  check_line_end_search(input);
  check_value_field(input);
  check_warnings(input);
  check_one_walk(input, model);
  return 0;
}
