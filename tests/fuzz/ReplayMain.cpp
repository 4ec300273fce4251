// Runs a fuzz target once on each file named on the command line (or in a
// directory named there), without libFuzzer: how `make test` replays the
// seed corpora and the inputs that once crashed a target. A broken property
// aborts, which fails the test.

#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size);

namespace {

int RunFile(const std::filesystem::path& path) {
  std::ifstream file(path, std::ios::binary);
  const std::vector<char> bytes((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
  LLVMFuzzerTestOneInput(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size());
  return 1;
}

}  // namespace

int main(int argc, char** argv) {
  int count = 0;
  for (int i = 1; i < argc; ++i) {
    const std::filesystem::path arg(argv[i]);
    if (std::filesystem::is_directory(arg)) {
      for (const auto& entry : std::filesystem::directory_iterator(arg)) {
        if (entry.is_regular_file()) count += RunFile(entry.path());
      }
    } else if (std::filesystem::exists(arg)) {
      count += RunFile(arg);
    }
  }
  std::printf("%d inputs replayed\n", count);
  return 0;
}
