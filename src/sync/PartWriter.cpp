#include "sync/PartWriter.h"

#include <glog/logging.h>
#include <unistd.h>

#include <cerrno>

#include "platform/ThreadName.h"

namespace morvex::sync {
namespace {

bool WriteAll(int fd, const std::string& data, int64_t offset) {
  size_t done = 0;
  while (done < data.size()) {
    const ssize_t written = ::pwrite(fd, data.data() + done, data.size() - done, offset + static_cast<int64_t>(done));
    if (written < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    if (written == 0) {
      errno = ENOSPC;
      return false;
    }
    done += static_cast<size_t>(written);
  }
  return true;
}

}  // namespace

CPartWriter::CPartWriter(size_t maxQueuedBytes) : maxQueuedBytes_(maxQueuedBytes), thread_([this] { Run(); }) {}

CPartWriter::~CPartWriter() {
  {
    std::lock_guard lock(mutex_);
    stop_ = true;
  }
  changed_.notify_all();
  thread_.join();
}

void CPartWriter::Write(PartSink& sink, int64_t offset, std::string data) {
  std::unique_lock lock(mutex_);
  changed_.wait(lock, [&] { return queuedBytes_ < maxQueuedBytes_; });
  queuedBytes_ += data.size();
  jobs_.push_back({&sink, offset, std::move(data)});
  changed_.notify_all();
}

void CPartWriter::Drain() {
  std::unique_lock lock(mutex_);
  changed_.wait(lock, [&] { return jobs_.empty() && !busy_; });
}

void CPartWriter::Run() {
  platform::SetCurrentThreadName("part_writer");
  std::unique_lock lock(mutex_);
  for (;;) {
    changed_.wait(lock, [&] { return stop_ || !jobs_.empty(); });
    if (jobs_.empty()) return;  // stopping, nothing left
    Job job = std::move(jobs_.front());
    jobs_.pop_front();
    busy_ = true;
    lock.unlock();
    WriteAndHash(job);
    lock.lock();
    busy_ = false;
    queuedBytes_ -= job.data.size();
    changed_.notify_all();
  }
}

void CPartWriter::WriteAndHash(Job& job) {
  PartSink& sink = *job.sink;
  if (!WriteAll(sink.fd, job.data, job.offset)) {
    LOG(ERROR) << "Failed WriteFile()[" << errno << "]: " << job.offset;
    sink.writeFailed = true;
    return;
  }
  if (sink.hashBroken) return;
  if (job.offset != sink.hashed) {
    sink.early[job.offset] = static_cast<int64_t>(job.data.size());
    return;
  }
  sink.hashBroken = !sink.hash.Update(job.data.data(), job.data.size());
  sink.hashed += static_cast<int64_t>(job.data.size());
  // Parts that came early are read back in order (from the page cache).
  std::string buffer;
  for (auto next = sink.early.find(sink.hashed); next != sink.early.end() && !sink.hashBroken;
       next = sink.early.find(sink.hashed)) {
    buffer.resize(static_cast<size_t>(next->second));
    const ssize_t got = ::pread(sink.fd, buffer.data(), buffer.size(), next->first);
    if (got != static_cast<ssize_t>(buffer.size()) || !sink.hash.Update(buffer.data(), buffer.size())) {
      sink.hashBroken = true;
      break;
    }
    sink.hashed += next->second;
    sink.early.erase(next);
  }
}

}  // namespace morvex::sync
