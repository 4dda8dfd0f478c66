/* The floor of a small conversion, in plain C: what any converter must do,
 * and nothing else. Reads a file whole into memory from malloc with read()
 * calls, then writes a given number of bytes (the input repeated, or zero
 * bytes when the input is empty) to an output that it creates or truncates.
 * Linked against the C library alone, so that its start-up is the least a
 * program on this system pays.
 *
 * Usage: start_up_floor INPUT OUTPUT BYTE_COUNT */
#include <errno.h>
#include <fcntl.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

static int fail(const char *what, const char *path) {
  fprintf(stderr, "start_up_floor: %s %s\n", what, path);
  return 1;
}

int main(int argc, char **argv) {
  if (argc != 4) {
    fputs("usage: start_up_floor INPUT OUTPUT BYTE_COUNT\n", stderr);
    return 2;
  }
  const unsigned long long count = strtoull(argv[3], NULL, 10);
  const int in = open(argv[1], O_RDONLY | O_CLOEXEC);
  struct stat status;
  if (in < 0 || fstat(in, &status) != 0) {
    return fail("cannot open", argv[1]);
  }
  const size_t size = status.st_size > 0 ? (size_t)status.st_size : 0;
  unsigned char *buffer = malloc(size > 0 ? size : 1);
  if (buffer == NULL) {
    return fail("no memory for", argv[1]);
  }
  size_t filled = 0;
  while (filled < size) {
    const ssize_t got = read(in, buffer + filled, size - filled);
    if (got < 0 && errno == EINTR) {
      continue;
    }
    if (got < 0) {
      return fail("cannot read", argv[1]);
    }
    if (got == 0) {
      break;
    }
    filled += (size_t)got;
  }
  close(in);
  if (filled == 0) {
    buffer[0] = 0;
    filled = 1;
  }

  const int out = open(argv[2], O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
  if (out < 0) {
    return fail("cannot open", argv[2]);
  }
  unsigned long long left = count;
  size_t at = 0;
  while (left > 0) {
    size_t chunk = filled - at;
    if (chunk > left) {
      chunk = (size_t)left;
    }
    const ssize_t written = write(out, buffer + at, chunk);
    if (written < 0 && errno == EINTR) {
      continue;
    }
    if (written <= 0) {
      return fail("cannot write", argv[2]);
    }
    left -= (unsigned long long)written;
    at = (at + (size_t)written) % filled;
  }
  if (close(out) != 0) {
    return fail("cannot close", argv[2]);
  }
  free(buffer);
  return 0;
}
