// Replays corpora through one fuzz harness in builds without libFuzzer:
//   fuzz_replay NAME PATH...
// Every file named, and every regular file in every directory named (sorted
// by name), goes to harness NAME once. A broken invariant aborts and
// sanitizer reports end the process as they would under libFuzzer. Exit
// status 1 for an unknown harness, an unreadable input or no input at all,
// so that a lost corpus is noticed.
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
  using Harness = int (*)(const std::uint8_t*, std::size_t);
  Harness harness = nullptr;
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
    if (!fs::is_directory(argv[i], error)) {
      files.emplace_back(argv[i]);
      continue;
    }
    const std::size_t first = files.size();
    for (const fs::directory_entry& entry : fs::directory_iterator(argv[i], error)) {
      if (entry.is_regular_file()) files.push_back(entry.path());
    }
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
