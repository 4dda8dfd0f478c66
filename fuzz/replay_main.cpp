// Runs every file named on the command line, or found in a folder named
// there, through the fuzz target's check once. Any failure aborts. Exits
// with 1 when it found nothing to run, so an empty corpus cannot pass.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size);

namespace {

void replay(const std::filesystem::path& file) {
  std::ifstream in(file, std::ios::binary);
  const std::vector<unsigned char> bytes{std::istreambuf_iterator<char>(in),
                                         std::istreambuf_iterator<char>()};
  std::fprintf(stderr, "%s (%zu bytes)\n", file.string().c_str(), bytes.size());
  // A copy of exactly the file's size, so that reading past it is caught
  // where a sanitizer watches.
  const std::vector<std::uint8_t> exact(bytes.begin(), bytes.end());
  LLVMFuzzerTestOneInput(exact.data(), exact.size());
}

}  // namespace

int main(int argc, char** argv) {
  std::vector<std::filesystem::path> files;
  for (int i = 1; i < argc; ++i) {
    const std::filesystem::path path(argv[i]);
    if (std::filesystem::is_directory(path)) {
      for (const auto& file : std::filesystem::directory_iterator(path)) {
        if (file.is_regular_file()) {
          files.push_back(file.path());
        }
      }
    } else {
      files.push_back(path);
    }
  }
  std::sort(files.begin(), files.end());
  for (const auto& file : files) {
    replay(file);
  }
  std::printf("replayed %zu inputs, all agree\n", files.size());
  return files.empty() ? 1 : 0;
}
