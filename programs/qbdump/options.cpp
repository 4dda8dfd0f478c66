#include "options.h"

#include <charconv>
#include <cstddef>
#include <system_error>

namespace dbgparse::qbdump {

const std::string_view usage_text =
    "Usage: qbdump [--find CHECKSUM]... [--name NAME]... TABLE\n"
    "       qbdump TABLE [LISTING]\n"
    "       qbdump --check TABLE...\n"
    "       qbdump --entries TABLE\n"
    "Reads a QB checksum table back. TABLE - reads standard input.\n"
    "\n"
    "  TABLE            the table as a DBG listing on standard output\n"
    "  TABLE LISTING    the listing into the file LISTING (- standard output);\n"
    "                   a failed run leaves LISTING as it was, and an existing\n"
    "                   LISTING that is a DBG file (named .dbg, or holding a\n"
    "                   [Checksums] line) is kept unless --force is given\n"
    "  --force          let the listing replace an existing DBG file\n"
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

namespace {

// A checksum as hexadecimal digits, "0x" optional: 1 to 8 digits, no more.
std::optional<std::uint32_t> parse_checksum(std::string_view text) {
  if (text.starts_with("0x") || text.starts_with("0X")) {
    text.remove_prefix(2);
  }
  if (text.empty() || text.size() > 8) {
    return std::nullopt;
  }
  std::uint32_t checksum = 0;
  const auto [end, status] = std::from_chars(text.data(), text.data() + text.size(), checksum, 16);
  if (status != std::errc{} || end != text.data() + text.size()) {
    return std::nullopt;
  }
  return checksum;
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

}  // namespace

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
    } else if (arg == "--force") {
      parsed.force = true;
    } else if (const std::optional<std::string> sum = option_value(args, at, "--find", missing)) {
      const std::optional<std::uint32_t> checksum = parse_checksum(*sum);
      if (!checksum) {
        error = "--find: '" + *sum + "' is not a hexadecimal checksum";
        return std::nullopt;
      }
      parsed.queries.push_back(query{false, {}, *checksum});
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
  if (parsed.force && parsed.what != action::list) {
    error = "--force applies only to a listing written to a file";
    return std::nullopt;
  }
  if (parsed.operands.size() > most) {
    error = "unexpected argument " + parsed.operands[most];
    return std::nullopt;
  }
  return parsed;
}

}  // namespace dbgparse::qbdump
