// The input's memory: huge pages where Linux grants them, plain memory
// otherwise (below 2 MiB, where huge pages are refused, and elsewhere).
#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>

#include "input_memory.h"

namespace {

constexpr std::size_t mib = std::size_t{1} << 20;

// Every byte can be written and read back.
void expect_usable(const std::shared_ptr<unsigned char[]>& memory, std::size_t bytes) {
  ASSERT_NE(memory, nullptr) << bytes;
  std::memset(memory.get(), 0xA5, bytes);
  if (bytes > 0) {
    EXPECT_EQ(memory.get()[0], 0xA5);
    EXPECT_EQ(memory.get()[bytes - 1], 0xA5);
  }
}

TEST(input_memory, gives_usable_memory_of_any_size_either_way) {
  for (const std::size_t bytes :
       {std::size_t{0}, std::size_t{1}, 2 * mib - 1, 2 * mib, 5 * mib + 3}) {
    expect_usable(dbgparse::allocate_input_memory(bytes), bytes);
    expect_usable(dbgparse::allocate_plain_memory(bytes), bytes);
  }
}

TEST(input_memory, takes_huge_pages_for_large_inputs_only_and_only_on_linux) {
  EXPECT_EQ(dbgparse::allocate_huge_page_memory(2 * mib - 1), nullptr);
  const std::shared_ptr<unsigned char[]> huge = dbgparse::allocate_huge_page_memory(5 * mib + 3);
#if defined(__linux__)
  // Refused only where the kernel has no transparent huge pages at all.
  if (huge) {
    EXPECT_EQ(reinterpret_cast<std::uintptr_t>(huge.get()) % (2 * mib), 0U);
    expect_usable(huge, 5 * mib + 3);
  }
#else
  EXPECT_EQ(huge, nullptr);
#endif
}

}  // namespace
