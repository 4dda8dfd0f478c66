// qbdump: reads a QB checksum table back. Lists it as DBG text that dbgparse
// converts to the same table, finds the names of a checksum or the checksums
// of a name, or only checks the table. Exit status as grep and cmp have it.
#include <array>
#include <charconv>
#include <cstdint>
#include <cstdio>
#include <new>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "dbg_line.h"
#include "header_forms.h"
#include "platform.h"
#include "qb_listing.h"
#include "qb_reader.h"

namespace {

namespace platform = dbgparse::platform;
namespace qb = dbgparse::qb;

constexpr int exit_success = 0;
constexpr int exit_nothing_found = 1;
constexpr int exit_trouble = 2;

constexpr std::string_view usage_text =
    "Usage: qbdump [--find CHECKSUM]... [--name NAME]... TABLE\n"
    "       qbdump TABLE [LISTING]\n"
    "       qbdump --check TABLE...\n"
    "       qbdump --entries TABLE\n"
    "Reads a QB checksum table back. TABLE - reads standard input.\n"
    "\n"
    "  TABLE            the table as a DBG listing on standard output\n"
    "  TABLE LISTING    the listing into the file LISTING (- standard output);\n"
    "                   a failed run leaves LISTING as it was\n"
    "  --find CHECKSUM  the names whose checksum is CHECKSUM (hexadecimal,\n"
    "                   0x optional), one a line\n"
    "  --name NAME      the checksums of NAME, one a line, as 0x%08x\n"
    "  --check          only check each table's structure: \"N entries, M bytes\"\n"
    "                   or its first fault\n"
    "  --entries        each entry as the table holds it, one a line: its byte\n"
    "                   offset in decimal, its checksum as 0x%08x, its name in\n"
    "                   double quotes (bytes below 0x20, \", \\ and from 0x7F on\n"
    "                   as \\xHH), and \"padding N\" when N zero bytes follow it\n"
    "  --help           this help\n"
    "  --version        the version\n"
    "\n"
    "Exit status: 0 success (something found), 1 nothing found, 2 trouble.\n"
    "Entries that no listing can reproduce are left out with a warning.\n";

struct query {
  bool by_name = false;
  std::string name;
  std::uint32_t value = 0;
};

enum class action { list, look_up, check, entries, help, version };

struct command {
  action what = action::list;
  std::vector<query> queries;
  std::vector<std::string> operands;
};

void say_error(const std::string& message) {
  std::fflush(stdout);
  std::fprintf(stderr, "qbdump: %s\n", message.c_str());
}

int usage_error(const std::string& message) {
  say_error(message);
  say_error("Try 'qbdump --help' for more information.");
  return exit_trouble;
}

// ": " and the system's reason for the failure just seen, when it gave one.
std::string because() {
  const std::string reason = platform::failure_reason();
  return reason.empty() ? reason : ": " + reason;
}

std::string count_of(std::size_t count, std::string_view one, std::string_view many) {
  return std::to_string(count) + " " + std::string(count == 1 ? one : many);
}

bool write_out(std::string_view text) {
  return std::fwrite(text.data(), 1, text.size(), stdout) == text.size();
}

// A checksum as hexadecimal digits, "0x" optional: 1 to 8 digits, no more.
std::optional<std::uint32_t> parse_checksum(std::string_view text) {
  if (text.starts_with("0x") || text.starts_with("0X")) {
    text.remove_prefix(2);
  }
  if (text.empty() || text.size() > 8) {
    return std::nullopt;
  }
  std::uint32_t value = 0;
  const auto [end, status] = std::from_chars(text.data(), text.data() + text.size(), value, 16);
  if (status != std::errc{} || end != text.data() + text.size()) {
    return std::nullopt;
  }
  return value;
}

// "--find X" and "--find=X" alike; nothing when `arg` is not `option`.
std::optional<std::string> option_value(const std::vector<std::string>& args, std::size_t& at,
                                        std::string_view option, bool& missing) {
  const std::string& arg = args[at];
  if (arg == option) {
    if (at + 1 == args.size()) {
      missing = true;
      return std::nullopt;
    }
    return args[++at];
  }
  if (arg.size() > option.size() && arg.starts_with(option) && arg[option.size()] == '=') {
    return arg.substr(option.size() + 1);
  }
  return std::nullopt;
}

// The command line, or the message for a bad one.
std::optional<command> parse_command(const std::vector<std::string>& args, std::string& error) {
  command parsed;
  bool check = false;
  bool entries = false;
  std::optional<action> asked;  // --help or --version, the first given
  bool options_end = false;
  for (std::size_t at = 1; at < args.size(); ++at) {
    const std::string& arg = args[at];
    if (options_end || arg == "-" || !arg.starts_with("-")) {
      parsed.operands.push_back(arg);
      continue;
    }
    bool missing = false;
    if (arg == "--") {
      options_end = true;
    } else if (arg == "--help" || arg == "--version") {
      asked = asked.value_or(arg == "--help" ? action::help : action::version);
    } else if (arg == "--check") {
      check = true;
    } else if (arg == "--entries") {
      entries = true;
    } else if (const std::optional<std::string> sum = option_value(args, at, "--find", missing)) {
      const std::optional<std::uint32_t> value = parse_checksum(*sum);
      if (!value) {
        error = "--find: '" + *sum + "' is not a hexadecimal checksum";
        return std::nullopt;
      }
      parsed.queries.push_back(query{false, {}, *value});
    } else if (const std::optional<std::string> name = option_value(args, at, "--name", missing)) {
      parsed.queries.push_back(query{true, *name, 0});
    } else {
      error = missing ? "option " + arg + " needs a value" : "unknown option " + arg;
      return std::nullopt;
    }
  }
  if (asked) {
    // They take no operand: one given is a mistake, not a table to ignore.
    if (!parsed.operands.empty()) {
      error = "unexpected argument " + parsed.operands.front();
      return std::nullopt;
    }
    parsed.what = *asked;
    return parsed;
  }
  if (entries && (check || !parsed.queries.empty())) {
    error = "--entries cannot be combined with --check, --find or --name";
    return std::nullopt;
  }
  if (check && !parsed.queries.empty()) {
    error = "--check cannot be combined with --find or --name";
    return std::nullopt;
  }
  parsed.what = entries                  ? action::entries
                : check                  ? action::check
                : parsed.queries.empty() ? action::list
                                         : action::look_up;
  const std::size_t most = parsed.what == action::list    ? 2
                           : parsed.what == action::check ? parsed.operands.size()
                                                          : 1;
  if (parsed.operands.empty()) {
    error = "no table given";
    return std::nullopt;
  }
  if (parsed.operands.size() > most) {
    error = "unexpected argument " + parsed.operands[most];
    return std::nullopt;
  }
  return parsed;
}

std::string shown_name(const std::string& path) { return path == "-" ? "standard input" : path; }

// The table's bytes, or nothing after saying why not.
std::optional<platform::input_bytes> read_table(const std::string& path) {
  using platform::read_result;
  platform::input_bytes input;
  const read_result result =
      path == "-" ? platform::read_standard_input(input) : platform::read_input(path, input);
  switch (result) {
    case read_result::ok:
      return input;
    case read_result::not_found:
    case read_result::cannot_read:
      say_error(shown_name(path) + ": cannot read it" + because());
      return std::nullopt;
    case read_result::no_memory:
      say_error(shown_name(path) + ": not enough memory for it");
      return std::nullopt;
  }
  return std::nullopt;
}

void report_fault(const std::string& table, std::span<const unsigned char> bytes,
                  const qb::fault& fault) {
  say_error(shown_name(table) + ": byte " + std::to_string(fault.offset) + ": expected " +
            fault.expected);
  const std::string_view text(reinterpret_cast<const char*>(bytes.data()), bytes.size());
  // The title anywhere, or a header line in any form an editor saves it in
  // (another case, UTF-16).
  if (text.find(dbgparse::dbg::section_title) != std::string_view::npos ||
      dbgparse::dbg::find_header(bytes)) {
    say_error(shown_name(table) + ": it looks like DBG text, not a QB table; " +
              "dbgparse converts it into one");
  }
}

std::optional<qb::fault> first_fault(std::span<const unsigned char> bytes) {
  qb::table_reader reader(bytes);
  while (reader.next()) {
  }
  return reader.fault();
}

// The check's line for one table ("N entries, M bytes" and what a listing
// would leave out), or nothing after saying what is wrong with it.
std::optional<std::string> check_line(const std::string& table) {
  const std::optional<platform::input_bytes> input = read_table(table);
  if (!input) {
    return std::nullopt;
  }
  const qb::listing_outcome outcome = qb::write_listing(
      input->bytes, [](std::span<const unsigned char>) { return true; },
      [](const qb::listing_warning&) {});
  if (outcome.fault) {
    report_fault(table, input->bytes, *outcome.fault);
    return std::nullopt;
  }
  std::string line = count_of(outcome.entries, "entry", "entries") + ", " +
                     std::to_string(input->bytes.size()) + " bytes";
  if (outcome.left_out > 0) {
    line += ", " + std::to_string(outcome.left_out) + " that a listing leaves out";
  }
  return line;
}

// Checks each table in turn, one line each, named when there are several;
// a table that fails does not stop the others.
int check(const std::vector<std::string>& tables) {
  int status = exit_success;
  for (const std::string& table : tables) {
    std::optional<std::string> line;
    try {
      line = check_line(table);
    } catch (const std::bad_alloc&) {
      say_error(shown_name(table) + ": not enough memory for it");
    }
    if (!line) {
      status = exit_trouble;
      continue;
    }
    const std::string named = tables.size() > 1 ? shown_name(table) + ": " + *line : *line;
    if (!write_out(named + "\n")) {
      say_error("standard output: cannot write it" + because());
      return exit_trouble;
    }
  }
  return status;
}

std::string hex_line(std::uint32_t value) {
  std::array<char, 16> text{};
  std::snprintf(text.data(), text.size(), "0x%08x\n", static_cast<unsigned>(value));
  return text.data();
}

int look_up(const std::string& table, std::span<const unsigned char> bytes,
            const std::vector<query>& queries) {
  std::vector<std::string> found(queries.size());
  bool any = false;
  qb::table_reader reader(bytes);
  while (const std::optional<qb::entry> item = reader.next()) {
    const std::string_view name(reinterpret_cast<const char*>(item->name.data()),
                                item->name.size());
    for (std::size_t k = 0; k < queries.size(); ++k) {
      const query& q = queries[k];
      if (q.by_name && name == q.name) {
        found[k] += hex_line(item->value);
        any = true;
      } else if (!q.by_name && item->value == q.value) {
        found[k].append(name).push_back('\n');
        any = true;
      }
    }
  }
  for (const std::string& lines : found) {
    if (!write_out(lines)) {
      say_error("standard output: cannot write it" + because());
      return exit_trouble;
    }
  }
  if (reader.fault()) {
    report_fault(table, bytes, *reader.fault());
    return exit_trouble;
  }
  return any ? exit_success : exit_nothing_found;
}

// A name as it is stored, in double quotes: the bytes that a terminal would
// not show as themselves, and the quote and the backslash, as \xHH.
std::string quoted_name(std::span<const unsigned char> name) {
  std::string out = "\"";
  for (const unsigned char c : name) {
    if (c < 0x20 || c >= 0x7F || c == '"' || c == '\\') {
      std::array<char, 8> escape{};
      std::snprintf(escape.data(), escape.size(), "\\x%02x", static_cast<unsigned>(c));
      out += escape.data();
    } else {
      out.push_back(static_cast<char>(c));
    }
  }
  out.push_back('"');
  return out;
}

std::string entry_line(const qb::entry& item) {
  std::array<char, 16> value{};
  std::snprintf(value.data(), value.size(), "0x%08x", static_cast<unsigned>(item.value));
  std::string line =
      std::to_string(item.offset) + " " + value.data() + " " + quoted_name(item.name);
  if (item.padding > 0) {
    line += " padding " + std::to_string(item.padding);
  }
  line.push_back('\n');
  return line;
}

// Each entry as the table holds it, one a line; at a fault the entries
// before it have been shown, and the fault is told as --check tells it.
int show_entries(const std::string& table, std::span<const unsigned char> bytes) {
  qb::table_reader reader(bytes);
  while (const std::optional<qb::entry> item = reader.next()) {
    if (!write_out(entry_line(*item))) {
      say_error("standard output: cannot write it" + because());
      return exit_trouble;
    }
  }
  if (reader.fault()) {
    report_fault(table, bytes, *reader.fault());
    return exit_trouble;
  }
  return exit_success;
}

int list(const std::string& table, std::span<const unsigned char> bytes,
         const std::optional<std::string>& listing_path) {
  const qb::warning_sink warn = [&table](const qb::listing_warning& w) {
    say_error(shown_name(table) + ": entry " + std::to_string(w.number) + " at byte " +
              std::to_string(w.offset) + " left out: " + w.reason);
  };
  if (!listing_path) {
    const qb::listing_outcome outcome = qb::write_listing(
        bytes,
        [](std::span<const unsigned char> piece) {
          return std::fwrite(piece.data(), 1, piece.size(), stdout) == piece.size();
        },
        warn);
    if (!outcome.written || std::fflush(stdout) != 0) {
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
  platform::output_file output;
  if (!output.open(*listing_path)) {
    say_error(*listing_path + ": cannot open it for writing" + because());
    return exit_trouble;
  }
  const qb::listing_outcome outcome = qb::write_listing(
      bytes, [&output](std::span<const unsigned char> piece) { return output.write(piece); }, warn);
  if (!outcome.written) {
    say_error(*listing_path + ": cannot write it" + because());
    return exit_trouble;  // not committed: the file is left as it was
  }
  if (outcome.fault) {
    report_fault(table, bytes, *outcome.fault);
    return exit_trouble;
  }
  if (!output.commit()) {
    say_error(*listing_path + ": cannot write it" + because());
    return exit_trouble;
  }
  return exit_success;
}

int run(const std::vector<std::string>& args) {
  std::string error;
  const std::optional<command> parsed = parse_command(args, error);
  if (!parsed) {
    return usage_error(error);
  }
  if (parsed->what == action::help) {
    return write_out(usage_text) ? exit_success : exit_trouble;
  }
  if (parsed->what == action::version) {
    return write_out("qbdump " QBDUMP_VERSION "\n") ? exit_success : exit_trouble;
  }
  if (parsed->what == action::check) {
    return check(parsed->operands);
  }
  const std::string& table = parsed->operands.front();
  try {
    const std::optional<platform::input_bytes> input = read_table(table);
    if (!input) {
      return exit_trouble;
    }
    if (parsed->what == action::look_up) {
      return look_up(table, input->bytes, parsed->queries);
    }
    if (parsed->what == action::entries) {
      return show_entries(table, input->bytes);
    }
    // "-" as the listing is standard output, as in lz4, zstd and xxd.
    std::optional<std::string> listing_path;
    if (parsed->operands.size() > 1 && parsed->operands[1] != "-") {
      listing_path = parsed->operands[1];
    }
    return list(table, input->bytes, listing_path);
  } catch (const std::bad_alloc&) {
    say_error(shown_name(table) + ": not enough memory for it");
    return exit_trouble;
  }
}

}  // namespace

int main(int argc, char** argv) {
  platform::prepare_process();
  platform::write_standard_error_as_bytes();
  const int status = run(platform::arguments(argc, argv));
  if (std::fflush(stdout) != 0 && status != exit_trouble) {
    say_error("standard output: cannot write it" + because());
    return exit_trouble;
  }
  return status;
}
