// The C interface of dbgparse.h over the library's C++ code: the same
// conversion that dbgparse runs and the same reader that qbdump runs. No
// exception leaves these functions; the conversion's only ones are the
// memory or the locks it could not get, and they become the documented
// error values.
#include "dbgparse.h"

#include <cstring>
#include <exception>
#include <span>

#include "conversion.h"
#include "qb_layout.h"
#include "qb_reader.h"

namespace {

// Hands a piece to a C sink and keeps its answer. noexcept: an exception
// thrown from the sink ends the program here, whichever thread runs it,
// rather than crossing C frames.
struct forwarding_sink {
  dbgparse_sink sink;
  void* context;
  int answer = 0;

  bool take(std::span<const unsigned char> piece) noexcept {
    answer = sink(context, piece.data(), piece.size());
    return answer == 0;
  }
};

// The table's length, converting without keeping it.
std::size_t table_length(std::span<const unsigned char> input) {
  std::size_t length = 0;
  dbgparse::write_table(input, [&length](std::span<const unsigned char> piece) {
    length += piece.size();
    return true;
  });
  return length;
}

// Converts into `table`, which holds `capacity` bytes; never writes past it.
void write_into(std::span<const unsigned char> input, unsigned char* table, std::size_t capacity) {
  std::size_t written = 0;
  dbgparse::write_table(input, [&](std::span<const unsigned char> piece) {
    if (capacity - written < piece.size()) {
      return false;
    }
    std::memcpy(table + written, piece.data(), piece.size());
    written += piece.size();
    return true;
  });
}

}  // namespace

extern "C" {

const char* dbgparse_version(void) { return DBGPARSE_VERSION_STRING; }

int dbgparse_convert(const unsigned char* dbg, size_t size, dbgparse_sink sink, void* context) {
  forwarding_sink forward{sink, context};
  try {
    dbgparse::write_table({dbg, size}, [&forward](std::span<const unsigned char> piece) {
      return forward.take(piece);
    });
  } catch (const std::exception&) {
    return DBGPARSE_ERROR_NO_MEMORY;
  }
  // Read after write_table has joined any thread that ran the sink.
  return forward.answer;
}

size_t dbgparse_convert_to(const unsigned char* dbg, size_t size, unsigned char* table,
                           size_t capacity) {
  const std::span<const unsigned char> input(dbg, size);
  try {
    const std::size_t length = table_length(input);
    if (table != nullptr && length <= capacity) {
      write_into(input, table, length);
    }
    return length;
  } catch (const std::exception&) {
    return 0;
  }
}

int dbgparse_next_entry(const unsigned char* table, size_t size, size_t* offset,
                        dbgparse_entry* entry, const char** reason) {
  dbgparse::qb::table_reader reader({table, size}, *offset);
  if (const auto item = reader.next()) {
    *entry = {item->value, item->name.data(), item->name.size(), item->padding, item->offset};
    *offset = item->offset + dbgparse::qb::marker_size + item->body_size();
    return 1;
  }
  if (reader.at_end()) {
    *offset = size;
    return 0;
  }
  *offset = reader.fault()->offset;
  if (reason != nullptr) {
    *reason = reader.fault()->expected;
  }
  return -1;
}

}  // extern "C"
