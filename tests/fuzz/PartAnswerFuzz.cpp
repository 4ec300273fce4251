// The part answers the fetcher receives: the fuzzer's bytes are a file
// length, a part size and a run of MC_GET_RESPONSE bodies. The parts are
// asked as the fetcher asks them (in order, part size at a time); each
// answer is decoded, matched to its part by transfer and offset, checked
// against it and, when it fits, written by the real part writer into a
// real temporary file.
//
// Properties: a part is written at most once, only inside the stretch that
// was asked for it, so the file never grows past the announced length and
// each written byte is the answer's byte at that place.

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <map>
#include <string>

#include "FuzzSupport.h"
#include "platform/UniqueFd.h"
#include "sync/PartAnswer.h"
#include "sync/PartWriter.h"

namespace morvex::fuzz {
namespace {

constexpr int64_t kLargestFile = 16 * 1024 * 1024;
constexpr int kMostAnswers = 64;
constexpr int64_t kMostParts = 4096;

struct Harness {
  Harness() {
    QuietLogs();
    path = dir.Path() + "/file.~morvex";
  }
  TempTree dir;
  std::string path;
  sync::CPartWriter writer{1024 * 1024};
};

}  // namespace
}  // namespace morvex::fuzz

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace morvex;
  static fuzz::Harness* harness = new fuzz::Harness();  // for the process's life
  fuzz::ByteReader input(data, size);
  const int64_t length = static_cast<int64_t>(input.U32()) % fuzz::kLargestFile;
  // At most kMostParts parts, as the fetcher's budget bounds what it asks.
  const int32_t partSize =
      static_cast<int32_t>(std::max<int64_t>(1 + input.U16(), (length + fuzz::kMostParts - 1) / fuzz::kMostParts));

  std::map<int64_t, int32_t> asked;  // offset -> length, as the fetcher keeps them
  for (int64_t offset = 0; offset < length; offset += partSize) {
    asked.emplace(offset, static_cast<int32_t>(std::min<int64_t>(partSize, length - offset)));
  }
  platform::UniqueFd fd(::open(harness->path.c_str(), O_RDWR | O_CREAT | O_TRUNC | O_CLOEXEC, 0600));
  FUZZ_CHECK(fd.Valid());
  sync::PartSink sink;
  sink.fd = fd.Get();

  std::map<int64_t, std::string> written;
  for (int i = 0; i < fuzz::kMostAnswers && !input.Empty(); ++i) {
    qo::MsgGetResponse answer;
    if (!sync::DecodePartAnswer(input.Chunk(), answer)) continue;
    if (answer.transfer() != 0) continue;  // no such transfer
    const auto part = asked.find(answer.part().offset());
    if (part == asked.end()) continue;  // not asked, or answered already
    const auto [offset, requested] = *part;
    asked.erase(part);
    if (!sync::AnswerFitsPart(answer, offset, requested)) continue;
    FUZZ_CHECK(offset >= 0 && offset + static_cast<int64_t>(answer.part_data().size()) <= length);
    written[offset] = answer.part_data();
    harness->writer.Write(sink, offset, answer.part_data());
  }
  harness->writer.Drain();

  struct stat info {};
  FUZZ_CHECK(::fstat(fd.Get(), &info) == 0);
  FUZZ_CHECK(info.st_size <= length);
  FUZZ_CHECK(sink.hashed <= length);
  for (const auto& [offset, bytes] : written) {
    std::string back(bytes.size(), '\0');
    FUZZ_CHECK(::pread(fd.Get(), back.data(), back.size(), offset) == static_cast<ssize_t>(back.size()));
    FUZZ_CHECK(back == bytes);
  }
  return 0;
}
