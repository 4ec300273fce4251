#include "index/RefreshThread.h"

#include <dirent.h>
#include <fcntl.h>
#include <glog/logging.h>
#include <sys/stat.h>

#include <algorithm>
#include <functional>
#include <cstring>
#include <memory>
#include <unordered_map>

#include "Morvex.pb.h"
#include "core/BroadcastService.h"
#include "core/MergeSorted.h"
#include "index/QoFile.h"
#include "index/UsnAllocator.h"
#include "platform/PathCollation.h"
#include "platform/ServiceFolder.h"
#include "protocol/InprocEndpoints.h"
#include "protocol/QoMsg.h"
#include "protocol/WorkerChannel.h"
#include "store/ContentResolver.h"
#include "platform/UniqueDir.h"

namespace morvex::index {

using store::CContentResolver;
using store::CSelection;
namespace uris = store::uris;

namespace {

constexpr int kReceiveWaitMs = 5000;

void Progress(int code, int32_t treeId, size_t count) {
  core::CBroadcastService::Instance().Broadcast(code, core::IndexEvent{treeId, static_cast<int32_t>(count)});
}

FileInfo InfoOf(const CRefreshThread::Entry& entry) {
  FileInfo info;
  info.valid = true;
  info.kind = entry.directory ? FileKind::kDirectory : FileKind::kRegular;
  info.win_attr = entry.winAttr;
  info.unix_attr = entry.unixAttr;
  info.mtime = entry.mtime;
  info.length = entry.length;
  return info;
}

// Applies `list` when it has grown to a batch (or `force`); true when the
// database reported changed rows.
bool Flush(store::COperationList& list, bool force) {
  if (list.Size() == 0 || (!force && static_cast<size_t>(list.Size()) < CRefreshThread::kBatchOperations)) return false;
  const bool wrote = CContentResolver::Instance().ApplyBatch(store::kAuthority, list) > 0;
  list.Clear();
  return wrote;
}

}  // namespace

CRefreshThread::CRefreshThread(IndexContext context) : CWorkThread("refresher"), context_(std::move(context)) {}

uint32_t CRefreshThread::Run() {
  protocol::ZmqSocket tasks(context_.zmq, ZMQ_PULL);
  tasks.Bind(protocol::endpoints::kRefresher);
  protocol::ZmqSocket exit = protocol::SubscribeExit(context_.zmq);
  tasks_ = &tasks;
  exit_ = &exit;
  protocol::PushOnce(context_.zmq, protocol::endpoints::kInit, qo::MC_WIN_WORKER_READY);
  while (running_ && WaitForWork()) {
    while (running_ && !queue_.empty()) {
      current_ = queue_.front();
      queue_.pop_front();
      const LocalTree tree = LocalTree::ById(current_);
      if (tree.Valid()) {
        const IgnoreRules rules;
        RefreshTree(tree, rules);
      }
      current_ = 0;
    }
  }
  tasks_ = nullptr;
  exit_ = nullptr;
  return 0;
}

void CRefreshThread::Queue(const qo::MsgWinRefresh& refresh) {
  for (const int32_t id : refresh.local_tree_ids()) {
    if (std::find(queue_.begin(), queue_.end(), id) == queue_.end()) queue_.push_back(id);
  }
}

bool CRefreshThread::WaitForWork() {
  while (protocol::WaitForInputOrExit(*exit_, *tasks_, -1) == protocol::Wake::kInput) {
    protocol::CQoMsg message;
    if (!message.Recv(*tasks_, false, kReceiveWaitMs)) {
      LOG(WARNING) << "Ooops, message receive error.";
      continue;
    }
    if (message.Code() == qo::MC_WIN_REFRESH) {
      qo::MsgWinRefresh refresh;
      if (!message.ParseBody(refresh)) continue;
      Queue(refresh);
      return true;
    }
    if (message.Code() == qo::MC_WIN_REFRESH_CANCEL) {
      LOG(INFO) << "ignore MC_WIN_REFRESH_CANCEL due to empty task queue";  // nothing to cancel: routine
    } else {
      LOG(ERROR) << "Ooops, unknown msg code " << message.Code();
    }
  }
  running_ = false;
  return false;
}

bool CRefreshThread::HandleCommand(int32_t treeId) {
  protocol::CQoMsg message;
  if (!message.Recv(*tasks_, false, kReceiveWaitMs)) {
    LOG(WARNING) << "Ooops, message receive error.";
    return false;
  }
  if (message.Code() == qo::MC_WIN_REFRESH) {
    qo::MsgWinRefresh refresh;
    if (message.ParseBody(refresh)) Queue(refresh);
    return false;
  }
  if (message.Code() == qo::MC_WIN_REFRESH_CANCEL) {
    qo::MsgWinRefreshCancel cancel;
    if (!message.ParseBody(cancel)) return false;
    queue_.erase(std::remove(queue_.begin(), queue_.end(), cancel.local_tree_id()), queue_.end());
    return cancel.local_tree_id() == treeId;
  }
  LOG(ERROR) << "Ooops, unknown msg code " << message.Code();
  return false;
}

bool CRefreshThread::IsCancel(int32_t treeId) {
  if (tasks_ == nullptr) return false;
  for (;;) {
    switch (protocol::WaitForInputOrExit(*exit_, *tasks_, 0)) {
      case protocol::Wake::kExit:
        running_ = false;
        return true;
      case protocol::Wake::kInput:
        if (HandleCommand(treeId)) return true;
        break;
      case protocol::Wake::kTimeout:
      case protocol::Wake::kFailed:
        return false;
    }
  }
}

void CRefreshThread::AddEntry(const std::string& path, const FileInfo& info, int32_t treeId, const IgnoreRules& rules,
                              std::vector<Entry>& listing) {
  if (rules.Ignored(path)) {
    LOG(INFO) << "[Ignore    ] " << path;
    return;
  }
  if (IsTmpFile(path)) return;
  listing.push_back(Entry{path, info.mtime, info.length, info.win_attr, info.unix_attr,
                          info.kind == FileKind::kDirectory});
  (void)treeId;
}

bool CRefreshThread::Scan(const std::string& dir, int32_t treeId, const IgnoreRules& rules,
                          std::vector<Entry>& listing, std::vector<std::string>& unreadable) {
  if (IsCancel(treeId)) return false;
  platform::UniqueDir listingDir(::opendir(dir.c_str()));
  if (!listingDir) {
    LOG(WARNING) << "Cannot list " << dir << ": " << std::strerror(errno) << "; its records are kept";
    unreadable.push_back(dir);
    return true;
  }
  const int dirFd = ::dirfd(listingDir.get());
  while (const dirent* entry = ::readdir(listingDir.get())) {
    const std::string_view name = entry->d_name;
    if (platform::SkippedInWalk(name)) continue;
    const std::string child = (dir == "/" ? std::string() : dir) + "/" + std::string(name);
    struct stat st {};
    if (::fstatat(dirFd, entry->d_name, &st, AT_SYMLINK_NOFOLLOW) != 0) continue;
    FileInfo info;
    info.valid = true;
    info.kind = S_ISDIR(st.st_mode) ? FileKind::kDirectory : S_ISREG(st.st_mode) ? FileKind::kRegular : FileKind::kOther;
    if (!S_ISDIR(st.st_mode) && !S_ISREG(st.st_mode)) continue;  // links, sockets, FIFOs, devices
    info.mtime = static_cast<int64_t>(st.st_mtim.tv_sec) * 1000 + st.st_mtim.tv_nsec / 1000000;
    info.length = S_ISDIR(st.st_mode) ? 0 : static_cast<int64_t>(st.st_size);
    info.unix_attr = st.st_mode & 07777;
    info.win_attr = (S_ISDIR(st.st_mode) ? kAttrDirectory : 0) | ((st.st_mode & S_IWUSR) == 0 ? kAttrReadOnly : 0);
    AddEntry(child, info, treeId, rules, listing);
    if (S_ISDIR(st.st_mode) && !Scan(child, treeId, rules, listing, unreadable)) return false;
  }
  return true;
}

bool CRefreshThread::RefreshTree(const LocalTree& tree, const IgnoreRules& rules) {
  std::vector<Entry> listing;
  std::vector<std::string> unreadable;
  const FileInfo root = GetFileInfo(tree.Root());
  if (!root.valid || root.kind != FileKind::kDirectory) {
    LOG(ERROR) << "FindFirstFile of " << tree.Root() << " return Error: " << errno
               << "; the tree is left as it is until its folder is back";
    return false;
  }
  AddEntry(tree.Root(), root, tree.Id(), rules, listing);
  if (!Scan(tree.Root(), tree.Id(), rules, listing, unreadable)) return false;
  std::sort(listing.begin(), listing.end(),
            [](const Entry& a, const Entry& b) { return platform::CompareExact(a.path, b.path) < 0; });
  return Reconcile(listing, unreadable, tree);
}

bool CRefreshThread::Reconcile(std::vector<Entry>& listing, const std::vector<std::string>& unreadable,
                               const LocalTree& tree) {
  const int32_t treeId = tree.Id();
  std::vector<int64_t> removed;
  std::vector<size_t> fresh;                         // listing indexes
  std::vector<std::pair<int64_t, size_t>> changed;  // row id, listing index
  {
    // The tree's records as the rescan compares them, in path order.
    struct Record {
      int64_t id;
      std::string path;
      int32_t type;
      int64_t mtime;
      int32_t status;
      int32_t winAttr;
      int64_t length;
      int32_t unixAttr;
    };
    std::vector<Record> records;
    auto rows = CContentResolver::Instance().Query(
        uris::File(), {"id", "path", "type", "mtime", "status", "win_attr", "length", "unix_attr"},
        CSelection("(tree_id = ? )").AddInt(treeId), "path COLLATE UTF16 ASC ");
    if (rows) {
      // A rescan reads every record of the tree: the columns are found by name once, not per value.
      const struct {
        int id, path, type, mtime, status, winAttr, length, unixAttr;
      } column{rows->ColumnIndex("id"),     rows->ColumnIndex("path"),     rows->ColumnIndex("type"),
               rows->ColumnIndex("mtime"),  rows->ColumnIndex("status"),   rows->ColumnIndex("win_attr"),
               rows->ColumnIndex("length"), rows->ColumnIndex("unix_attr")};
      while (rows->MoveToNext()) {
        records.push_back({rows->GetInt64(column.id), std::string(rows->GetString(column.path)),
                           rows->GetInt(column.type), rows->GetInt64(column.mtime), rows->GetInt(column.status),
                           rows->GetInt(column.winAttr), rows->GetInt64(column.length), rows->GetInt(column.unixAttr)});
      }
    }
    rows.reset();
    const auto indexOf = [&](const Entry& entry) { return static_cast<size_t>(&entry - listing.data()); };
    core::MergeSorted(
        records, listing,
        [](const Record& record, const Entry& entry) { return platform::CompareExact(record.path, entry.path); },
        [&](const Record& record) {
          const bool hidden = std::any_of(unreadable.begin(), unreadable.end(), [&](const std::string& dir) {
            return record.path != dir && PathWithin(record.path, dir);
          });
          if (record.status != qo::REMOVED && !hidden) removed.push_back(record.id);
        },
        [&](const Entry& entry) { fresh.push_back(indexOf(entry)); },
        [&](const Record& record, const Entry& entry) {
          const bool isChanged = record.type != (entry.directory ? qo::DIR : qo::REG) || record.status == qo::REMOVED ||
                                 record.mtime != entry.mtime || record.length != entry.length ||
                                 record.winAttr != KeptAttributes(entry.winAttr, entry.directory) ||
                                 record.unixAttr != static_cast<int32_t>(entry.unixAttr);
          if (isChanged) changed.emplace_back(record.id, indexOf(entry));
        });
  }
  if (IsCancel(treeId)) return false;

  bool wrote = false;
  store::COperationList list;
  for (const int64_t id : removed) {
    // A fresh usn, so that every listing by usn sees the removal.
    list.NewUpdate(uris::File(), CSelection("id = ? ").AddInt64(id))
        .GetValues()
        ->PutInt("status", qo::REMOVED)
        .PutInt64("usn", GetNextUsn())
        .PutExpression("local_clock", "local_clock+1");
    wrote = Flush(list, false) || wrote;
  }
  wrote = Flush(list, true) || wrote;
  bool cancelled = IsCancel(treeId);

  // Fingerprints the entry; nothing when cancelled or unreadable (`stop`
  // tells which).
  const auto fingerprint = [&](const Entry& entry, bool& stop) -> std::optional<std::string> {
    stop = false;
    if (entry.directory) return std::string();
    auto sha1 = GetSha1(entry.path, *this, treeId);
    if (sha1 && *sha1 == kSha1Cancelled) {
      stop = true;
      return std::nullopt;
    }
    if (!sha1) LOG(WARNING) << "Failed to GetSha1: " << entry.path;
    return sha1;
  };

  // Fingerprints and writes each of `count` entries, announcing progress;
  // false when the rescan was cancelled. What was written stays.
  const auto process = [&](size_t count, const std::function<const Entry&(size_t)>& entryAt,
                           const std::function<void(size_t, const std::string&)>& write) {
    Progress(core::BM_INDEX_BEGIN, treeId, count);
    bool finished = true;
    for (size_t i = 0; i < count; ++i) {
      const Entry& entry = entryAt(i);
      bool stop = false;
      const auto sha1 = fingerprint(entry, stop);
      if (stop) {
        Progress(core::BM_INDEX_PROGRESS, treeId, count - i);
        finished = false;
        break;
      }
      if (sha1) {
        write(i, *sha1);
        LOG(INFO) << "[Refresh   ] " << entry.path;
      }
      Progress(core::BM_INDEX_PROGRESS, treeId, 1);
      wrote = Flush(list, false) || wrote;
      if (IsCancel(treeId)) {
        Progress(core::BM_INDEX_PROGRESS, treeId, count - i - 1);
        finished = false;
        break;
      }
    }
    wrote = Flush(list, true) || wrote;
    return finished;
  };

  if (!cancelled && !fresh.empty()) {
    cancelled = !process(
        fresh.size(), [&](size_t i) -> const Entry& { return listing[fresh[i]]; },
        [&](size_t i, const std::string& sha1) {
          const Entry& entry = listing[fresh[i]];
          CQoFileBuilder(entry.path, sha1, treeId, static_cast<int32_t>(entry.unixAttr), 0, InfoOf(entry)).AppendInsert(list);
        });
  }
  if (!cancelled && !changed.empty()) {
    cancelled = !process(
        changed.size(), [&](size_t i) -> const Entry& { return listing[changed[i].second]; },
        [&](size_t i, const std::string& sha1) {
          CQoFile record(changed[i].first);
          if (record.SetFromFileInfo(InfoOf(listing[changed[i].second]), sha1) != 0) {
            record.IncLocalClock();
            record.AppendUpdate(list);
          }
        });
  }

  if (wrote) PublishFileChange(context_.zmq, context_.ownUuid(), tree.SyncUuid(), tree.TreeUuid());
  return !cancelled;
}

}  // namespace morvex::index
