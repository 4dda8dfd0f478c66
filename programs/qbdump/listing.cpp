#include "listing.h"

#include <cstdio>

#include "kept_outputs.h"
#include "messages.h"
#include "platform.h"
#include "qb_listing.h"
#include "qb_reader.h"
#include "table_input.h"
#include "text.h"
#include "whole_lines.h"

namespace dbgparse::qbdump {
namespace {

// Entries left out that are named one by one; the page and the Python
// package stop at as many.
constexpr std::size_t left_out_told = 20;

// The table's fault, if it has one, found without listing anything.
std::optional<qb::fault> first_fault(std::span<const unsigned char> bytes) {
  qb::table_reader reader(bytes);
  while (reader.next()) {
  }
  return reader.fault();
}

}  // namespace

int list(const std::string& table, std::span<const unsigned char> bytes,
         const std::optional<std::string>& listing_path, bool force) {
  // The first few entries left out are told one by one, the rest counted
  // (a table may leave out millions): see tell_left_out below.
  std::size_t left_out = 0;
  const qb::warning_sink warn = [&table, &left_out](const qb::listing_warning& w) {
    if (++left_out <= left_out_told) {
      say_error_line(
          text::left_out_line("qbdump", table_name(table), w.number, w.offset, w.reason));
    }
  };
  const auto tell_left_out = [&table, &left_out] {
    if (left_out > left_out_told) {
      say_error(shown_name(table) + ": " + std::to_string(left_out - left_out_told) +
                " more entries left out, " + std::to_string(left_out) + " in all");
    }
  };
  if (!listing_path) {
    whole_lines lines(write_out);
    const qb::listing_outcome outcome = qb::write_listing(
        bytes, [&lines](std::span<const unsigned char> piece) { return lines.write(piece); }, warn);
    const bool written = outcome.written && lines.finish();
    tell_left_out();
    if (!written || std::fflush(stdout) != 0) {
      say_error("standard output: cannot write it" + because());
      return exit_trouble;
    }
    if (outcome.fault) {
      // What could be listed before the fault has been shown.
      report_fault(table, bytes, *outcome.fault);
      return exit_trouble;
    }
    return exit_success;
  }

  // A failed run leaves the listing file as it was, and makes none: a fault
  // is found before the file is opened (even a file written in place stays
  // untouched), and the listing takes the file's place only once complete.
  // What could be listed before a fault goes nowhere; a listing to standard
  // output shows it.
  if (const std::optional<qb::fault> fault = first_fault(bytes)) {
    report_fault(table, bytes, *fault);
    return exit_trouble;
  }
  // A listing is DBG text, so it is most often named as the DBG file it came
  // from: an existing one is someone's work, and is replaced only when asked.
  if (!force && is_kept_output(*listing_path, table)) {
    say_error(text::shown_path(*listing_path) +
              " is a DBG file: it is kept; give the listing another name, or --force to replace "
              "it");
    return exit_trouble;
  }
  platform::output_file output;
  if (!output.open(*listing_path)) {
    say_error(text::shown_path(*listing_path) +
              ": cannot open it for writing: " + output.failure().reason);
    return exit_trouble;
  }
  const qb::listing_outcome outcome = qb::write_listing(
      bytes, [&output](std::span<const unsigned char> piece) { return output.write(piece); }, warn);
  tell_left_out();
  if (!outcome.written) {
    say_error(text::shown_path(*listing_path) + ": cannot write it: " + output.failure().reason);
    return exit_trouble;  // not committed: the file is left as it was
  }
  if (outcome.fault) {
    report_fault(table, bytes, *outcome.fault);
    return exit_trouble;
  }
  if (!output.commit()) {
    say_error(text::shown_path(*listing_path) + ": cannot write it: " + output.failure().reason);
    return exit_trouble;
  }
  return exit_success;
}

}  // namespace dbgparse::qbdump
