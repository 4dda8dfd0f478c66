// Memory for the input's bytes, which the program reads whole before it
// converts them.
#pragma once

#include <cstddef>
#include <memory>

namespace dbgparse {

// At least `bytes` bytes (at least 1), uninitialised, or nullptr when there
// is not enough memory. On Linux, 512 KiB and more come from an anonymous
// mapping of whole 2 MiB pages advised MADV_HUGEPAGE, so that the kernel may
// back it with transparent huge pages (a fault per 2 MiB instead of per
// 4 KiB); where that is refused, and on other systems, from operator new.
std::shared_ptr<unsigned char[]> allocate_input_memory(std::size_t bytes);

// Its two ways, for the tests: huge pages (nullptr where refused, and on
// other systems than Linux), and plain memory from operator new.
std::shared_ptr<unsigned char[]> allocate_huge_page_memory(std::size_t bytes);
std::shared_ptr<unsigned char[]> allocate_plain_memory(std::size_t bytes);

}  // namespace dbgparse
