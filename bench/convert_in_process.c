/* convert_in_process FILE RUNS: the native library's conversion of FILE,
 * timed in-process (dbgparse_convert_to into a buffer of the table's size),
 * for bench/web_convert.mjs to set the WebAssembly module against. Prints
 * the best of RUNS in seconds. */
#define _POSIX_C_SOURCE 200809L
#include <dbgparse.h>
#include <stdio.h>
#include <stdlib.h>
#include <time.h>

static double now(void) {
  struct timespec t;
  clock_gettime(CLOCK_MONOTONIC, &t);
  return (double)t.tv_sec + (double)t.tv_nsec / 1e9;
}

int main(int argc, char** argv) {
  if (argc != 3) {
    fputs("usage: convert_in_process FILE RUNS\n", stderr);
    return 2;
  }
  FILE* file = fopen(argv[1], "rb");
  if (file == NULL || fseek(file, 0, SEEK_END) != 0) {
    perror(argv[1]);
    return 2;
  }
  const long size = ftell(file);
  rewind(file);
  unsigned char* dbg = malloc((size_t)size + 1);
  if (dbg == NULL || fread(dbg, 1, (size_t)size, file) != (size_t)size) {
    return 2;
  }
  fclose(file);
  size_t table_size = 0;
  dbgparse_convert_to(dbg, (size_t)size, NULL, 0, &table_size);
  unsigned char* table = malloc(table_size);
  double best = 1e9;
  for (int run = 0; run < atoi(argv[2]); ++run) {
    const double start = now();
    if (table == NULL || dbgparse_convert_to(dbg, (size_t)size, table, table_size, NULL) != DBGPARSE_OK) {
      return 2;
    }
    const double took = now() - start;
    best = took < best ? took : best;
  }
  printf("%.6f %zu\n", best, table_size);
  free(table);
  free(dbg);
  return 0;
}
