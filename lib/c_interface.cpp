// The C interface of dbgparse.h over the library's C++ code: the same
// conversion that dbgparse runs, the same warnings it prints and the same
// reader that qbdump runs. No exception leaves these functions: the only
// ones inside are memory that could not be had.
#include <cstdint>
#include <cstring>
#include <new>
#include <span>

#include "conversion.h"
#include "dbgparse.h"
#include "diagnosis.h"
#include "qb_layout.h"
#include "qb_listing.h"
#include "qb_reader.h"
#include "text.h"

namespace {

// A NULL buffer is a buffer only when it is empty.
bool valid_buffer(const unsigned char* bytes, size_t size) { return bytes != nullptr || size == 0; }

// The C sinks as the C++ code takes them.
dbgparse::byte_sink bytes_to(dbgparse_sink sink, void* context) {
  return [sink, context](std::span<const unsigned char> piece) {
    return sink(context, piece.data(), piece.size()) == 0;
  };
}

dbgparse::warning_sink warnings_to(dbgparse_warning_sink sink, void* context) {
  return [sink, context](const dbgparse::warning& found) {
    const dbgparse_warning out{static_cast<int>(found.kind), found.line, found.offset,
                               found.message.c_str(), 0};
    return sink(context, &out) == 0;
  };
}

// A call's body, run so that memory that could not be had, the one
// exception inside, is its status.
template <typename Body>
int guarded(Body body) noexcept {
  try {
    return body();
  } catch (const std::bad_alloc&) {
    return DBGPARSE_ERROR_NO_MEMORY;
  }
}

// The status of a call that went to the end unless a sink stopped it.
int whole_or_stopped(bool whole) { return whole ? DBGPARSE_OK : DBGPARSE_ERROR_STOPPED; }

// Makes a line of text.cpp and hands it to a C sink.
template <typename Make>
int line_to(dbgparse_sink sink, void* context, Make make) {
  return guarded([&] {
    const std::string line = make();
    return whole_or_stopped(
        sink(context, reinterpret_cast<const unsigned char*>(line.data()), line.size()) == 0);
  });
}

}  // namespace

