// Replay runner for the fuzz harnesses in builds without libFuzzer: feeds
// every file named on the command line, and every regular file inside every
// directory named there (sorted by name), to LLVMFuzzerTestOneInput once.
// A harness that finds a broken invariant aborts; sanitizer reports end the
// process as they would under libFuzzer. Exit status 1 when an argument
// cannot be read or no input was found at all, so a lost corpus is noticed.
#include <dirent.h>
#include <sys/stat.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size);
extern "C" __attribute__((weak)) int LLVMFuzzerInitialize(int* argc, char*** argv);

namespace {

bool IsDirectory(const std::string& path) {
  struct stat info {};
  return stat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode);
}

bool IsRegularFile(const std::string& path) {
  struct stat info {};
  return stat(path.c_str(), &info) == 0 && S_ISREG(info.st_mode);
}

bool ListDirectory(const std::string& dir, std::vector<std::string>& files) {
  DIR* handle = opendir(dir.c_str());
  if (handle == nullptr) return false;
  std::vector<std::string> found;
  while (dirent* entry = readdir(handle)) {
    const std::string path = dir + "/" + entry->d_name;
    if (entry->d_name[0] != '.' && IsRegularFile(path)) found.push_back(path);
  }
  closedir(handle);
  std::sort(found.begin(), found.end());
  files.insert(files.end(), found.begin(), found.end());
  return true;
}

bool RunFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return false;
  const std::vector<char> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  // A copy of exactly the file's size, so that ASan sees a read past the end.
  std::vector<std::uint8_t> input(bytes.begin(), bytes.end());
  LLVMFuzzerTestOneInput(input.empty() ? nullptr : input.data(), input.size());
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  if (LLVMFuzzerInitialize != nullptr) LLVMFuzzerInitialize(&argc, &argv);
  std::vector<std::string> files;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (IsDirectory(arg)) {
      if (!ListDirectory(arg, files)) {
        std::fprintf(stderr, "cannot list %s\n", arg.c_str());
        return 1;
      }
    } else {
      files.push_back(arg);
    }
  }
  if (files.empty()) {
    std::fprintf(stderr, "no inputs to replay\n");
    return 1;
  }
  for (const std::string& file : files) {
    if (!RunFile(file)) {
      std::fprintf(stderr, "cannot read %s\n", file.c_str());
      return 1;
    }
  }
  std::printf("replayed %zu inputs\n", files.size());
  return 0;
}
