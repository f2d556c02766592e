// fuzz_replay NAME PATH...: every file named, and every regular file of
// every directory named (sorted), goes once to harness NAME, in builds
// without libFuzzer. Exit status 1 for an unknown harness, an unreadable
// input or no input at all, so that a lost corpus is noticed.
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <vector>

#define FUZZ_HARNESS(name) extern "C" int Fuzz_##name(const std::uint8_t*, std::size_t);
#include "fuzz_harnesses.inc"
#undef FUZZ_HARNESS

int main(int argc, char** argv) {
  namespace fs = std::filesystem;
  int (*harness)(const std::uint8_t*, std::size_t) = nullptr;
#define FUZZ_HARNESS(name) \
  if (argc > 1 && std::strcmp(argv[1], #name) == 0) harness = Fuzz_##name;
#include "fuzz_harnesses.inc"
#undef FUZZ_HARNESS
  if (harness == nullptr) {
    std::fprintf(stderr, "usage: fuzz_replay HARNESS PATH...\n");
    return 1;
  }
  std::vector<fs::path> files;
  for (int i = 2; i < argc; ++i) {
    std::error_code error;
    const std::size_t first = files.size();
    for (const fs::directory_entry& entry : fs::directory_iterator(argv[i], error)) {
      if (entry.is_regular_file()) files.push_back(entry.path());
    }
    if (error) files.emplace_back(argv[i]);  // not a directory: the file itself
    std::sort(files.begin() + static_cast<long>(first), files.end());
  }
  if (files.empty()) {
    std::fprintf(stderr, "no inputs to replay\n");
    return 1;
  }
  for (const fs::path& file : files) {
    std::ifstream in(file, std::ios::binary);
    if (!in) {
      std::fprintf(stderr, "cannot read %s\n", file.c_str());
      return 1;
    }
    // Exactly the file's size, so that ASan sees a read past the end.
    const std::vector<std::uint8_t> input((std::istreambuf_iterator<char>(in)),
                                          std::istreambuf_iterator<char>());
    harness(input.empty() ? nullptr : input.data(), input.size());
  }
  std::printf("replayed %zu inputs through %s\n", files.size(), argv[1]);
  return 0;
}
