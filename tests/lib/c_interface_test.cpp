// The C interface against the C++ code it wraps: the version, the golden
// tables through both conversions, the statuses for missing pointers and
// stopping sinks, and the entry reader against table_reader on good, cut and
// damaged tables.
#include <gtest/gtest.h>

#include <cstddef>
#include <cstdint>
#include <set>
#include <span>
#include <sstream>
#include <string>
#include <string_view>
#include <vector>

#include "dbgparse.h"
#include "golden_files.h"
#include "qb_listing.h"
#include "qb_reader.h"

namespace {

using bytes = std::vector<unsigned char>;
using test_support::read_bytes;

const std::string data = DBGPARSE_TEST_DATA;

struct collected {
  bytes table;
  int pieces = 0;
  int stop_after = -1;  // pieces taken before returning 7; -1 never
};

int collect(void* context, const unsigned char* piece, std::size_t size) {
  auto& into = *static_cast<collected*>(context);
  if (into.pieces++ == into.stop_after) {
    return 7;
  }
  into.table.insert(into.table.end(), piece, piece + size);
  return 0;
}

TEST(c_interface, version_is_the_project_version) {
  // The project's version as CMake has it, against both of the library's
  // answers: the text and the number must tell the same version.
  EXPECT_STREQ(dbgparse_version(), DBGPARSE_EXPECTED_VERSION);
  std::istringstream text(dbgparse_version());
  unsigned major = 0;
  unsigned minor = 0;
  unsigned patch = 0;
  char dot = 0;
  char second_dot = 0;
  ASSERT_TRUE(text >> major >> dot >> minor >> second_dot >> patch);
  EXPECT_EQ(dot, '.');
  EXPECT_EQ(second_dot, '.');
  EXPECT_EQ(dbgparse_version_number(), major * 10000 + minor * 100 + patch);
  EXPECT_EQ(dbgparse_version_number() / 10000, unsigned{DBGPARSE_VERSION_MAJOR});
}

TEST(c_interface, every_status_has_its_own_text) {
  std::set<std::string> texts;
  for (const int status :
       {DBGPARSE_OK, DBGPARSE_END, DBGPARSE_ERROR_ARGUMENT, DBGPARSE_ERROR_NO_MEMORY,
        DBGPARSE_ERROR_STOPPED, DBGPARSE_ERROR_TOO_SMALL, DBGPARSE_ERROR_MALFORMED}) {
    texts.insert(dbgparse_status_text(status));
  }
  EXPECT_EQ(texts.size(), 7U);
  EXPECT_STREQ(dbgparse_status_text(-99), "unknown status");
}

TEST(c_interface, both_conversions_give_the_golden_tables) {
  for (const std::string& name : test_support::golden_names()) {
    const bytes dbg = read_bytes(data + "/" + name + ".dbg");
    const bytes expected = read_bytes(data + "/" + name + ".qb");
    collected sunk;
    EXPECT_EQ(dbgparse_convert(dbg.data(), dbg.size(), collect, &sunk), DBGPARSE_OK) << name;
    EXPECT_EQ(sunk.table, expected) << name;

    std::size_t length = 0;
    ASSERT_EQ(dbgparse_convert_to(dbg.data(), dbg.size(), nullptr, 0, &length),
              DBGPARSE_ERROR_TOO_SMALL)
        << name;
    ASSERT_EQ(length, expected.size()) << name;
    bytes table(length + 1, 0xEE);
    std::size_t told = 0;
    EXPECT_EQ(dbgparse_convert_to(dbg.data(), dbg.size(), table.data(), length - 1, &told),
              DBGPARSE_ERROR_TOO_SMALL);
    EXPECT_EQ(told, length) << name;
    EXPECT_EQ(table.back(), 0xEE) << name << ": written past the capacity";
    EXPECT_EQ(dbgparse_convert_to(dbg.data(), dbg.size(), table.data(), length, nullptr),
              DBGPARSE_OK);
    EXPECT_EQ(bytes(table.begin(), table.end() - 1), expected) << name;
    EXPECT_EQ(table.back(), 0xEE) << name << ": written past the table";
  }
  std::size_t length = 0;
  EXPECT_EQ(dbgparse_convert_to(nullptr, 0, nullptr, 0, &length), DBGPARSE_ERROR_TOO_SMALL);
  EXPECT_EQ(length, 2U);
}

int ignore_warning(void* /*context*/, const dbgparse_warning* /*warning*/) { return 0; }

TEST(c_interface, a_missing_pointer_is_an_argument_error) {
  const unsigned char byte = 0;
  std::size_t offset = 0;
  dbgparse_entry entry{};
  struct call {
    const char* what;
    int status;
  };
  const call calls[] = {
      {"convert, no sink", dbgparse_convert(&byte, 1, nullptr, nullptr)},
      {"convert, no input", dbgparse_convert(nullptr, 1, collect, nullptr)},
      {"convert_to, no input", dbgparse_convert_to(nullptr, 1, nullptr, 0, nullptr)},
      {"convert_to, no table", dbgparse_convert_to(&byte, 1, nullptr, 5, nullptr)},
      {"next_entry, no offset", dbgparse_next_entry(&byte, 1, nullptr, &entry, nullptr)},
      {"next_entry, no entry", dbgparse_next_entry(&byte, 1, &offset, nullptr, nullptr)},
      {"next_entry, no table", dbgparse_next_entry(nullptr, 1, &offset, &entry, nullptr)},
      {"diagnose, no sink", dbgparse_diagnose(&byte, 1, nullptr, nullptr)},
      {"diagnose, no input", dbgparse_diagnose(nullptr, 1, ignore_warning, nullptr)},
      {"convert_and_diagnose, no sink",
       dbgparse_convert_and_diagnose(&byte, 1, nullptr, nullptr, ignore_warning, nullptr)},
      {"convert_and_diagnose, no input",
       dbgparse_convert_and_diagnose(nullptr, 1, collect, nullptr, ignore_warning, nullptr)},
      {"list, no sink", dbgparse_list(&byte, 1, nullptr, nullptr, nullptr, nullptr)},
      {"list, no table", dbgparse_list(nullptr, 1, collect, nullptr, nullptr, nullptr)},
  };
  for (const call& c : calls) {
    EXPECT_EQ(c.status, DBGPARSE_ERROR_ARGUMENT) << c.what;
  }
}

TEST(c_interface, a_sink_stops_the_conversion) {
  std::string dbg = "[Checksums]\r\n";
  for (int i = 0; i < 300000; ++i) {  // a table of many blocks
    dbg += "0x0000002a some_name\r\n";
  }
  const auto* input = reinterpret_cast<const unsigned char*>(dbg.data());
  for (const int stop_after : {0, 1, 2}) {
    collected sunk;
    sunk.stop_after = stop_after;
    EXPECT_EQ(dbgparse_convert(input, dbg.size(), collect, &sunk), DBGPARSE_ERROR_STOPPED)
        << stop_after;
    EXPECT_EQ(sunk.pieces, stop_after + 1) << "called again after it said stop";
  }
}

// Warnings as the sink received them, with their messages copied.
struct heard {
  std::vector<std::string> warnings;
  int stop_after = -1;  // warnings taken before returning 7; -1 never
};

int hear(void* context, const dbgparse_warning* warning) {
  auto& into = *static_cast<heard*>(context);
  if (std::ssize(into.warnings) == into.stop_after) {
    into.warnings.emplace_back("stop");
    return 7;
  }
  into.warnings.push_back(std::to_string(warning->kind) + ":" + std::to_string(warning->line) +
                          ":" + std::to_string(warning->offset) + ": " + warning->message);
  return 0;
}

// Inputs of every kind of warning, several to a line and across lines.
const std::vector<std::string> warned_inputs = {
    "",
    "no header at all\r\n0x00000001 a\r\n",
    "[checksums]\r\n0x00000001 a\r\n",
    "[Checksums]\r\n0x00000001 a\r\n0x12C long_name\r\n0xZZZZZZZZ x\r\n",
    "[Checksums]\r\n0x00000010 sprite_0x10_frame\r\n0x00000002 b\r\n",
    std::string("[Checksums]\r\n0x00000001 trailing \r\n0x00000002 z\0ero\r\n0X00000003 c\r\n", 67),
    "[Checksums]\r\n00000004 d\r\n; 0x00000005 e\r\n0x00000006\r\n0x00000007 f\r\n",
    "[Checksums]\r\n0x00000008 " + std::string(300, 'n') + "\r\n0x00000009 last",
    "[Checksums]\r\n0x0000000a\r\n0x0000000b k\r\n",
    "[Checksums]\r\n0x000",
};

TEST(c_interface, convert_and_diagnose_gives_what_the_two_calls_give_apart) {
  std::vector<std::string> inputs = warned_inputs;
  for (const std::string& name : test_support::golden_names()) {
    const bytes dbg = read_bytes(data + "/" + name + ".dbg");
    inputs.emplace_back(dbg.begin(), dbg.end());
  }
  for (const std::string& dbg : inputs) {
    const auto* input = reinterpret_cast<const unsigned char*>(dbg.data());
    collected table_apart;
    heard warnings_apart;
    ASSERT_EQ(dbgparse_convert(input, dbg.size(), collect, &table_apart), DBGPARSE_OK);
    ASSERT_EQ(dbgparse_diagnose(input, dbg.size(), hear, &warnings_apart), DBGPARSE_OK);
    collected table;
    heard warnings;
    EXPECT_EQ(dbgparse_convert_and_diagnose(input, dbg.size(), collect, &table, hear, &warnings),
              DBGPARSE_OK)
        << dbg;
    EXPECT_EQ(table.table, table_apart.table) << dbg;
    EXPECT_EQ(warnings.warnings, warnings_apart.warnings) << dbg;
    // Without a warning sink, the table alone.
    collected table_alone;
    EXPECT_EQ(
        dbgparse_convert_and_diagnose(input, dbg.size(), collect, &table_alone, nullptr, nullptr),
        DBGPARSE_OK);
    EXPECT_EQ(table_alone.table, table_apart.table) << dbg;
  }
}

TEST(c_interface, either_sink_stops_convert_and_diagnose) {
  // Warnings all through a table of many blocks.
  std::string dbg = "[Checksums]\r\n";
  for (int i = 0; i < 100000; ++i) {
    dbg += "0x0000002a name_with_a_blank \r\n";
  }
  const auto* input = reinterpret_cast<const unsigned char*>(dbg.data());
  for (const int stop_after : {0, 1, 2}) {
    collected sunk;
    sunk.stop_after = stop_after;
    heard warnings;
    EXPECT_EQ(dbgparse_convert_and_diagnose(input, dbg.size(), collect, &sunk, hear, &warnings),
              DBGPARSE_ERROR_STOPPED);
    EXPECT_EQ(sunk.pieces, stop_after + 1) << "the table's sink called again after it said stop";
    // The warnings stop with the table: far fewer than the lines.
    EXPECT_LT(warnings.warnings.size(), 100000U);

    collected table;
    heard stopping;
    stopping.stop_after = stop_after;
    EXPECT_EQ(dbgparse_convert_and_diagnose(input, dbg.size(), collect, &table, hear, &stopping),
              DBGPARSE_ERROR_STOPPED);
    EXPECT_EQ(std::ssize(stopping.warnings), stop_after + 1)
        << "the warning sink called again after it said stop";
    EXPECT_EQ(table.pieces, 0) << "the table's first block handed over after the stop";
  }
}

// Every entry, then the end or the fault: from the C interface, and from the
// reader that qbdump uses.
std::string walk_c(const bytes& table) {
  std::string out;
  std::size_t offset = 0;
  dbgparse_entry entry{};
  const char* reason = nullptr;
  int status = 0;
  while ((status = dbgparse_next_entry(table.data(), table.size(), &offset, &entry, &reason)) ==
         DBGPARSE_OK) {
    out += std::to_string(entry.offset) + ":" + std::to_string(entry.checksum) + ":" +
           std::string(entry.name, entry.name + entry.name_length) + ":" +
           std::to_string(entry.padding) + " ";
  }
  return out + (status == DBGPARSE_END ? "end " : "fault " + std::string(reason) + " ") +
         std::to_string(offset);
}

std::string walk_reader(const bytes& table) {
  std::string out;
  dbgparse::qb::table_reader reader(table);
  while (const auto item = reader.next()) {
    out += std::to_string(item->offset) + ":" + std::to_string(item->checksum) + ":" +
           std::string(item->name.begin(), item->name.end()) + ":" + std::to_string(item->padding) +
           " ";
  }
  return out + (reader.at_end() ? "end " + std::to_string(table.size())
                                : "fault " + std::string(reader.fault()->expected) + " " +
                                      std::to_string(reader.fault()->offset));
}

// Good, cut and damaged tables: the golden ones, a few broken by hand, and
// every cut and damaged byte of one with padding.
std::vector<bytes> tables_to_read() {
  using namespace std::string_view_literals;
  std::vector<bytes> tables;
  for (const std::string& name : test_support::golden_names()) {
    tables.push_back(read_bytes(data + "/" + name + ".qb"));
  }
  for (const std::string_view table : {
           ""sv,
           "\x00"sv,
           "\x00\x00\x00"sv,
           "\x00\x2B\x01\x00\x00\x00"
           "a\x00\x00"sv,
           "\x01\x2C\x01\x00\x00\x00"
           "a\x00\x00"sv,
           "\x01\x2B\x01\x00\x00\x00"
           "a\x00\x2C"sv,
       }) {
    tables.emplace_back(table.begin(), table.end());
  }
  // Every cut of a table with padding, and every byte of it damaged.
  const std::string_view text =
      "\x01\x2B\x01\x00\x00\x00"
      "ab\x00\x00\x00\x2B\x02\x00\x00\x00\x00\x00\x00"sv;
  const bytes padded(text.begin(), text.end());
  tables.push_back(padded);
  for (std::size_t k = 0; k < padded.size(); ++k) {
    tables.emplace_back(padded.begin(), padded.begin() + static_cast<std::ptrdiff_t>(k));
    for (const int damage : {0x00, 0x2B, 0x41}) {
      bytes damaged = padded;
      damaged[k] = static_cast<unsigned char>(damage);
      tables.push_back(damaged);
    }
  }
  return tables;
}

TEST(c_interface, next_entry_reads_as_the_reader_does) {
  for (const bytes& table : tables_to_read()) {
    EXPECT_EQ(walk_c(table), walk_reader(table));
  }
}

// What dbgparse_list hands its warning sink, one line per warning.
int describe_warning(void* context, const dbgparse_warning* warning) {
  auto& out = *static_cast<std::string*>(context);
  out += std::to_string(warning->kind) + " line " + std::to_string(warning->line) + " entry " +
         std::to_string(warning->entry) + " at " + std::to_string(warning->offset) + ": " +
         warning->message + "\n";
  return 0;
}

// The same as the C++ listing and reader tell it: each entry left out, then
// the table's fault.
std::string listing_warnings(const bytes& table) {
  std::string out;
  const dbgparse::qb::listing_outcome outcome = dbgparse::qb::write_listing(
      table, [](std::span<const unsigned char>) { return true; },
      [&out](const dbgparse::qb::listing_warning& w) {
        out += std::to_string(DBGPARSE_WARNING_LEFT_OUT) + " line " + std::to_string(w.number) +
               " entry " + std::to_string(w.number) + " at " + std::to_string(w.offset) + ": " +
               w.reason + "\n";
      });
  dbgparse::qb::table_reader reader(table);
  while (reader.next()) {
  }
  if (const auto fault = reader.fault()) {
    EXPECT_TRUE(outcome.fault.has_value());
    out += std::to_string(DBGPARSE_WARNING_MALFORMED) + " line 0 entry 0 at " +
           std::to_string(fault->offset) + ": " + fault->expected + "\n";
  }
  return out;
}

TEST(c_interface, list_warns_of_entries_left_out_and_of_the_fault) {
  using namespace std::string_view_literals;
  std::vector<bytes> tables = tables_to_read();
  // Names holding CR and LF, which no line can make, before a fault and
  // before the end.
  for (const std::string_view table : {
           "\x01\x2B\x01\x00\x00\x00"
           "a\rb\x00\x2B\x02\x00\x00\x00"
           "c\nd\x00\x00"sv,
           "\x01\x2B\x01\x00\x00\x00"
           "a\rb\x00\x2B\x02\x00\x00\x00"
           "c\x00\x2C"sv,
       }) {
    tables.emplace_back(table.begin(), table.end());
  }
  for (const bytes& table : tables) {
    std::string said;
    collected listing;
    const int status =
        dbgparse_list(table.data(), table.size(), collect, &listing, describe_warning, &said);
    const std::string expected = listing_warnings(table);
    EXPECT_EQ(said, expected);
    EXPECT_EQ(status, expected.find(std::to_string(DBGPARSE_WARNING_MALFORMED) + " line") ==
                              std::string::npos
                          ? DBGPARSE_OK
                          : DBGPARSE_ERROR_MALFORMED);
  }
}

TEST(c_interface, a_warning_sink_stops_the_listing_at_the_fault) {
  using namespace std::string_view_literals;
  const std::string_view text = "\x01\x2B\x01\x00\x00\x00a\x00\x2C"sv;
  const bytes table(text.begin(), text.end());
  collected listing;
  const auto stop = [](void*, const dbgparse_warning*) { return 1; };
  EXPECT_EQ(dbgparse_list(table.data(), table.size(), collect, &listing, stop, nullptr),
            DBGPARSE_ERROR_STOPPED);
  // Without a warning sink the fault is the status alone.
  EXPECT_EQ(dbgparse_list(table.data(), table.size(), collect, &listing, nullptr, nullptr),
            DBGPARSE_ERROR_MALFORMED);
}

TEST(c_interface, next_entry_at_offsets_that_are_no_marker) {
  using namespace std::string_view_literals;
  const std::string_view text =
      "\x01\x2B\x01\x00\x00\x00"
      "ab\x00\x00\x00\x2B\x02\x00\x00\x00\x00\x00"sv;  // 18 bytes
  const bytes table(text.begin(), text.end());
  struct offset_case {
    std::size_t offset;
    int status;
    std::size_t offset_after;
  };
  const offset_case cases[] = {
      {6, DBGPARSE_ERROR_MALFORMED, 6},    // inside the first entry's name
      {8, DBGPARSE_ERROR_MALFORMED, 10},   // padding: 00 00, then bytes after it
      {9, DBGPARSE_ERROR_MALFORMED, 11},   // 00 00 that is not the table's last two bytes
      {10, DBGPARSE_OK, 16},               // the second entry's marker
      {16, DBGPARSE_END, 18},              // the end marker
      {17, DBGPARSE_ERROR_MALFORMED, 18},  // the end marker's second byte alone
      {18, DBGPARSE_ERROR_MALFORMED, 18},  // the table's end
      {99, DBGPARSE_ERROR_MALFORMED, 18},  // past it
  };
  for (const offset_case& c : cases) {
    std::size_t offset = c.offset;
    dbgparse_entry entry{};
    EXPECT_EQ(dbgparse_next_entry(table.data(), table.size(), &offset, &entry, nullptr), c.status)
        << c.offset;
    EXPECT_EQ(offset, c.offset_after) << c.offset;
  }
  std::size_t offset = 0;
  dbgparse_entry entry{};
  const char* reason = nullptr;
  EXPECT_EQ(dbgparse_next_entry(nullptr, 0, &offset, &entry, &reason), DBGPARSE_ERROR_MALFORMED);
  EXPECT_EQ(offset, 0U);
  EXPECT_STREQ(reason, "a table (the file is empty)");
}

}  // namespace

