#include "sync/SyncBatch.h"

namespace morvex::sync {
namespace {

class CConditionNoteCopy final : public store::COperationCondition {
 public:
  CConditionNoteCopy(std::unique_ptr<store::COperationCondition> inner, std::vector<std::string>& notes,
                     std::string path)
      : inner_(std::move(inner)), notes_(notes), path_(std::move(path)) {}

  bool Run() override {
    if (inner_ && !inner_->Run()) return false;
    notes_.push_back(path_);
    return true;
  }

 private:
  std::unique_ptr<store::COperationCondition> inner_;
  std::vector<std::string>& notes_;
  std::string path_;
};

}  // namespace

std::unique_ptr<store::COperationCondition> CSyncBatch::NotingConflictCopy(
    std::unique_ptr<store::COperationCondition> condition, std::string path) {
  return std::make_unique<CConditionNoteCopy>(std::move(condition), conflictCopies_, std::move(path));
}

}  // namespace morvex::sync
