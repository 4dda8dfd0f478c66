// The golden files in tests/data: NAME.dbg inputs, each with the NAME.qb
// table that it must convert to.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <string>
#include <vector>

#include "file_bytes.h"

namespace test_support {

// The NAMEs of every tests/data/NAME.dbg, sorted.
inline std::vector<std::string> golden_names() {
  std::vector<std::string> names;
  for (const auto& entry : std::filesystem::directory_iterator(DBGPARSE_TEST_DATA)) {
    if (entry.path().extension() == ".dbg") {
      names.push_back(entry.path().stem().string());
    }
  }
  std::sort(names.begin(), names.end());
  return names;
}

// Names each parameterised test after its golden file.
inline std::string golden_test_name(const testing::TestParamInfo<std::string>& name) {
  return name.param;
}

}  // namespace test_support
