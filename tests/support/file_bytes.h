// Bytes from text and from files, as every suite needs them: once here.
#pragma once

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <string_view>
#include <vector>

namespace test_support {

inline std::vector<unsigned char> to_bytes(std::string_view text) {
  return {text.begin(), text.end()};
}

// A file's bytes, all of them; none where it cannot be read.
inline std::vector<unsigned char> read_bytes(const std::filesystem::path& path) {
  std::ifstream file(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>()};
}

// The same as a string, for the tests that compare text.
inline std::string read_file(const std::filesystem::path& path) {
  std::ifstream file(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>()};
}

}  // namespace test_support
