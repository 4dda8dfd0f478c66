/* convert_in_process FILE RUNS: the native library's conversion of FILE,
 * timed in-process with dbgparse_convert_to, for bench/web_convert.mjs to
 * set the WebAssembly module against. Prints the best of RUNS in seconds
 * twice: into one buffer of the table's size used again by every run, and
 * into a buffer allocated afresh for each run (and freed after it), as the
 * JavaScript convert() returns a new array each time; then the table's
 * size. */
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
  double best_fresh = 1e9;
  for (int run = 0; run < atoi(argv[2]); ++run) {
    double start = now();
    if (table == NULL || dbgparse_convert_to(dbg, (size_t)size, table, table_size, NULL) != DBGPARSE_OK) {
      return 2;
    }
    double took = now() - start;
    best = took < best ? took : best;
    start = now();
    unsigned char* fresh = malloc(table_size);
    if (fresh == NULL || dbgparse_convert_to(dbg, (size_t)size, fresh, table_size, NULL) != DBGPARSE_OK) {
      return 2;
    }
    free(fresh);
    took = now() - start;
    best_fresh = took < best_fresh ? took : best_fresh;
  }
  printf("%.6f %.6f %zu\n", best, best_fresh, table_size);
  free(table);
  free(dbg);
  return 0;
}
