/* native_warnings FILE...: the warnings of dbgparse_diagnose for each FILE,
 * printed as dbgparse prints them, for the web tests to compare with. */
#include <dbgparse.h>
#include <stdio.h>
#include <stdlib.h>

enum { shown = 20 };

struct printing {
  const char* name;
  size_t count;
};

static int print(void* context, const dbgparse_warning* warning) {
  struct printing* p = context;
  if (p->count++ < shown) {
    if (warning->line > 0) {
      printf("dbgparse: %s:%zu: warning: %s\n", p->name, warning->line, warning->message);
    } else {
      printf("dbgparse: %s: warning: %s\n", p->name, warning->message);
    }
  }
  return 0;
}

static int print_file(const char* name) {
  FILE* file = fopen(name, "rb");
  if (file == NULL) {
    perror(name);
    return 2;
  }
  unsigned char* bytes = NULL;
  size_t size = 0;
  size_t capacity = 0;
  for (;;) {
    if (size == capacity) {
      capacity = capacity ? capacity * 2 : 65536;
      unsigned char* grown = realloc(bytes, capacity);
      if (grown == NULL) {
        fclose(file);
        free(bytes);
        return 2;
      }
      bytes = grown;
    }
    const size_t got = fread(bytes + size, 1, capacity - size, file);
    if (got == 0) {
      break;
    }
    size += got;
  }
  fclose(file);
  struct printing p = {name, 0};
  const int status = dbgparse_diagnose(bytes, size, print, &p);
  free(bytes);
  if (status != DBGPARSE_OK) {
    return 2;
  }
  if (p.count > shown) {
    printf("dbgparse: %s: %zu more warnings\n", p.name, p.count - shown);
  }
  return 0;
}

int main(int argc, char** argv) {
  for (int k = 1; k < argc; ++k) {
    if (print_file(argv[k]) != 0) {
      return 2;
    }
  }
  return 0;
}
