/* count_conversion WAY FILE: converts FILE once through the library's C
 * interface, for instruction_counts.py to count under callgrind with
 * --toggle-collect on the one call, so that reading the file is left out.
 * WAY is one of:
 *   convert               dbgparse_convert to a sink that only counts the
 *                         bytes
 *   convert_and_diagnose  dbgparse_convert_and_diagnose to the same sink,
 *                         with a warning sink that only counts the warnings
 * Prints the table's size in bytes and the warnings' count. The input is
 * read into memory aligned to 64 bytes, so that where it starts against
 * the conversion's 64-byte steps is the same on every run. */
#define _POSIX_C_SOURCE 200809L
#include <dbgparse.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

static int count_bytes(void* context, const unsigned char* bytes, size_t size) {
  (void)bytes;
  *(size_t*)context += size;
  return 0;
}

static int count_warning(void* context, const dbgparse_warning* warning) {
  (void)warning;
  ++*(size_t*)context;
  return 0;
}

int main(int argc, char** argv) {
  if (argc != 3 ||
      (strcmp(argv[1], "convert") != 0 && strcmp(argv[1], "convert_and_diagnose") != 0)) {
    fputs("usage: count_conversion convert|convert_and_diagnose FILE\n", stderr);
    return 2;
  }
  FILE* file = fopen(argv[2], "rb");
  if (file == NULL || fseek(file, 0, SEEK_END) != 0) {
    perror(argv[2]);
    return 2;
  }
  const long size = ftell(file);
  rewind(file);
  void* memory = NULL;
  if (size < 0 || posix_memalign(&memory, 64, (size_t)size + 1) != 0) {
    fputs("count_conversion: cannot read the input\n", stderr);
    return 2;
  }
  unsigned char* dbg = memory;
  if (fread(dbg, 1, (size_t)size, file) != (size_t)size) {
    perror(argv[2]);
    return 2;
  }
  fclose(file);
  size_t table_size = 0;
  size_t warnings = 0;
  const int status = strcmp(argv[1], "convert") == 0
                         ? dbgparse_convert(dbg, (size_t)size, count_bytes, &table_size)
                         : dbgparse_convert_and_diagnose(dbg, (size_t)size, count_bytes,
                                                         &table_size, count_warning, &warnings);
  free(memory);
  if (status != DBGPARSE_OK) {
    fprintf(stderr, "count_conversion: %s\n", dbgparse_status_text(status));
    return 1;
  }
  printf("%zu %zu\n", table_size, warnings);
  return 0;
}
