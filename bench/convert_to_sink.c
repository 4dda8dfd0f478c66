/* convert_to_sink FILE RUNS: the library's conversion of FILE, timed
 * in-process: dbgparse_convert to a sink that only counts the bytes, RUNS
 * times. Prints the best and the median run in milliseconds and the table's
 * size. dbgparse_convert is the same call in 1.x and 2.x, so the program
 * builds against either, to set the two side by side:
 *   cc -O2 -I BUILD_SOURCES/lib/include bench/convert_to_sink.c \
 *      BUILD/lib/libdbgparse.a -lstdc++ -lpthread -o convert_to_sink */
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

static int count(void* context, const unsigned char* bytes, size_t size) {
  (void)bytes;
  *(size_t*)context += size;
  return 0;
}

static int by_value(const void* a, const void* b) {
  const double x = *(const double*)a;
  const double y = *(const double*)b;
  return (x > y) - (x < y);
}

int main(int argc, char** argv) {
  if (argc != 3 || atoi(argv[2]) < 1) {
    fputs("usage: convert_to_sink FILE RUNS\n", stderr);
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
  const int runs = atoi(argv[2]);
  double* took = malloc(sizeof(double) * (size_t)runs);
  size_t table_size = 0;
  for (int run = 0; run < runs && took != NULL; ++run) {
    table_size = 0;
    const double start = now();
    if (dbgparse_convert(dbg, (size_t)size, count, &table_size) != 0) {
      return 2;
    }
    took[run] = now() - start;
  }
  if (took == NULL) {
    return 2;
  }
  qsort(took, (size_t)runs, sizeof(double), by_value);
  printf("best %.2f ms, median %.2f ms, table %zu bytes\n", took[0] * 1e3, took[runs / 2] * 1e3,
         table_size);
  free(took);
  free(dbg);
  return 0;
}
