/* qbtool: a program outside dbgparse that uses its library, through the
 * installed header dbgparse.h alone.
 *
 *   qbtool convert IN.dbg OUT.qb      the table streamed by dbgparse_convert()
 *   qbtool convert-to IN.dbg OUT.qb   the table made in memory by dbgparse_convert_to()
 *   qbtool list TABLE.qb              one line per entry: 0x%08x, a space, the name
 *
 * Exit status 0 on success; 2 when a file cannot be read or written, or when
 * the table is malformed, after "qbtool: byte N: expected ..." on standard
 * error (the offset and text that `qbdump --check` gives).
 */
#include <dbgparse.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

/* The whole file in a buffer of its own (free it); NULL when it cannot be read. */
static unsigned char* read_file(const char* path, size_t* size) {
  FILE* file = fopen(path, "rb");
  unsigned char* bytes = NULL;
  size_t used = 0;
  size_t room = 0;
  int failed = file == NULL;
  while (!failed) {
    if (used == room) {
      unsigned char* grown = realloc(bytes, room * 2 + 65536);
      if (grown == NULL) {
        failed = 1;
        break;
      }
      bytes = grown;
      room = room * 2 + 65536;
    }
    used += fread(bytes + used, 1, room - used, file);
    if (used < room) {
      failed = ferror(file);
      break;
    }
  }
  if (file != NULL) {
    fclose(file);
  }
  if (failed) {
    free(bytes);
    return NULL;
  }
  *size = used;
  return bytes;
}

/* The sink: each piece of the table straight into the output file. */
static int write_piece(void* file, const unsigned char* bytes, size_t size) {
  return fwrite(bytes, 1, size, (FILE*)file) == size ? 0 : 1;
}

static int convert(const unsigned char* dbg, size_t size, const char* out_path, int in_memory) {
  FILE* out = fopen(out_path, "wb");
  int failed = out == NULL;
  if (!failed && in_memory) {
    size_t length = 0;
    unsigned char* table = NULL;
    /* The first call only measures: DBGPARSE_ERROR_TOO_SMALL with the length. */
    failed = dbgparse_convert_to(dbg, size, NULL, 0, &length) != DBGPARSE_ERROR_TOO_SMALL ||
             (table = malloc(length)) == NULL ||
             dbgparse_convert_to(dbg, size, table, length, NULL) != DBGPARSE_OK ||
             fwrite(table, 1, length, out) != length;
    free(table);
  } else if (!failed) {
    failed = dbgparse_convert(dbg, size, write_piece, out) != DBGPARSE_OK;
  }
  if (out != NULL && fclose(out) != 0) {
    failed = 1;
  }
  return failed;
}

static int list(const unsigned char* table, size_t size) {
  size_t offset = 0;
  dbgparse_entry entry;
  const char* reason = NULL;
  int status;
  while ((status = dbgparse_next_entry(table, size, &offset, &entry, &reason)) == DBGPARSE_OK) {
    printf("0x%08lx ", (unsigned long)entry.checksum);
    fwrite(entry.name, 1, entry.name_length, stdout);
    putchar('\n');
  }
  if (status != DBGPARSE_END) {
    fprintf(stderr, "qbtool: byte %lu: expected %s\n", (unsigned long)offset, reason);
    return 1;
  }
  return 0;
}

int main(int argc, char** argv) {
  const int listing = argc == 3 && strcmp(argv[1], "list") == 0;
  const int converting =
      argc == 4 && (strcmp(argv[1], "convert") == 0 || strcmp(argv[1], "convert-to") == 0);
  unsigned char* input;
  size_t size = 0;
  int failed;
  if (!listing && !converting) {
    fprintf(stderr,
            "usage: qbtool convert|convert-to IN.dbg OUT.qb | qbtool list TABLE.qb\n"
            "(libdbgparse %s, built with %s)\n",
            dbgparse_version(), DBGPARSE_VERSION_STRING);
    return 2;
  }
  if (dbgparse_version_number() / 10000 != DBGPARSE_VERSION_MAJOR) {
    fprintf(stderr, "qbtool: libdbgparse %s cannot serve a program built with %s\n",
            dbgparse_version(), DBGPARSE_VERSION_STRING);
    return 2;
  }
  input = read_file(argv[2], &size);
  if (input == NULL) {
    fprintf(stderr, "qbtool: cannot read %s\n", argv[2]);
    return 2;
  }
  failed = listing ? list(input, size)
                   : convert(input, size, argv[3], strcmp(argv[1], "convert-to") == 0);
  if (failed && converting) {
    fprintf(stderr, "qbtool: cannot write %s\n", argv[3]);
  }
  free(input);
  return failed ? 2 : 0;
}
