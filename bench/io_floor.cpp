// The I/O floor of a conversion: reads a file whole into memory with plain
// read() calls, then writes a given number of its bytes (the buffer repeated
// when it asks for more than the file holds) to an output file that is
// created or truncated, and nothing else. No conversion can run faster.
//
// Plain, the memory comes from operator new and the bytes go out in one
// write() call. With --huge-pages the memory is the program's own input
// memory (platform/input_memory.h: transparent huge pages where Linux grants
// them) and the bytes go out in 1 MiB blocks, as the program writes them.
//
// Usage: io_floor [--huge-pages] INPUT OUTPUT BYTE_COUNT
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string_view>

#include "input_memory.h"

namespace {

int fail(const char* what, const char* path) {
  std::fprintf(stderr, "io_floor: %s %s\n", what, path);
  return 1;
}

}  // namespace

int main(int argc, char** argv) {
  const bool huge_pages = argc == 5 && std::string_view(argv[1]) == "--huge-pages";
  if (argc != 4 && !huge_pages) {
    std::fputs("usage: io_floor [--huge-pages] INPUT OUTPUT BYTE_COUNT\n", stderr);
    return 2;
  }
  argv += huge_pages ? 1 : 0;
  const std::uint64_t count = std::strtoull(argv[3], nullptr, 10);
  const std::size_t most_per_write = huge_pages ? std::size_t{1} << 20 : SIZE_MAX;

  const int in = ::open(argv[1], O_RDONLY | O_CLOEXEC);
  struct stat status {};
  if (in < 0 || ::fstat(in, &status) != 0) {
    return fail("cannot open", argv[1]);
  }
  const auto size = static_cast<std::size_t>(std::max<off_t>(status.st_size, 0));
  // Left uninitialised, as a buffer that a read fills.
  const std::shared_ptr<unsigned char[]> buffer =
      huge_pages ? dbgparse::allocate_input_memory(size) : dbgparse::allocate_plain_memory(size);
  if (!buffer) {
    return fail("no memory for", argv[1]);
  }
  std::size_t filled = 0;
  while (filled < size) {
    const ssize_t got = ::read(in, buffer.get() + filled, size - filled);
    if (got < 0 && errno == EINTR) {
      continue;
    }
    if (got < 0) {
      return fail("cannot read", argv[1]);
    }
    if (got == 0) {
      break;
    }
    filled += static_cast<std::size_t>(got);
  }
  ::close(in);
  if (filled == 0 && count > 0) {
    return fail("nothing to write from", argv[1]);
  }

  const int out = ::open(argv[2], O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
  if (out < 0) {
    return fail("cannot open", argv[2]);
  }
  std::uint64_t left = count;
  std::size_t at = 0;
  while (left > 0) {
    const std::size_t chunk = std::min(
        static_cast<std::size_t>(std::min<std::uint64_t>(left, filled - at)), most_per_write);
    const ssize_t written = ::write(out, buffer.get() + at, chunk);
    if (written < 0 && errno == EINTR) {
      continue;
    }
    if (written <= 0) {
      return fail("cannot write", argv[2]);
    }
    left -= static_cast<std::uint64_t>(written);
    at = (at + static_cast<std::size_t>(written)) % filled;
  }
  if (::close(out) != 0) {
    return fail("cannot close", argv[2]);
  }
  return 0;
}
