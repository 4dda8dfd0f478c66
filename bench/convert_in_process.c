/* convert_in_process FILE RUNS: the library's conversion of FILE timed
 * in-process through its C interface, RUNS times each way. Prints a line
 * per way: its name, the best and the median run in seconds, and the
 * table's size in bytes:
 *   sink    dbgparse_convert to a sink that only counts the bytes
 *   reused  dbgparse_convert_to into one buffer of the table's size, used
 *           again by every run
 *   fresh   dbgparse_convert_to into a buffer allocated for the run and
 *           freed after it, as the JavaScript convert() returns a new array
 *   warned  dbgparse_convert_and_diagnose to the counting sink, its
 *           warnings counted too: converting and warning in one pass (2.1)
 * dbgparse_convert is the same call in 1.x and 2.x: built against a 1.x
 * library, only the sink line is printed, so that the two can be set side
 * by side:
 *   cc -O2 -I SOURCES/lib/include bench/convert_in_process.c \
 *      BUILD/lib/libdbgparse.a -lstdc++ -lpthread -o convert_in_process */
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

enum way { sink, reused, fresh, warned };

/* 1.x headers have no combined version number. */
#ifndef DBGPARSE_VERSION_NUMBER
#define DBGPARSE_VERSION_NUMBER (DBGPARSE_VERSION_MAJOR * 10000 + DBGPARSE_VERSION_MINOR * 100)
#endif

#if DBGPARSE_VERSION_NUMBER >= 20100
static int count_warning(void* context, const dbgparse_warning* warning) {
  (void)warning;
  ++*(size_t*)context;
  return 0;
}
#endif

/* One run of `how`; false when the conversion failed. */
static int convert(enum way how, const unsigned char* dbg, size_t size, unsigned char* table,
                   size_t* table_size) {
  if (how == sink) {
    *table_size = 0;
    return dbgparse_convert(dbg, size, count, table_size) == 0;
  }
#if DBGPARSE_VERSION_NUMBER >= 20100
  if (how == warned) {
    size_t warnings = 0;
    *table_size = 0;
    return dbgparse_convert_and_diagnose(dbg, size, count, table_size, count_warning, &warnings) ==
           DBGPARSE_OK;
  }
#endif
#if DBGPARSE_VERSION_MAJOR >= 2
  if (how == fresh) {
    table = malloc(*table_size);
  }
  const int done =
      table != NULL && dbgparse_convert_to(dbg, size, table, *table_size, NULL) == DBGPARSE_OK;
  if (how == fresh) {
    free(table);
  }
  return done;
#else
  (void)table;
  return 0;
#endif
}

int main(int argc, char** argv) {
  if (argc != 3 || atoi(argv[2]) < 1) {
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
  const int runs = atoi(argv[2]);
  double* took = malloc(sizeof(double) * (size_t)runs);
  size_t table_size = 0;
  if (took == NULL || !convert(sink, dbg, (size_t)size, NULL, &table_size)) {
    return 2;
  }
  unsigned char* table = malloc(table_size);
  const char* const names[] = {"sink", "reused", "fresh", "warned"};
  const int ways = DBGPARSE_VERSION_NUMBER >= 20100 ? 4 : DBGPARSE_VERSION_MAJOR >= 2 ? 3 : 1;
  for (int how = sink; how < ways; ++how) {
    for (int run = 0; run < runs; ++run) {
      const double start = now();
      if (!convert((enum way)how, dbg, (size_t)size, table, &table_size)) {
        return 2;
      }
      took[run] = now() - start;
    }
    qsort(took, (size_t)runs, sizeof(double), by_value);
    printf("%s %.6f %.6f %zu\n", names[how], took[0], took[runs / 2], table_size);
  }
  free(table);
  free(took);
  free(dbg);
  return 0;
}
