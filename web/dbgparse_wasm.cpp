// The WebAssembly module's own exports: the C interface of dbgparse.h made
// easy to call from JavaScript, which cannot hand C a function to call back.
// Each call gathers what the library hands its sinks into one malloc'ed
// buffer and gives the buffer back through out-pointers; the JavaScript side
// (core.mjs) copies it out and frees it. Nothing here outlives a call.
#include <dbgparse.h>
#include <emscripten/emscripten.h>

#include <malloc.h>
#include <cstdint>
#include <cstdlib>
#include <cstring>

namespace {

// Bytes gathered from a sink, grown by doubling.
struct gathered {
  unsigned char* bytes = nullptr;
  size_t size = 0;
  size_t capacity = 0;
  bool out_of_memory = false;
};

bool append(gathered& out, const void* bytes, size_t size) {
  if (out.capacity - out.size < size) {
    // Doubled while that fits a size_t (32 bits here), never wrapped.
    if (size > SIZE_MAX - out.size) {
      out.out_of_memory = true;
      return false;
    }
    size_t capacity = out.capacity < 4096 ? 4096 : out.capacity;
    while (capacity - out.size < size) {
      capacity = capacity > SIZE_MAX / 2 ? SIZE_MAX : capacity * 2;
    }
    auto* grown = static_cast<unsigned char*>(std::realloc(out.bytes, capacity));
    if (grown == nullptr) {
      out.out_of_memory = true;
      return false;
    }
    out.bytes = grown;
    out.capacity = capacity;
  }
  std::memcpy(out.bytes + out.size, bytes, size);
  out.size += size;
  return true;
}

int gather_bytes(void* context, const unsigned char* bytes, size_t size) {
  return append(*static_cast<gathered*>(context), bytes, size) ? 0 : 1;
}

// Hands the gathered bytes over, or frees them when the call failed.
int hand_over(int status, gathered& out, unsigned char** bytes, size_t* size) {
  if (out.out_of_memory) {
    status = DBGPARSE_ERROR_NO_MEMORY;
  }
  if (status != DBGPARSE_OK && status != DBGPARSE_ERROR_MALFORMED) {
    std::free(out.bytes);
    out = gathered{};
  }
  *bytes = out.bytes;
  *size = out.size;
  return status;
}

// The program whose lines the page shows: dbgparse's, and qbdump's for a
// listing.
constexpr const char* program = "dbgparse";

// Warnings as records of six 32-bit words (kind, line, offset, entry,
// message length, line length), the message's bytes and, when `path` is
// set, the warning's line as `program` prints it for the file `path`; only
// the first `limit` are kept, all are counted. dbgparse_list's
// DBGPARSE_WARNING_MALFORMED, the fault, is always kept and not counted:
// the count is of the entries left out.
struct warnings {
  gathered records;
  size_t limit = 0;
  size_t count = 0;
  const char* path = nullptr;
  size_t path_size = 0;
  const char* program = ::program;
};

int gather_warning(void* context, const dbgparse_warning* warning) {
  auto& out = *static_cast<warnings*>(context);
  if (warning->kind != DBGPARSE_WARNING_MALFORMED && out.count++ >= out.limit) {
    return 0;
  }
  gathered line;
  if (out.path != nullptr) {
    const int status =
        dbgparse_warning_line(out.program, out.path, out.path_size, warning, gather_bytes, &line);
    if (status != DBGPARSE_OK) {
      std::free(line.bytes);
      out.records.out_of_memory = true;
      return 1;
    }
  }
  const size_t length = std::strlen(warning->message);
  const unsigned words[6] = {static_cast<unsigned>(warning->kind),
                             warning->line,
                             warning->offset,
                             warning->entry,
                             length,
                             line.size};
  const bool kept = append(out.records, words, sizeof words) &&
                    append(out.records, warning->message, length) &&
                    append(out.records, line.bytes, line.size);
  std::free(line.bytes);
  return kept ? 0 : 1;
}

// Hands over the bytes and the warning records that one call gathered, and
// the warnings' count; both are freed when the call failed or either ran out
// of memory.
int hand_over_with_warnings(int status, gathered& out, unsigned char** bytes, size_t* size,
                            warnings& found, unsigned char** records, size_t* records_size,
                            size_t* count) {
  *count = found.count;
  if (out.out_of_memory || found.records.out_of_memory) {
    status = DBGPARSE_ERROR_NO_MEMORY;
  }
  hand_over(status, found.records, records, records_size);
  return hand_over(status, out, bytes, size);
}

}  // namespace

