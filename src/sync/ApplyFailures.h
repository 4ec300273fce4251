#pragma once

#include <functional>
#include <string>

namespace morvex::sync {

// The file-system steps of a batch run inside the store's transaction,
// which knows nothing of passes. A pass installs a sink on its own thread
// for as long as it applies batches, and a step that failed on disk (not
// one that stood back because the file changed meanwhile) notes its path
// and errno there.
class CApplyFailureSink {
 public:
  using Note = std::function<void(const std::string& path, int error)>;
  explicit CApplyFailureSink(Note note);
  ~CApplyFailureSink();
  CApplyFailureSink(const CApplyFailureSink&) = delete;
  CApplyFailureSink& operator=(const CApplyFailureSink&) = delete;

 private:
  Note note_;
  CApplyFailureSink* previous_;
  friend void NoteApplyFailure(const std::string& path, int error);
};

// To the sink of this thread, if any.
void NoteApplyFailure(const std::string& path, int error);

}  // namespace morvex::sync
