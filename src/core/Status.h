#pragma once

#include <string>
#include <utility>

namespace morvex::core {

// The outcome of an operation that can fail in more than one way: a code
// and a text for the log, cheap to copy when ok. Yes/no questions return
// bool and operations that cannot fail return void; this is for the rest.
// Wire error codes stay on the wire; callers map a Status to one where they
// answer a request.
class Status {
 public:
  enum class Code {
    kOk,
    kUnavailable,  // the operation could not start (no route, no connection, send failed)
    kTimeout,      // nothing came back in time
    kRejected,     // something came back but failed its checks
  };

  Status() = default;
  static Status Ok() { return Status(); }
  static Status Unavailable(std::string text) { return Status(Code::kUnavailable, std::move(text)); }
  static Status Timeout(std::string text) { return Status(Code::kTimeout, std::move(text)); }
  static Status Rejected(std::string text) { return Status(Code::kRejected, std::move(text)); }

  bool ok() const { return code_ == Code::kOk; }
  Code code() const { return code_; }
  const std::string& text() const { return text_; }

 private:
  Status(Code code, std::string text) : code_(code), text_(std::move(text)) {}

  Code code_ = Code::kOk;
  std::string text_;
};

}  // namespace morvex::core
