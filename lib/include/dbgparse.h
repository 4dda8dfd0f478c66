/*
 * dbgparse 2: DBG checksum lists to QB checksum tables, and QB tables read back.
 *
 * A DBG file is text: anything at all, then a line "[Checksums]" ending in
 * CR LF, then checksum lines such as "0x2a9d4b1c player_board". A QB table is
 * the binary form: for each checksum line a marker (01 2B for the first
 * entry, 00 2B for each later one), the checksum as 4 bytes least significant
 * first and the name's bytes, then the end marker 00 00. A table without
 * entries is 00 00 alone.
 *
 * This is a plain C interface (C99, and C++ through extern "C") to the
 * library that the dbgparse and qbdump programs are built on: the conversion
 * here is the one dbgparse does, byte for byte, the warnings are the ones it
 * prints, and the reader is the one behind `qbdump --check`, with the same
 * fault offsets and texts.
 *
 * The contract every function keeps:
 * - Every function but the two version ones returns an int status:
 *   DBGPARSE_OK (0), DBGPARSE_END (1, dbgparse_next_entry alone) or a
 *   negative DBGPARSE_ERROR_*. Results come back through pointers.
 * - A NULL pointer that a call needs gives DBGPARSE_ERROR_ARGUMENT, never a
 *   crash. `dbg` and `table` may be NULL when their size is 0.
 * - The library starts no thread, keeps no state between calls, makes no
 *   system call but for memory, and touches no file and no console. It reads
 *   and writes nothing outside the buffers it is given. Sinks, the only
 *   caller code it runs, are called on the calling thread, before the call
 *   returns, and never again after they asked to stop.
 * - Threads: any number of calls may run at once on any threads, as long as
 *   no call writes a buffer that another call reads or writes at the time.
 * - No C++ exception ever leaves a function, and none may leave a sink: a
 *   sink returns (no longjmp either).
 */
#ifndef DBGPARSE_H
#define DBGPARSE_H

#include <stddef.h>
#include <stdint.h>

/* DBGPARSE_API marks what the library exports. Define DBGPARSE_STATIC when
 * linking the static library (the CMake target dbgparse::dbgparse_static and
 * `pkg-config --static` do it for you), so that Windows looks for no DLL. */
#if defined(_WIN32) && !defined(DBGPARSE_STATIC)
#if defined(DBGPARSE_BUILDING_DLL)
#define DBGPARSE_API __declspec(dllexport)
#else
#define DBGPARSE_API __declspec(dllimport)
#endif
#elif defined(__GNUC__) && !defined(DBGPARSE_STATIC)
#define DBGPARSE_API __attribute__((visibility("default")))
#else
#define DBGPARSE_API
#endif

