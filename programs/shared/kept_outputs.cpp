// Telling an existing output that is another DBG file, by its name and by
// its first bytes.
#include "kept_outputs.h"

#include <algorithm>
#include <optional>
#include <string_view>
#include <vector>

#include "header_forms.h"
#include "platform.h"

namespace dbgparse {
namespace {

// How far into an existing output the header is looked for.
constexpr std::size_t header_window = std::size_t{64} << 10;

bool named_as_dbg(const std::string& path) {
  const std::string name = platform::opened_name(path);
  constexpr std::string_view extension = ".dbg";
  return name.size() >= extension.size() &&
         std::equal(extension.begin(), extension.end(), name.end() - extension.size(),
                    [](char wanted, char c) {
                      return wanted == (c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c);
                    });
}

}  // namespace

bool is_dbg_file(const std::string& path) { return is_kept_output(path, {}); }

bool is_kept_output(const std::string& output, const std::string& input) {
  const std::optional<std::vector<unsigned char>> start =
      platform::other_file_start(output, input, header_window);
  return start && (named_as_dbg(output) || dbg::find_header(*start).has_value());
}

}  // namespace dbgparse
