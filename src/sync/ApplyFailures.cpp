#include "sync/ApplyFailures.h"

#include <utility>

namespace morvex::sync {
namespace {

thread_local CApplyFailureSink* currentSink = nullptr;

}  // namespace

CApplyFailureSink::CApplyFailureSink(Note note) : note_(std::move(note)), previous_(currentSink) {
  currentSink = this;
}

CApplyFailureSink::~CApplyFailureSink() { currentSink = previous_; }

void NoteApplyFailure(const std::string& path, int error) {
  if (currentSink != nullptr && currentSink->note_) currentSink->note_(path, error);
}

}  // namespace morvex::sync