#ifdef __cplusplus
extern "C" {
#endif

/* The version of this header. The major number changes only where a
 * program built against an older header would break. */
#define DBGPARSE_VERSION_MAJOR 2
#define DBGPARSE_VERSION_MINOR 1
#define DBGPARSE_VERSION_PATCH 0
#define DBGPARSE_VERSION_STRING "2.1.0"
#define DBGPARSE_VERSION_NUMBER \
  (DBGPARSE_VERSION_MAJOR * 10000 + DBGPARSE_VERSION_MINOR * 100 + DBGPARSE_VERSION_PATCH)

/* The linked library's DBGPARSE_VERSION_NUMBER (20100 for 2.1.0). A program
 * run with another build of the library than the one whose header it was
 * compiled with sees that build's number here: compare
 * dbgparse_version_number() / 10000 with DBGPARSE_VERSION_MAJOR to tell a
 * library it cannot use. */
DBGPARSE_API unsigned dbgparse_version_number(void);

/* The linked library's version as "MAJOR.MINOR.PATCH" ("2.1.0"): a static
 * string, never NULL. */
DBGPARSE_API const char* dbgparse_version(void);

enum {
  DBGPARSE_OK = 0,
  DBGPARSE_END = 1, /* dbgparse_next_entry: at the end marker, the table's last two bytes */
  DBGPARSE_ERROR_ARGUMENT = -1,  /* a NULL pointer the call needs */
  DBGPARSE_ERROR_NO_MEMORY = -2, /* the memory the call needs could not be had */
  DBGPARSE_ERROR_STOPPED = -3,   /* a sink returned non-zero */
  DBGPARSE_ERROR_TOO_SMALL = -4, /* the table does not fit the capacity given */
  DBGPARSE_ERROR_MALFORMED = -5  /* dbgparse_next_entry: the table breaks */
};

/* A static English text for any status ("success", "a sink stopped the
 * call", ...), "unknown status" for a value that is none of the above;
 * never NULL. */
DBGPARSE_API const char* dbgparse_status_text(int status);

/* Receives bytes in order, in pieces of at least one byte; returns 0 to go
 * on, anything else to stop. `bytes` is valid only during the call;
 * `context` is the pointer the caller gave. */
typedef int (*dbgparse_sink)(void* context, const unsigned char* bytes, size_t size);

/* Converts `size` bytes of a DBG file at `dbg`, exactly as dbgparse does,
 * handing the whole table to `sink`. Any bytes at all are a DBG file: one
 * with no "[Checksums]" CR LF line, or no checksum line after it, gives the
 * empty table 00 00.
 *
 * Returns DBGPARSE_OK once the sink has taken the whole table (at least the
 * 2 bytes of the end marker); DBGPARSE_ERROR_STOPPED when the sink returned
 * non-zero, after which it is not called again and has taken only part of
 * the table; DBGPARSE_ERROR_NO_MEMORY when the call could not get its
 * buffer (64 KiB) before calling the sink; DBGPARSE_ERROR_ARGUMENT when
 * `sink` is NULL, or `dbg` is NULL with a size other than 0.
 * Time is linear in the input's and the table's sizes. */
DBGPARSE_API int dbgparse_convert(const unsigned char* dbg, size_t size, dbgparse_sink sink,
                                  void* context);

/* The capacity to try first for the table of a DBG file of `size` bytes (a
 * size_t): `size` and 4 KiB more, or SIZE_MAX where that does not fit a
 * size_t. A macro, so that it is a constant for a constant size: `size` is
 * evaluated twice, so give it no expression with side effects. (Since 2.1.) */
#define DBGPARSE_TABLE_GUESS(size) ((size) > SIZE_MAX - 4096 ? SIZE_MAX : (size) + 4096)

/* The same conversion into a buffer of `capacity` bytes, in one pass.
 *
 * *table_size (when `table_size` is not NULL) gets the table's length, at
 * least 2, whatever the outcome but DBGPARSE_ERROR_ARGUMENT and
 * DBGPARSE_ERROR_NO_MEMORY. Returns DBGPARSE_OK with table[0 .. length)
 * written when the table fits; DBGPARSE_ERROR_TOO_SMALL when it is longer
 * than `capacity`: table[0 .. capacity) is then unspecified. So a first call
 * with capacity 0 (and `table` NULL) gives the size to allocate, and a
 * second call with that capacity writes it. `table` may be NULL only when
 * `capacity` is 0. DBGPARSE_ERROR_NO_MEMORY is also the answer for a table
 * longer than SIZE_MAX bytes, which a build whose size_t has 32 bits
 * (WebAssembly, 32-bit Windows) cannot count: never a wrapped length.
 *
 * How to size `table`, as every binding of the library does it: allocate
 * DBGPARSE_TABLE_GUESS(size) bytes and call once; on
 * DBGPARSE_ERROR_TOO_SMALL allocate *table_size bytes and call again with
 * that capacity. A file of checksum lines makes a table shorter than itself,
 * so the first call is the only one for it; a table longer than the guess
 * (names holding "0x" make entries of their own, each with the rest of the
 * name) costs the second conversion. */
DBGPARSE_API int dbgparse_convert_to(const unsigned char* dbg, size_t size, unsigned char* table,
                                     size_t capacity, size_t* table_size);

/* One entry of a table, as dbgparse_next_entry() reads it. This layout stays
 * the same for every 2.x: what is added comes as new functions. */
typedef struct dbgparse_entry {
  uint32_t checksum;
  const unsigned char* name; /* points into the table */
  size_t name_length;        /* up to the name's first zero byte */
  size_t padding;            /* zero bytes after it, before the next marker */
  size_t offset;             /* of the entry's marker in the table */
} dbgparse_entry;

/* Reads the entry at *offset (0 for the first) of the table at
 * table[0 .. size). Nothing is copied: entry->name points into the table.
 *
 * Returns DBGPARSE_OK with *entry filled and *offset moved past the entry;
 * DBGPARSE_END at the end marker, when it is the table's last two bytes
 * (*offset is then the table's size); DBGPARSE_ERROR_MALFORMED for a table
 * that breaks, with *offset at the byte where it breaks and *reason (when
 * `reason` is not NULL) a static English text saying what was expected
 * there; DBGPARSE_ERROR_ARGUMENT when `offset` or `entry` is NULL, or
 * `table` is NULL with a size other than 0 (nothing is written then).
 *
 * The entries of a table are read by starting at offset 0 and calling again
 * with the offset each call leaves while it returns DBGPARSE_OK. At offset 0
 * the table must start with 01 2B (the first entry) or be 00 00 alone (no
 * entry); at a later offset it must hold 00 2B (a later entry) or the end
 * marker as its last two bytes, as it does after each entry returned.
 *
 * An entry is its marker, 4 value bytes (checksum, least significant first)
 * and the name up to its first zero byte; the zero bytes after the name run
 * up to the next entry's marker 00 2B or to the end marker 00 00, and those
 * before that marker are the padding. An entry is returned only once it is
 * known to be followed by a marker, so a table that breaks gives
 * DBGPARSE_ERROR_MALFORMED on the call that would have returned the entry
 * the fault cuts off.
 *
 * Where a malformed table breaks (*offset):
 *   an empty table (size 0)                               0
 *   offset 0: neither 01 2B nor the table 00 00 alone     the first wrong byte
 *                                                         (1 in a one-byte table)
 *   a value or a name cut off by the table's end          size
 *   zero bytes after a name, then a byte other than 2B    that byte
 *   one zero byte at the end, no full end marker          size
 *   bytes after the end marker of a table of no entry     2
 *   a later *offset not at 00 2B or a final 00 00         the first wrong byte
 *                                                         (size when at or past it)
 * These are the offsets and texts that `qbdump --check` reports. */
DBGPARSE_API int dbgparse_next_entry(const unsigned char* table, size_t size, size_t* offset,
                                     dbgparse_entry* entry, const char** reason);

/* What a warning is about: the conversion did what it always does, but the
 * input looks as if its author meant something else. */
enum {
  DBGPARSE_WARNING_NO_SECTION = 1,      /* a non-empty input without a "[Checksums]" CR LF line:
                                           the table is empty (the near miss named, if any) */
  DBGPARSE_WARNING_VALUE_FIELD = 2,     /* the 8 positions after "0x" are not 8 hexadecimal
                                           digits followed by a blank or a tab */
  DBGPARSE_WARNING_INNER_LINE = 3,      /* a "0x" after the start of its line (in a name or a
                                           comment) made an entry of its own */
  DBGPARSE_WARNING_EMPTY_NAME = 4,      /* an entry without a name ended the table */
  DBGPARSE_WARNING_NO_LINE_END = 5,     /* the input ends inside a checksum line: its entry has
                                           no name */
  DBGPARSE_WARNING_NAME_CUT = 6,        /* a name longer than 255 bytes was cut to 255 */
  DBGPARSE_WARNING_NAME_ZERO_BYTE = 7,  /* a zero byte in a name: the rest became zero bytes */
  DBGPARSE_WARNING_NAME_END_BLANK = 8,  /* a name ending in blanks or tabs, kept in the table */
  DBGPARSE_WARNING_NOT_CONVERTED = 9,   /* a line that looks like a checksum line made no entry */
  DBGPARSE_WARNING_LEFT_OUT = 10,       /* dbgparse_list: an entry no listing line can make */
  DBGPARSE_WARNING_MALFORMED = 11,      /* dbgparse_list: where the table breaks, and what was
                                           expected there (since 2.1) */
  DBGPARSE_WARNING_NAME_UNEXPECTED = 12 /* a name kept as written that reads as something else:
                                           it starts with a blank or a tab, with "=", ":" or
                                           "//", or holds a comment (";", "#" or "//" after a
                                           blank or a tab) (since 2.1) */
};

/* One warning, handed to a sink by pointer; the library only writes it.
 *
 * `kind`, `line`, `offset` and `message` keep their layout and meaning for
 * every 2.x; later fields are added at the end only, so a program built
 * against an older header reads the fields it knows. A sink should pass
 * over kinds it does not know: later versions may add some. */
typedef struct dbgparse_warning {
  int kind;            /* a DBGPARSE_WARNING_* value */
  size_t line;         /* 1-based, counting CR LF, a lone CR and a lone LF as one line end
                          each; 0 when it is about the input as a whole or about a table.
                          For DBGPARSE_WARNING_LEFT_OUT the entry's number, as in 2.0 */
  size_t offset;       /* of the byte the warning is about, in the input */
  const char* message; /* one English sentence in printable ASCII, naming no file: what the
                          conversion did there; valid only during the sink's call */
  size_t entry;        /* the number from 1 of the table's entry it is about (LEFT_OUT);
                          0 for any other (since 2.1) */
} dbgparse_warning;

/* Receives one warning; returns 0 to go on, anything else to stop. */
typedef int (*dbgparse_warning_sink)(void* context, const dbgparse_warning* warning);

/* Hands `sink` the warnings for the DBG file at dbg[0 .. size), in input
 * order. The conversion itself is not changed by them: it is the same for
 * every input. A file whose every line after the header is "0x", 8
 * hexadecimal digits, one blank, a name and CR LF gets none.
 *
 * Returns DBGPARSE_OK once every warning was handed over;
 * DBGPARSE_ERROR_STOPPED when the sink returned non-zero;
 * DBGPARSE_ERROR_NO_MEMORY when a message could not be made;
 * DBGPARSE_ERROR_ARGUMENT when `sink` is NULL, or `dbg` is NULL with a size
 * other than 0. Time is linear in the input's size and the warnings'
 * count. */
DBGPARSE_API int dbgparse_diagnose(const unsigned char* dbg, size_t size,
                                   dbgparse_warning_sink sink, void* context);

/* Converts the DBG file at dbg[0 .. size) as dbgparse_convert() does and,
 * in the same pass over the input, hands `warn` (when not NULL) the
 * warnings that dbgparse_diagnose() gives for it: what `sink` receives is
 * the same table byte for byte, and what `warn` receives the same warnings
 * in the same order, as the two calls give apart. Each warning is handed
 * over before the table's bytes for the lines after it reach `sink`, as
 * the walk finds it; a caller that needs them all first collects them.
 *
 * Returns DBGPARSE_OK once the whole table and every warning were handed
 * over; DBGPARSE_ERROR_STOPPED when either sink returned non-zero: neither
 * is called again; DBGPARSE_ERROR_NO_MEMORY when the call's buffer or a
 * message could not be had; DBGPARSE_ERROR_ARGUMENT when `sink` is NULL, or
 * `dbg` is NULL with a size other than 0. Time is linear in the input's and
 * the table's sizes and the warnings' count. (Since 2.1.) */
DBGPARSE_API int dbgparse_convert_and_diagnose(const unsigned char* dbg, size_t size,
                                               dbgparse_sink sink, void* context,
                                               dbgparse_warning_sink warn, void* warn_context);

/* Lists the table at table[0 .. size) as DBG text that dbgparse converts
 * back to it, as `qbdump TABLE` does: "[Checksums]" CR LF, then a line
 * "0x%08x NAME" CR LF per entry (a name's zero padding kept as zero bytes),
 * handed to `sink`. An entry that no line can make is left out and handed to
 * `warn` (when not NULL) as a DBGPARSE_WARNING_LEFT_OUT whose `entry` (and
 * `line`) is the entry's number from 1, `offset` its marker's offset and
 * `message` the reason; whenever none is, converting the listing gives the
 * table byte for byte.
 *
 * Returns DBGPARSE_OK once the whole listing was handed over;
 * DBGPARSE_ERROR_MALFORMED when the table breaks: the entries before the
 * fault are listed, and `warn` (when not NULL) gets, last, one
 * DBGPARSE_WARNING_MALFORMED whose `offset` is where the table breaks and
 * `message` what was expected there: the offset and text that
 * dbgparse_next_entry() and `qbdump --check` give (since 2.1);
 * DBGPARSE_ERROR_STOPPED when a sink returned non-zero;
 * DBGPARSE_ERROR_NO_MEMORY; DBGPARSE_ERROR_ARGUMENT when `sink` is NULL, or
 * `table` is NULL with a size other than 0. Time is linear in the table's
 * size. */
DBGPARSE_API int dbgparse_list(const unsigned char* table, size_t size, dbgparse_sink sink,
                               void* context, dbgparse_warning_sink warn, void* warn_context);

/* The lines the programs print, for a program, a binding or a page that
 * shows what dbgparse and qbdump show without spelling their texts again.
 * Each hands `sink` one line, ending in LF, in one or more pieces, and
 * returns DBGPARSE_OK once the whole line was handed over;
 * DBGPARSE_ERROR_STOPPED when the sink returned non-zero;
 * DBGPARSE_ERROR_NO_MEMORY when the line could not be made;
 * DBGPARSE_ERROR_ARGUMENT, with nothing handed over, when a pointer named
 * below is NULL. `path` is a file's name as bytes, path[0 .. path_size),
 * which may be NULL when path_size is 0; in the line, each of its bytes
 * below 0x20 and 0x7F is written "\xhh" (so that no escape sequence
 * reaches a terminal) and every other byte as it is. (Since 2.1.) */

/* The line `qbdump --entries` writes for `entry`: its `offset` in decimal,
 * its checksum as "0x%08x", its name in double quotes, then " padding N"
 * when `padding` N is not 0, each separated by one blank, e.g.
 *   18 0xdeadbeef "tab\x09name" padding 3
 * In the quotes, printable ASCII stands for itself but for '"' and '\';
 * those two, bytes below 0x20 and bytes from 0x7F on are written "\xhh"
 * (two lower-case hexadecimal digits), so the line is printable ASCII.
 * DBGPARSE_ERROR_ARGUMENT when `entry` or `sink` is NULL, or entry->name
 * is NULL with a name_length other than 0. */
DBGPARSE_API int dbgparse_entry_line(const dbgparse_entry* entry, dbgparse_sink sink,
                                     void* context);

/* The line dbgparse prints on its standard error for `warning` about the
 * file `path`, in the form compilers use:
 *   PROGRAM: PATH:LINE: warning: MESSAGE
 *   PROGRAM: PATH: warning: MESSAGE        (warning->line 0: the input as a whole)
 * with `program` a NUL-terminated name ("dbgparse" for its own lines) and
 * LINE warning->line in decimal. For a DBGPARSE_WARNING_LEFT_OUT from
 * dbgparse_list, the line qbdump prints for the table `path` instead:
 *   PROGRAM: PATH: entry ENTRY at byte OFFSET left out: MESSAGE
 * with ENTRY and OFFSET the warning's `entry` and `offset` in decimal. Only
 * `kind`, `line`, `offset`, `entry` and `message` are read from the
 * warning. DBGPARSE_ERROR_ARGUMENT when `program`, `warning`,
 * warning->message or `sink` is NULL, or `path` is NULL with a path_size
 * other than 0. */
DBGPARSE_API int dbgparse_warning_line(const char* program, const char* path, size_t path_size,
                                       const dbgparse_warning* warning, dbgparse_sink sink,
                                       void* context);

/* The line dbgparse prints after the warnings it shows (the first 20) when
 * there are more, `count` being how many it did not show:
 *   PROGRAM: PATH: COUNT more warnings
 * DBGPARSE_ERROR_ARGUMENT when `program` or `sink` is NULL, or `path` is
 * NULL with a path_size other than 0. */
DBGPARSE_API int dbgparse_more_warnings_line(const char* program, const char* path,
                                             size_t path_size, size_t count, dbgparse_sink sink,
                                             void* context);

#ifdef __cplusplus
}
#endif

#endif /* DBGPARSE_H */
