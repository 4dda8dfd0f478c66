#include "look_up.h"

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string_view>

#include "messages.h"
#include "qb_reader.h"
#include "table_input.h"
#include "text.h"

namespace dbgparse::qbdump {
namespace {

std::string hex_line(std::uint32_t checksum) { return text::hex(checksum) + "\n"; }

}  // namespace

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
        found[k] += hex_line(item->checksum);
        any = true;
      } else if (!q.by_name && item->checksum == q.checksum) {
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

}  // namespace dbgparse::qbdump
