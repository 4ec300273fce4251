#include "index/DirChangeHandler.h"

#include <glog/logging.h>

#include "Morvex.pb.h"

namespace morvex::index {

void CQoDirChangeHandler::Add(const std::string& path) {
  std::lock_guard lock(mutex_);
  pending_.insert(path);
}

void CQoDirChangeHandler::OnNameChanged(const std::string& oldPath, const std::string& newPath) {
  std::lock_guard lock(mutex_);
  pending_.insert(oldPath);
  pending_.insert(newPath);
}

void CQoDirChangeHandler::FlushPending(protocol::ZmqSocket& indexer) {
  qo::MsgWinReadDirChange change;
  {
    std::lock_guard lock(mutex_);
    if (pending_.empty()) return;
    change.set_tree_id(treeId_);
    for (const std::string& path : pending_) change.add_paths(path);
    pending_.clear();
  }
  indexer.SendMsg(qo::MC_WIN_READ_DIR_CHANGE, &change);
  LOG(INFO) << "Send MC_WIN_READ_DIR_CHANGE";
}

}  // namespace morvex::index