extern "C" {

// The table of dbg[0 .. size), in *table[0 .. *table_size): sized as
// dbgparse.h says, DBGPARSE_TABLE_GUESS first, then the table's own size.
EMSCRIPTEN_KEEPALIVE int web_convert(const unsigned char* dbg, size_t size, unsigned char** table,
                                     size_t* table_size) {
  size_t capacity = DBGPARSE_TABLE_GUESS(size);
  for (;;) {
    auto* bytes = static_cast<unsigned char*>(std::malloc(capacity));
    if (bytes == nullptr) {
      return DBGPARSE_ERROR_NO_MEMORY;
    }
    const int status = dbgparse_convert_to(dbg, size, bytes, capacity, table_size);
    if (status == DBGPARSE_OK) {
      *table = bytes;
      return status;
    }
    std::free(bytes);
    if (status != DBGPARSE_ERROR_TOO_SMALL) {
      return status;
    }
    capacity = *table_size;
  }
}

// The first `limit` warnings of dbg[0 .. size) as records, and the count of
// them all in *count.
EMSCRIPTEN_KEEPALIVE int web_diagnose(const unsigned char* dbg, size_t size, size_t limit,
                                      unsigned char** records, size_t* records_size,
                                      size_t* count) {
  warnings out;
  out.limit = limit;
  const int status = dbgparse_diagnose(dbg, size, gather_warning, &out);
  *count = out.count;
  return hand_over(status, out.records, records, records_size);
}

// The table of dbg[0 .. size) and the first `limit` of its warnings as
// records, each with its line for the file path[0 .. path_size) (UTF-8),
// with the count of them all in *count: one pass over the input.
EMSCRIPTEN_KEEPALIVE int web_convert_and_diagnose(const unsigned char* dbg, size_t size,
                                                  const char* path, size_t path_size, size_t limit,
                                                  unsigned char** table, size_t* table_size,
                                                  unsigned char** records, size_t* records_size,
                                                  size_t* count) {
  // Room for the table as dbgparse.h guesses it; grown by doubling past it.
  gathered bytes;
  bytes.capacity = DBGPARSE_TABLE_GUESS(size);
  bytes.bytes = static_cast<unsigned char*>(std::malloc(bytes.capacity));
  if (bytes.bytes == nullptr) {
    return DBGPARSE_ERROR_NO_MEMORY;
  }
  warnings out;
  out.limit = limit;
  out.path = path;
  out.path_size = path_size;
  const int status =
      dbgparse_convert_and_diagnose(dbg, size, gather_bytes, &bytes, gather_warning, &out);
  return hand_over_with_warnings(status, bytes, table, table_size, out, records, records_size,
                                 count);
}

// qbdump's listing of table[0 .. size); for a table that breaks, the
// listing of the entries before the fault with DBGPARSE_ERROR_MALFORMED. The
// entries it leaves out as warning records (the first `limit`), each with
// its line as qbdump tells it for the file path[0 .. path_size) (UTF-8),
// then the fault's, and their count (the fault's not counted) in *count.
EMSCRIPTEN_KEEPALIVE int web_list(const unsigned char* table, size_t size, const char* path,
                                  size_t path_size, size_t limit, unsigned char** listing,
                                  size_t* listing_size, unsigned char** left_out,
                                  size_t* left_out_size, size_t* count) {
  gathered out;
  warnings skipped;
  skipped.limit = limit;
  skipped.path = path;
  skipped.path_size = path_size;
  skipped.program = "qbdump";
  const int status = dbgparse_list(table, size, gather_bytes, &out, gather_warning, &skipped);
  return hand_over_with_warnings(status, out, listing, listing_size, skipped, left_out,
                                 left_out_size, count);
}

// dbgparse_next_entry with the entry as five 32-bit words: checksum, name,
// name length, padding and offset.
EMSCRIPTEN_KEEPALIVE int web_next_entry(const unsigned char* table, size_t size, size_t* offset,
                                        unsigned* entry, const char** reason) {
  dbgparse_entry read{};
  const int status = dbgparse_next_entry(table, size, offset, &read, reason);
  entry[0] = read.checksum;
  entry[1] = static_cast<unsigned>(reinterpret_cast<size_t>(read.name));
  entry[2] = read.name_length;
  entry[3] = read.padding;
  entry[4] = read.offset;
  return status;
}

// dbgparse's line for `count` warnings not shown about the file
// path[0 .. path_size) (UTF-8).
EMSCRIPTEN_KEEPALIVE int web_more_warnings_line(const char* path, size_t path_size, size_t count,
                                                unsigned char** line, size_t* line_size) {
  gathered out;
  const int status =
      dbgparse_more_warnings_line(program, path, path_size, count, gather_bytes, &out);
  return hand_over(status, out, line, line_size);
}

// qbdump --entries' line for the entry that web_next_entry left in
// entry[0 .. 5), whose name points into a table still in the heap.
EMSCRIPTEN_KEEPALIVE int web_entry_line(const unsigned* entry, unsigned char** line,
                                        size_t* line_size) {
  const dbgparse_entry read{entry[0], reinterpret_cast<const unsigned char*>(size_t{entry[1]}),
                            entry[2], entry[3], entry[4]};
  gathered out;
  const int status = dbgparse_entry_line(&read, gather_bytes, &out);
  return hand_over(status, out, line, line_size);
}

EMSCRIPTEN_KEEPALIVE const char* web_version() { return dbgparse_version(); }

// The bytes malloc holds now: the tests' measure of a leak.
EMSCRIPTEN_KEEPALIVE size_t web_heap_in_use() { return static_cast<size_t>(mallinfo().uordblks); }

EMSCRIPTEN_KEEPALIVE void* web_malloc(size_t size) { return std::malloc(size); }
EMSCRIPTEN_KEEPALIVE void web_free(void* bytes) { std::free(bytes); }
}
