// qbdump's command line: what it asks for, and its usage.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace dbgparse::qbdump {

// The --help text.
extern const std::string_view usage_text;

// One --find (a checksum) or --name (a name), in the order given.
struct query {
  bool by_name = false;
  std::string name;
  std::uint32_t checksum = 0;
};

enum class action { list, look_up, check, entries, help, version };

struct command {
  action what = action::list;
  std::vector<query> queries;
  std::vector<std::string> operands;
  bool force = false;  // --force: a listing may replace an existing DBG file
};

// The command line (`args` with the program's name first), or the message
// for a bad one.
std::optional<command> parse_command(const std::vector<std::string>& args, std::string& error);

}  // namespace dbgparse::qbdump
