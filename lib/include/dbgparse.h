/*
 * dbgparse: DBG checksum lists to QB checksum tables, and QB tables read back.
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
 * here is the one dbgparse does, byte for byte, and the reader the one
 * behind `qbdump --check`, with the same fault offsets and texts.
 *
 * Every function works only on the buffers it is given: none keeps state
 * between calls, touches a file or the console, or reads or writes outside
 * the buffers. Calls on different buffers may run on several threads at
 * once. No C++ exception ever leaves a function of this interface.
 */
#ifndef DBGPARSE_H
#define DBGPARSE_H

/* A C header, C++ compatible: C's headers and typedefs are its own.
 * NOLINTBEGIN(modernize-deprecated-headers,modernize-use-using) */
#include <limits.h>
#include <stddef.h>
#include <stdint.h>

/* What the shared library exports: these functions alone. */
#if defined(_WIN32)
#if defined(DBGPARSE_BUILDING_DLL)
#define DBGPARSE_API __declspec(dllexport)
#else
#define DBGPARSE_API
#endif
#elif defined(__GNUC__)
#define DBGPARSE_API __attribute__((visibility("default")))
#else
#define DBGPARSE_API
#endif

#ifdef __cplusplus
extern "C" {
#endif

/* The version of this header; dbgparse_version() gives the library's. */
#define DBGPARSE_VERSION_MAJOR 1 /* changes only when the interface does not stay compatible */
#define DBGPARSE_VERSION_MINOR 1 /* additions */
#define DBGPARSE_VERSION_PATCH 0 /* fixes */
#define DBGPARSE_VERSION_STRING "1.1.0"

/* The version of the library linked, as "MAJOR.MINOR.PATCH" ("1.1.0"): a
 * static string, never NULL. It may differ from DBGPARSE_VERSION_STRING when
 * a program runs with another build of the shared library than the one whose
 * header it was compiled with; the major numbers always agree. */
DBGPARSE_API const char* dbgparse_version(void);

/* What dbgparse_convert() returns when the memory the conversion needs
 * (about 3 MiB, whatever the input's size) or another resource of the
 * system, such as a lock, cannot be had. A sink whose own
 * values must be told apart from it never returns INT_MIN. */
#define DBGPARSE_ERROR_NO_MEMORY INT_MIN

/* Receives the table in order, in pieces of at least one byte; returns 0 to
 * go on. Any other value stops the conversion, and dbgparse_convert() returns
 * it. `bytes` is valid only during the call. `context` is the pointer given
 * to dbgparse_convert(). A sink must return (no longjmp, and in C++ no
 * exception: one thrown from a sink ends the program). */
typedef int (*dbgparse_sink)(void* context, const unsigned char* bytes, size_t size);

/* Converts `size` bytes of a DBG file at `dbg`, exactly as dbgparse does,
 * handing the whole table to `sink` (on the calling thread or on one the call
 * starts and joins; one call at a time, and every call over when
 * dbgparse_convert returns).
 *
 * Reads:   dbg[0 .. size), nothing else; `dbg` may be NULL when `size` is 0.
 *          Any bytes at all are a DBG file: an input with no "[Checksums]"
 *          line or no checksum line gives the empty table 00 00.
 * Writes:  nothing but what the sink does.
 * Returns: 0 once the sink has taken the whole table (at least the 2 bytes of
 *          the end marker);
 *          the sink's first non-zero value, after which the sink is not
 *          called again and the table stays incomplete;
 *          DBGPARSE_ERROR_NO_MEMORY when the conversion could not get the
 *          memory it needs; the sink may have taken part of the table.
 *          Never fails on malformed input. `sink` must not be NULL.
 * Time is linear in the input's and the table's sizes. */
DBGPARSE_API int dbgparse_convert(const unsigned char* dbg, size_t size, dbgparse_sink sink,
                                  void* context);

/* The same into a buffer: returns the table's length; writes it only when it
 * fits in `capacity` bytes (so a first call with capacity 0 gives the size to
 * allocate).
 *
 * Reads:   dbg[0 .. size), as dbgparse_convert(); `dbg` may be NULL when
 *          `size` is 0.
 * Writes:  table[0 .. length) when length <= capacity and `table` is not
 *          NULL; otherwise nothing at all (`table` may then be NULL).
 * Returns: the table's length, always at least 2, whether or not it was
 *          written: the table fits when the result is <= capacity;
 *          0 only when the conversion could not get the memory it needs
 *          (nothing is then written).
 * A call that writes the table converts the input twice, once to measure
 * the table and once to write it; any other call converts it once. */
DBGPARSE_API size_t dbgparse_convert_to(const unsigned char* dbg, size_t size, unsigned char* table,
                                        size_t capacity);

/* One entry of a table, as dbgparse_next_entry() reads it. */
typedef struct dbgparse_entry {
  uint32_t checksum;
  const unsigned char* name; /* points into the table */
  size_t name_length;        /* up to the name's first zero byte */
  size_t padding;            /* zero bytes after it, before the next marker */
  size_t offset;             /* of the entry's marker in the table */
} dbgparse_entry;

/* Reads the entry at *offset (0 for the first). Returns 1 with *entry filled
 * and *offset moved past the entry; 0 at the end marker, when it is the
 * table's last two bytes (*offset is then the table's size); -1 for a
 * malformed table, *offset then the byte where it breaks, and *reason (when
 * not NULL) a static English text saying what was expected there.
 * Reads nothing outside [table, table + size).
 *
 * Reads:   table[0 .. size) only; `table` may be NULL when `size` is 0.
 * Writes:  *offset always; *entry only when 1 is returned; *reason only
 *          when -1 is returned and `reason` is not NULL (`offset` and
 *          `entry` must not be NULL). Nothing is copied: entry->name
 *          points into the table.
 *
 * The entries of a table are read by starting at offset 0 and calling again
 * with the offset each call leaves while it returns 1. At offset 0 the table
 * must start with 01 2B (the first entry) or be 00 00 alone (no entry); at a
 * later offset it must hold 00 2B (a later entry) or the end marker as its
 * last two bytes, as it does after each entry this function returned.
 *
 * An entry is its marker, 4 value bytes (checksum, least significant first)
 * and the name up to its first zero byte; the zero bytes after the name run
 * up to the next entry's marker 00 2B or to the end marker 00 00, and those
 * before that marker are the padding. An entry is returned only once it is
 * known to be followed by a marker, so a table that breaks gives -1 on the
 * call that would have returned the entry the fault cuts off.
 *
 * Where a malformed table breaks (*offset after -1):
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

#ifdef __cplusplus
}
#endif
/* NOLINTEND(modernize-deprecated-headers,modernize-use-using) */

#endif /* DBGPARSE_H */