namespace {

// What a line call handed its sink, as text, and the status it returned.
struct line_call {
  int status;
  std::string line;
};

template <typename Call>
line_call line_of(Call call) {
  collected sunk;
  const int status = call(&sunk);
  return {status, std::string(sunk.table.begin(), sunk.table.end())};
}

}  // namespace

TEST(c_interface, the_lines_are_the_ones_the_programs_print) {
  using namespace std::string_literals;
  const std::string names[] = {"player_board", "tab\tname\"\\\x7f\xc3\xa9", ""};
  auto entry = [&](std::size_t name, std::uint32_t checksum, std::size_t padding,
                   std::size_t offset) {
    const auto* bytes = reinterpret_cast<const unsigned char*>(names[name].data());
    return dbgparse_entry{checksum, names[name].empty() ? nullptr : bytes, names[name].size(),
                          padding, offset};
  };
  struct entry_case {
    dbgparse_entry entry;
    std::string line;
  };
  const entry_case entries[] = {
      {entry(0, 0x2a9d4b1c, 0, 0), "0 0x2a9d4b1c \"player_board\"\n"},
      {entry(1, 0xdeadbeef, 3, 18),
       "18 0xdeadbeef \"tab\\x09name\\x22\\x5c\\x7f\\xc3\\xa9\" padding 3\n"},
      {entry(2, 7, 0, 4294967295U), "4294967295 0x00000007 \"\"\n"},
  };
  for (const entry_case& c : entries) {
    const line_call got =
        line_of([&](collected* sunk) { return dbgparse_entry_line(&c.entry, collect, sunk); });
    EXPECT_EQ(got.status, DBGPARSE_OK) << c.line;
    EXPECT_EQ(got.line, c.line);
  }

  struct warning_case {
    std::string program;
    std::string path;
    int kind;
    std::size_t line;
    std::size_t entry;
    std::string message;
    std::string shown;
  };
  const int cut = DBGPARSE_WARNING_NAME_CUT;
  const warning_case warnings[] = {
      {"dbgparse", "names.dbg", cut, 12, 0, "the name ends",
       "dbgparse: names.dbg:12: warning: the name ends\n"},
      {"dbgparse", "empty.dbg", cut, 0, 0, "the input is empty",
       "dbgparse: empty.dbg: warning: the input is empty\n"},
      // Control bytes (a zero byte too) escaped, other bytes as they are.
      {"tool", "a\x1b[2J\0b\x7f\xc3\xa9.dbg"s, cut, 3, 0, "m",
       "tool: a\\x1b[2J\\x00b\\x7f\xc3\xa9.dbg:3: warning: m\n"},
      {"dbgparse", "", cut, 1, 0, "m", "dbgparse: :1: warning: m\n"},
      // An entry the listing leaves out, as qbdump tells it.
      {"qbdump", "t\x1b.qb", DBGPARSE_WARNING_LEFT_OUT, 4, 4, "its name holds a CR or LF byte",
       "qbdump: t\\x1b.qb: entry 4 at byte 99 left out: its name holds a CR or LF byte\n"},
  };
  for (const warning_case& c : warnings) {
    const dbgparse_warning warning{c.kind, c.line, 99, c.message.c_str(), c.entry};
    const line_call got = line_of([&](collected* sunk) {
      return dbgparse_warning_line(c.program.c_str(), c.path.data(), c.path.size(), &warning,
                                   collect, sunk);
    });
    EXPECT_EQ(got.status, DBGPARSE_OK) << c.shown;
    EXPECT_EQ(got.line, c.shown);
  }
  const std::string path = "tab\tname.dbg";
  const line_call more = line_of([&](collected* sunk) {
    return dbgparse_more_warnings_line("dbgparse", path.data(), path.size(), 5, collect, sunk);
  });
  EXPECT_EQ(more.status, DBGPARSE_OK);
  EXPECT_EQ(more.line, "dbgparse: tab\\x09name.dbg: 5 more warnings\n");

  // Missing pointers: nothing handed over. A stopping sink: STOPPED.
  const dbgparse_warning warning{DBGPARSE_WARNING_NAME_CUT, 1, 0, "m", 0};
  const dbgparse_warning silent{DBGPARSE_WARNING_NAME_CUT, 1, 0, nullptr, 0};
  const dbgparse_entry nameless{1, nullptr, 4, 0, 0};
  const dbgparse_entry good = entries[0].entry;
  struct refused {
    const char* what;
    line_call got;
    int status;
  };
  const refused calls[] = {
      {"entry, none",
       line_of([](collected* s) { return dbgparse_entry_line(nullptr, collect, s); }),
       DBGPARSE_ERROR_ARGUMENT},
      {"entry, no name",
       line_of([&](collected* s) { return dbgparse_entry_line(&nameless, collect, s); }),
       DBGPARSE_ERROR_ARGUMENT},
      {"entry, no sink",
       line_of([&](collected* s) { return dbgparse_entry_line(&good, nullptr, s); }),
       DBGPARSE_ERROR_ARGUMENT},
      {"warning, no program", line_of([&](collected* s) {
         return dbgparse_warning_line(nullptr, "a", 1, &warning, collect, s);
       }),
       DBGPARSE_ERROR_ARGUMENT},
      {"warning, no path", line_of([&](collected* s) {
         return dbgparse_warning_line("p", nullptr, 1, &warning, collect, s);
       }),
       DBGPARSE_ERROR_ARGUMENT},
      {"warning, none", line_of([&](collected* s) {
         return dbgparse_warning_line("p", "a", 1, nullptr, collect, s);
       }),
       DBGPARSE_ERROR_ARGUMENT},
      {"warning, no message", line_of([&](collected* s) {
         return dbgparse_warning_line("p", "a", 1, &silent, collect, s);
       }),
       DBGPARSE_ERROR_ARGUMENT},
      {"more, no program", line_of([&](collected* s) {
         return dbgparse_more_warnings_line(nullptr, "a", 1, 2, collect, s);
       }),
       DBGPARSE_ERROR_ARGUMENT},
      {"more, no path", line_of([&](collected* s) {
         return dbgparse_more_warnings_line("p", nullptr, 1, 2, collect, s);
       }),
       DBGPARSE_ERROR_ARGUMENT},
      {"more, no sink", line_of([&](collected* s) {
         return dbgparse_more_warnings_line("p", "a", 1, 2, nullptr, s);
       }),
       DBGPARSE_ERROR_ARGUMENT},
      {"entry, stopped", line_of([&](collected* s) {
         s->stop_after = 0;
         return dbgparse_entry_line(&good, collect, s);
       }),
       DBGPARSE_ERROR_STOPPED},
      {"warning, stopped", line_of([&](collected* s) {
         s->stop_after = 0;
         return dbgparse_warning_line("p", "a", 1, &warning, collect, s);
       }),
       DBGPARSE_ERROR_STOPPED},
      {"more, stopped", line_of([&](collected* s) {
         s->stop_after = 0;
         return dbgparse_more_warnings_line("p", "a", 1, 2, collect, s);
       }),
       DBGPARSE_ERROR_STOPPED},
  };
  for (const refused& c : calls) {
    EXPECT_EQ(c.got.status, c.status) << c.what;
    EXPECT_EQ(c.got.line, "") << c.what;
  }
  // A path may be NULL when it is empty.
  EXPECT_EQ(line_of([&](collected* s) {
              return dbgparse_more_warnings_line("p", nullptr, 0, 2, collect, s);
            }).line,
            "p: : 2 more warnings\n");
}
