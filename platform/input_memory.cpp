#include "input_memory.h"

#include <algorithm>
#include <cstdint>
#include <new>

#if defined(__linux__)
#include <sys/mman.h>
#endif

namespace dbgparse {
namespace {

constexpr std::size_t huge_page = std::size_t{2} << 20;

}  // namespace

#if defined(__linux__)
std::shared_ptr<unsigned char[]> allocate_huge_page_memory(std::size_t bytes) {
  if (bytes < huge_page || bytes > SIZE_MAX / 2) {
    return nullptr;
  }
  const std::size_t size = (bytes + huge_page - 1) / huge_page * huge_page;
  // One page more than needed, so that the part kept can start on a 2 MiB
  // boundary, as huge pages do; the rest is unmapped at once.
  void* const mapped =
      ::mmap(nullptr, size + huge_page, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
  if (mapped == MAP_FAILED) {
    return nullptr;
  }
  auto* const start = static_cast<unsigned char*>(mapped);
  const std::size_t lead =
      (huge_page - reinterpret_cast<std::uintptr_t>(start) % huge_page) % huge_page;
  if (lead != 0) {
    ::munmap(start, lead);
  }
  ::munmap(start + lead + size, huge_page - lead);
  unsigned char* const memory = start + lead;
  const auto unmap = [size](unsigned char* p) { ::munmap(p, size); };
  if (::madvise(memory, size, MADV_HUGEPAGE) != 0) {
    unmap(memory);
    return nullptr;
  }
  try {
    return {memory, unmap};
  } catch (const std::bad_alloc&) {
    return nullptr;  // the control block's memory; the mapping is already gone
  }
}
#else
std::shared_ptr<unsigned char[]> allocate_huge_page_memory(std::size_t /*bytes*/) {
  return nullptr;
}
#endif

std::shared_ptr<unsigned char[]> allocate_plain_memory(std::size_t bytes) {
  auto* const memory = new (std::nothrow) unsigned char[std::max<std::size_t>(bytes, 1)];
  if (memory == nullptr) {
    return nullptr;
  }
  try {
    return std::shared_ptr<unsigned char[]>(memory);
  } catch (const std::bad_alloc&) {
    return nullptr;  // the memory is already released
  }
}

std::shared_ptr<unsigned char[]> allocate_input_memory(std::size_t bytes) {
  // From half a huge page on, a whole one: the program's first touch of
  // each 4 KiB page that read() filled costs more, on some virtual machines
  // several microseconds a page, than clearing one 2 MiB page.
  constexpr std::size_t huge_from = std::size_t{512} << 10;
  std::shared_ptr<unsigned char[]> memory =
      bytes >= huge_from ? allocate_huge_page_memory(std::max(bytes, huge_page)) : nullptr;
  return memory ? memory : allocate_plain_memory(bytes);
}

}  // namespace dbgparse