extern "C" {

unsigned dbgparse_version_number(void) { return DBGPARSE_VERSION_NUMBER; }

const char* dbgparse_version(void) { return DBGPARSE_VERSION_STRING; }

const char* dbgparse_status_text(int status) {
  switch (status) {
    case DBGPARSE_OK:
      return "success";
    case DBGPARSE_END:
      return "the end of the table";
    case DBGPARSE_ERROR_ARGUMENT:
      return "a pointer the call needs is NULL";
    case DBGPARSE_ERROR_NO_MEMORY:
      return "not enough memory";
    case DBGPARSE_ERROR_STOPPED:
      return "a sink stopped the call";
    case DBGPARSE_ERROR_TOO_SMALL:
      return "the table does not fit the capacity given";
    case DBGPARSE_ERROR_MALFORMED:
      return "the table is malformed";
    default:
      return "unknown status";
  }
}

int dbgparse_convert(const unsigned char* dbg, size_t size, dbgparse_sink sink, void* context) {
  if (sink == nullptr || !valid_buffer(dbg, size)) {
    return DBGPARSE_ERROR_ARGUMENT;
  }
  return guarded([&] {
    return whole_or_stopped(dbgparse::write_table({dbg, size}, bytes_to(sink, context)));
  });
}

int dbgparse_convert_to(const unsigned char* dbg, size_t size, unsigned char* table,
                        size_t capacity, size_t* table_size) {
  if (!valid_buffer(dbg, size) || !valid_buffer(table, capacity)) {
    return DBGPARSE_ERROR_ARGUMENT;
  }
  return guarded([&] {
    // One pass: pieces are copied while they fit and counted throughout. A
    // table longer than a size_t counts (where it has 32 bits) could never
    // be had: the conversion stops there rather than give a wrapped length.
    std::size_t length = 0;
    const bool countable =
        dbgparse::write_table({dbg, size}, [&](std::span<const unsigned char> piece) {
          if (piece.size() > SIZE_MAX - length) {
            return false;
          }
          if (length <= capacity && capacity - length >= piece.size()) {
            std::memcpy(table + length, piece.data(), piece.size());
          }
          length += piece.size();
          return true;
        });
    if (!countable) {
      return DBGPARSE_ERROR_NO_MEMORY;
    }
    if (table_size != nullptr) {
      *table_size = length;
    }
    return length <= capacity ? DBGPARSE_OK : DBGPARSE_ERROR_TOO_SMALL;
  });
}

int dbgparse_next_entry(const unsigned char* table, size_t size, size_t* offset,
                        dbgparse_entry* entry, const char** reason) {
  if (offset == nullptr || entry == nullptr || !valid_buffer(table, size)) {
    return DBGPARSE_ERROR_ARGUMENT;
  }
  dbgparse::qb::table_reader reader({table, size}, *offset);
  if (const auto item = reader.next()) {
    *entry = {item->checksum, item->name.data(), item->name.size(), item->padding, item->offset};
    *offset = item->offset + dbgparse::qb::marker_size + item->body_size();
    return DBGPARSE_OK;
  }
  if (reader.at_end()) {
    *offset = size;
    return DBGPARSE_END;
  }
  *offset = reader.fault()->offset;
  if (reason != nullptr) {
    *reason = reader.fault()->expected;
  }
  return DBGPARSE_ERROR_MALFORMED;
}

int dbgparse_diagnose(const unsigned char* dbg, size_t size, dbgparse_warning_sink sink,
                      void* context) {
  if (sink == nullptr || !valid_buffer(dbg, size)) {
    return DBGPARSE_ERROR_ARGUMENT;
  }
  return guarded([&] {
    return whole_or_stopped(dbgparse::diagnose({dbg, size}, warnings_to(sink, context)));
  });
}

int dbgparse_convert_and_diagnose(const unsigned char* dbg, size_t size, dbgparse_sink sink,
                                  void* context, dbgparse_warning_sink warn, void* warn_context) {
  if (sink == nullptr || !valid_buffer(dbg, size)) {
    return DBGPARSE_ERROR_ARGUMENT;
  }
  return guarded([&] {
    // Without a warning sink, the conversion alone.
    return whole_or_stopped(
        warn == nullptr ? dbgparse::write_table({dbg, size}, bytes_to(sink, context))
                        : dbgparse::convert_and_diagnose({dbg, size}, bytes_to(sink, context),
                                                         warnings_to(warn, warn_context)));
  });
}

int dbgparse_list(const unsigned char* table, size_t size, dbgparse_sink sink, void* context,
                  dbgparse_warning_sink warn, void* warn_context) {
  if (sink == nullptr || !valid_buffer(table, size)) {
    return DBGPARSE_ERROR_ARGUMENT;
  }
  return guarded([&] {
    bool warnings_taken = true;
    const dbgparse::qb::listing_outcome outcome = dbgparse::qb::write_listing(
        {table, size},
        [&](std::span<const unsigned char> piece) {
          return warnings_taken && sink(context, piece.data(), piece.size()) == 0;
        },
        [&](const dbgparse::qb::listing_warning& left_out) {
          if (warn != nullptr && warnings_taken) {
            // `line` keeps the number as 2.0's callers read it.
            const dbgparse_warning out{DBGPARSE_WARNING_LEFT_OUT, left_out.number, left_out.offset,
                                       left_out.reason.c_str(), left_out.number};
            warnings_taken = warn(warn_context, &out) == 0;
          }
        });
    if (!outcome.written || !warnings_taken) {
      return DBGPARSE_ERROR_STOPPED;
    }
    if (!outcome.fault) {
      return DBGPARSE_OK;
    }
    if (warn != nullptr) {
      const dbgparse_warning out{DBGPARSE_WARNING_MALFORMED, 0, outcome.fault->offset,
                                 outcome.fault->expected, 0};
      if (warn(warn_context, &out) != 0) {
        return DBGPARSE_ERROR_STOPPED;
      }
    }
    return DBGPARSE_ERROR_MALFORMED;
  });
}

int dbgparse_entry_line(const dbgparse_entry* entry, dbgparse_sink sink, void* context) {
  if (entry == nullptr || sink == nullptr || !valid_buffer(entry->name, entry->name_length)) {
    return DBGPARSE_ERROR_ARGUMENT;
  }
  return line_to(sink, context, [entry] {
    return dbgparse::text::entry_line(entry->offset, entry->checksum,
                                      {entry->name, entry->name_length}, entry->padding);
  });
}

int dbgparse_warning_line(const char* program, const char* path, size_t path_size,
                          const dbgparse_warning* warning, dbgparse_sink sink, void* context) {
  if (program == nullptr || warning == nullptr || warning->message == nullptr || sink == nullptr ||
      (path == nullptr && path_size != 0)) {
    return DBGPARSE_ERROR_ARGUMENT;
  }
  return line_to(sink, context, [&] {
    return warning->kind == DBGPARSE_WARNING_LEFT_OUT
               ? dbgparse::text::left_out_line(program, {path, path_size}, warning->entry,
                                               warning->offset, warning->message)
               : dbgparse::text::warning_line(program, {path, path_size}, warning->line,
                                              warning->message);
  });
}

int dbgparse_more_warnings_line(const char* program, const char* path, size_t path_size,
                                size_t count, dbgparse_sink sink, void* context) {
  if (program == nullptr || sink == nullptr || (path == nullptr && path_size != 0)) {
    return DBGPARSE_ERROR_ARGUMENT;
  }
  return line_to(sink, context, [&] {
    return dbgparse::text::more_warnings_line(program, {path, path_size}, count);
  });
}

}  // extern "C"
