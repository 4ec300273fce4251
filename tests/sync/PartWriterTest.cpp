// The part writer on its own thread: parts in any order end at their
// offsets, the streamed fingerprint equals the file's, and a full queue
// holds the caller back instead of growing.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <random>
#include <string>
#include <vector>

#include "index/FingerPrint.h"
#include "platform/UniqueFd.h"
#include "support/TempDir.h"
#include "sync/PartWriter.h"

namespace morvex::sync {
namespace {

TEST(PartWriterTest, PartsInAnyOrderLandAtTheirOffsetsAndHashLikeTheFile) {
  test::TempDir dir;
  std::mt19937 random(7);
  struct Download {
    std::string path;
    std::string content;
    platform::UniqueFd fd;
    PartSink sink;
  };
  std::vector<Download> downloads(3);
  for (size_t i = 0; i < downloads.size(); ++i) {
    Download& d = downloads[i];
    d.path = dir / ("f" + std::to_string(i));
    d.content.resize(100000 + i * 777);
    for (char& c : d.content) c = static_cast<char>(random());
    d.fd.Reset(::open(d.path.c_str(), O_RDWR | O_CREAT | O_TRUNC | O_CLOEXEC, 0600));
    ASSERT_TRUE(d.fd.Valid());
    d.sink.fd = d.fd.Get();
  }
  struct Part {
    size_t download;
    int64_t offset;
    std::string data;
  };
  std::vector<Part> parts;
  for (size_t i = 0; i < downloads.size(); ++i) {
    for (size_t offset = 0; offset < downloads[i].content.size(); offset += 4096) {
      parts.push_back({i, static_cast<int64_t>(offset), downloads[i].content.substr(offset, 4096)});
    }
  }
  // Mostly in order, as parts come, with some early and late ones.
  for (size_t i = 0; i + 3 < parts.size(); i += 5) std::swap(parts[i], parts[i + 3]);

  {
    CPartWriter writer(16 * 1024);  // small: the caller must wait for the writer often
    for (Part& part : parts) writer.Write(downloads[part.download].sink, part.offset, std::move(part.data));
    writer.Drain();
    for (Download& d : downloads) {
      EXPECT_FALSE(d.sink.writeFailed);
      EXPECT_FALSE(d.sink.hashBroken);
      EXPECT_EQ(d.sink.hashed, static_cast<int64_t>(d.content.size()));
      EXPECT_TRUE(d.sink.early.empty());
    }
  }
  for (Download& d : downloads) {
    EXPECT_TRUE(test::ReadFile(d.path) == d.content);
    index::CNCancleCacuSha1 never;
    EXPECT_EQ(d.sink.hash.Final(), index::GetSha1(d.path, never, 0));
  }
}

TEST(PartWriterTest, AFailedWriteIsReported) {
  PartSink sink;
  sink.fd = -1;  // nothing to write to
  CPartWriter writer;
  writer.Write(sink, 0, "data");
  writer.Drain();
  EXPECT_TRUE(sink.writeFailed);
}

}  // namespace
}  // namespace morvex::sync
