#include "sync/SyncDir.h"

#include <dirent.h>
#include <fcntl.h>
#include <glog/logging.h>

#include <algorithm>
#include <cstring>
#include <functional>
#include <mutex>
#include <set>
#include <utility>

#include "core/BroadcastService.h"
#include "device/DeviceQueries.h"
#include "index/FileUtils.h"
#include "index/IgnoreRules.h"
#include "index/QoFile.h"
#include "index/Tree.h"
#include "index/VectorClock.h"
#include "peer/DeviceChannel.h"
#include "platform/UniqueDir.h"
#include "platform/UniqueFd.h"
#include "protocol/ErrorText.h"
#include "protocol/ProtectedMsg.h"
#include "store/ContentResolver.h"
#include "sync/ApplyFailures.h"
#include "sync/Conditions.h"
#include "sync/ListingPage.h"
#include "sync/SyncBatch.h"
#include "sync/TreeFiles.h"

namespace morvex::sync {

using store::CContentResolver;

namespace {

using Batch = std::vector<CMorvexFile*>;

// Cuts a sorted list into batches of at most `files` entries and, with
// bytes > 0, closes a batch as soon as its remote lengths reach `bytes`.
std::vector<Batch> CutBatches(const std::vector<std::unique_ptr<CMorvexFile>>& items, int32_t files, int64_t bytes) {
  std::vector<Batch> batches;
  Batch current;
  int64_t size = 0;
  for (const auto& item : items) {
    current.push_back(item.get());
    size += item->Length();
    if (static_cast<int32_t>(current.size()) >= files || (bytes > 0 && size >= bytes)) {
      batches.push_back(std::move(current));
      current.clear();
      size = 0;
    }
  }
  if (!current.empty()) batches.push_back(std::move(current));
  return batches;
}

void SortByPath(std::vector<std::unique_ptr<CMorvexFile>>& items, bool descending) {
  std::sort(items.begin(), items.end(), [descending](const auto& a, const auto& b) {
    return descending ? a->Path() > b->Path() : a->Path() < b->Path();
  });
}

// No transfer is needed: nothing to fetch, or the same content is here.
bool NeedsNoTransfer(const CMorvexFile& item) {
  return item.Type() == qo::DIR || item.Status() == qo::REMOVED ||
         (item.HasLocal() && item.Sha1() == item.Local().Sha1() && item.Local().Status() != qo::REMOVED);
}

// Applies the batch and tells the interfaces of the conflict copies it made:
// a copy is on disk once its move ran, whatever became of the batch.
int64_t Apply(CSyncBatch& list, const peer::Relation& relation) {
  if (list.Size() == 0) return 0;
  // Last: flushes the folders of the batch's renames before it commits. It
  // changes no row, so it does not count as an applied operation.
  index::AppendNoChange(list).SetCondition(std::make_unique<CConditionFlushFolders>(list.Flushes()));
  const int64_t applied = CContentResolver::Instance().ApplyBatch(store::kAuthority, list);
  for (const std::string& copy : list.ConflictCopies()) {
    core::CBroadcastService::Instance().Broadcast(core::BM_CONFLICT_COPY,
                                                  core::PathEvent{relation.peerDeviceUuid, copy});
  }
  return applied;
}

std::mutex leftoverMutex;
std::set<std::string> cleanedTrees;  // tree UUIDs; guarded by leftoverMutex

// Walks by descriptors, never through a link, so that a folder swapped for
// a link meanwhile cannot lead the deletions out of the tree.
void RemoveTempFilesIn(platform::UniqueFd dirFd, const std::string& dir) {
  platform::UniqueFd listing(::dup(dirFd.Get()));
  if (!listing.Valid()) return;
  platform::UniqueDir stream(::fdopendir(listing.Get()));
  if (!stream) return;
  listing.Release();  // owned by `stream` now
  std::vector<std::string> subdirs;
  while (const dirent* entry = ::readdir(stream.get())) {
    const std::string name = entry->d_name;
    if (name == "." || name == "..") continue;
    if (entry->d_type == DT_DIR) {
      subdirs.push_back(name);
    } else if (entry->d_type == DT_REG && index::IsTmpFile(name)) {
      LOG(INFO) << "Removing leftover temporary file: " << dir << "/" << name;
      ::unlinkat(dirFd.Get(), name.c_str(), 0);
    }
  }
  stream.reset();
  for (const std::string& subdir : subdirs) {
    platform::UniqueFd child(::openat(dirFd.Get(), subdir.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
    if (child.Valid()) RemoveTempFilesIn(std::move(child), dir + "/" + subdir);
  }
}

}  // namespace

void RemoveLeftoverTempFiles(const std::string& treeUuid, const std::string& root) {
  std::lock_guard lock(leftoverMutex);
  if (!cleanedTrees.insert(treeUuid).second) return;
  platform::UniqueFd rootFd(::open(root.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (rootFd.Valid()) RemoveTempFilesIn(std::move(rootFd), root);
}

CSyncDir::CSyncDir(int32_t syncId) { valid_ = peer::LoadRelation(syncId, relation_); }

protocol::PeerChannel CSyncDir::OpenChannel(peer::PeerContext& peer) const {
  return peer::OpenDeviceChannel(peer, relation_.peerDeviceUuid, peer::PeerKey::kTrusted);
}

bool CSyncDir::ListChanges(protocol::PeerChannel& channel, const PassLimits& limits, PassLists& lists) {
  if (!channel.HasRoute()) {
    LOG(WARNING) << "empty route_uri, may be device off line";
    report_.problem = core::PassProblem::kPeerUnreachable;
    return false;
  }

  int64_t since = 0;
  for (;;) {
    qo::MsgFindRequest find;
    find.set_sync_uuid(relation_.syncUuid);
    find.set_tree_uuid(relation_.peerTreeUuid);
    find.set_since(since);
    find.set_limit(limits.pageSize);
    const protocol::PeerReply reply = channel.Ask(qo::MC_FIND_REQUEST, &find, limits.listWaitMs);
    if (!reply.answered()) {
      if (reply.receiveError == 0) {
        LOG(ERROR) << "Failed to send MsgFindRequest: " << reply.status.text();  // nothing was awaited
      } else {
        LOG(ERROR) << "Msg.ReceiveError(): " << qo::ErrorCode_Name(static_cast<qo::ErrorCode>(reply.receiveError));
      }
      report_.problem = core::PassProblem::kPeerUnreachable;
      // Shown offline at once rather than when its announcements age out;
      // its next datagram or answer brings it back.
      device::MarkOffline(relation_.peerDeviceUuid);
      return false;
    }
    // It answered, if only to refuse: shown online at once again (once a
    // cable is back, say), which also brings back the subscription to its
    // change notices. A device already online is not written.
    if (since == 0) device::MarkOnline(relation_.peerDeviceUuid);
    if (reply.refused()) {
      if (reply.peerError) {
        LOG(ERROR) << "Peer return error: " << qo::ErrorCode_Name(static_cast<qo::ErrorCode>(*reply.peerError));
      } else {
        LOG(ERROR) << "Peer return error with invalid body";
      }
      report_.problem = core::PassProblem::kRefused;
      report_.peerError = reply.peerError.value_or(0);
      return false;
    }
    qo::MsgFindResponse response;
    if (!DecodeListingPage(reply.body, response)) {
      LOG(ERROR) << "Bad data format for MsgFindResponse";
      report_.problem = core::PassProblem::kRefused;
      report_.peerError = qo::ZE_BAD_FORMAT;
      return false;
    }
    const std::vector<std::string> uuids(response.uuids().begin(), response.uuids().end());
    const index::ClockIndexMap map = index::MapClockUuids(relation_.treeId, uuids);
    for (const qo::Stat& stat : response.stats()) {
      since = std::max(since, stat.usn());
      // A peer's path must stay inside the tree, whatever it sends.
      ListedPlace place = PlaceOfRecord(relation_.treeRoot, stat);
      if (place.kind == ListedPlace::kTreeRoot) continue;
      if (place.kind == ListedPlace::kInvalidName) {
        if (stat.status() == qo::NORMAL) {
          // Never written here: the pass cannot be complete.
          LOG(ERROR) << "[InvalidName] " << stat.path();
          core::CBroadcastService::Instance().Broadcast(
              core::BM_INVALID_NAME, core::PathEvent{relation_.peerDeviceUuid, relation_.treeRoot + stat.path()});
          ++failedFiles_;
          report_.AddItem(relation_.treeRoot + stat.path(), "invalid name");
        }
        continue;
      }
      auto item = std::make_unique<CMorvexFile>(relation_.treeId, relation_.treeRoot, std::move(place.fullPath), stat,
                                                index::CVectorClock(map, stat.vclock()), &lists.escapes);
      if (!item->LoadLocal()) {
        (item->Type() == qo::DIR ? lists.directories : lists.newFiles).push_back(std::move(item));
        continue;
      }
      const index::CVectorClock* local = item->Local().VClock();
      const index::CVectorClock none;
      switch (index::Compare(local != nullptr ? *local : none, *item->VClock())) {
        case index::VC_LESS:
          if (item->Status() == qo::REMOVED) {
            lists.deletions.push_back(std::move(item));
          } else if (item->Type() == qo::DIR) {
            lists.directories.push_back(std::move(item));
          } else {
            lists.updates.push_back(std::move(item));
          }
          break;
        case index::VC_CONFLICT:
          lists.conflicts.push_back(std::move(item));
          break;
        default:
          break;  // equal, or the local version is newer
      }
    }
    if (response.stats_size() < limits.pageSize) return true;
  }
}

core::PassReport CSyncDir::Report() const {
  core::PassReport report = report_;
  if (report.problem == core::PassProblem::kNone && !Complete()) report.problem = core::PassProblem::kItemsFailed;
  return report;
}

bool CSyncDir::RunPass(peer::PeerContext& peer, const PassLimits& limits) {
  if (!valid_) return false;
  // One conversation for the whole pass: the listing and every fetch
  // batch use the route and key looked up here.
  protocol::PeerChannel channel = OpenChannel(peer);
  PassLists lists;
  if (!ListChanges(channel, limits, lists)) return false;
  ApplyChanges(peer, channel, limits, lists);
  return true;
}

void CSyncDir::ApplyChanges(peer::PeerContext& peer, protocol::PeerChannel& channel, const PassLimits& limits,
                            PassLists& lists) {
  RemoveLeftoverTempFiles(relation_.treeUuid, relation_.treeRoot);
  int64_t applied = 0;
  {
    // A step that failed on disk leaves its record as it was; the pass
    // counts it and keeps its path and reason for the status.
    const CApplyFailureSink sink([this](const std::string& path, int error) {
      ++failedFiles_;
      report_.AddItem(path, std::strerror(error));
    });
    applied = ApplyLists(channel, limits, lists);
  }
  // A step refused for leaving the tree wrote nothing; its change is not
  // recorded, and the pass says so.
  const int32_t escapes = std::exchange(lists.escapes, 0);
  failedFiles_ += escapes;
  for (int32_t i = 0; i < escapes; ++i) {
    report_.AddItem(relation_.treeRoot, "a path from the peer leads outside the folder");
  }
  if (applied > 0) {
    index::PublishFileChange(peer.zmq, peer.config.Snapshot()->deviceUuid, relation_.syncUuid, relation_.treeUuid);
  }
}

bool CSyncDir::FetchBatch(protocol::PeerChannel& channel, const PassLimits& limits, CSyncMonitor& monitor,
                          const std::vector<CMorvexFile*>& batch) {
  std::vector<IFetchFile*> wanted;
  for (CMorvexFile* item : batch) {
    if (!item->Ready()) wanted.push_back(item);
  }
  if (wanted.empty() || !goOn_) return goOn_;
  CFileFetcher fetcher({channel, relation_.peerTreeUuid}, &monitor, limits.fetch);
  if (!fetcher.Fetch(wanted)) {
    LOG(ERROR) << "Failed to fetch data from: " << relation_.peerDeviceUuid;
    goOn_ = false;
    report_.problem = core::PassProblem::kPeerUnreachable;
  }
  return goOn_;
}

int64_t CSyncDir::ApplyLists(protocol::PeerChannel& channel, const PassLimits& limits, PassLists& lists) {
  const int32_t fileCount = static_cast<int32_t>(lists.newFiles.size() + lists.updates.size());
  int64_t byteTotal = 0;
  for (const auto* list : {&lists.conflicts, &lists.newFiles, &lists.updates}) {
    for (const auto& item : *list) byteTotal += item->Length();
  }
  CSyncMonitor monitor(relation_.treeId, relation_.id, fileCount, byteTotal);
  goOn_ = true;
  int64_t total = 0;
  const bool isLower = IsLower();

  // Readiness without transfer; what needs none is taken off the bytes.
  const auto markReady = [&](const Batch& batch) {
    for (CMorvexFile* item : batch) {
      if (NeedsNoTransfer(*item)) {
        item->SetReady();
        monitor.BytesSkipped(item->Length());
      } else {
        item->SetFailed();
      }
    }
  };

  // Fetches a list batch by batch and applies what arrived whole; countsFiles
  // says whether the list is part of the monitor's file count.
  const auto transferList = [&](std::vector<std::unique_ptr<CMorvexFile>>& items, bool countsFiles,
                                const std::function<void(CMorvexFile&, CSyncBatch&)>& applyOne) {
    SortByPath(items, false);
    for (const Batch& batch : CutBatches(items, limits.batchFiles, limits.batchBytes)) {
      if (!goOn_) return;
      markReady(batch);
      if (!FetchBatch(channel, limits, monitor, batch)) return;
      CSyncBatch operations;
      for (CMorvexFile* item : batch) {
        if (item->Ready()) {
          applyOne(*item, operations);
        } else {
          ++failedFiles_;
          report_.AddItem(item->Path(), "could not be fetched");
          LOG(ERROR) << "Failed to fetch data: " << item->Path();
        }
      }
      const int64_t applied = Apply(operations, relation_);
      for (CMorvexFile* item : batch) item->ReleaseTemp();
      if (countsFiles && applied > 0) monitor.FilesDone(static_cast<int32_t>(applied));
      total += applied;
    }
  };

  transferList(lists.conflicts, false,
               [isLower](CMorvexFile& item, CSyncBatch& operations) { item.ApplyConflict(operations, isLower); });

  SortByPath(lists.directories, false);
  for (const Batch& batch : CutBatches(lists.directories, limits.batchFiles, 0)) {
    CSyncBatch operations;
    for (CMorvexFile* item : batch) {
      if (item->OnlyAttributesDiffer()) {
        item->ApplyAttributes(operations);
      } else {
        item->ApplyDirectory(operations);
      }
    }
    total += Apply(operations, relation_);
  }

  SortByPath(lists.deletions, true);
  for (const Batch& batch : CutBatches(lists.deletions, limits.batchFiles, 0)) {
    CSyncBatch operations;
    for (CMorvexFile* item : batch) item->ApplyDelete(operations);
    const int64_t applied = Apply(operations, relation_);
    if (applied > 0) {
      core::CBroadcastService::Instance().Broadcast(
          core::BM_DELETE_APPLIED,
          core::DeletionsEvent{relation_.peerDeviceUuid, relation_.treeRoot, static_cast<int32_t>(applied)});
    }
    total += applied;
  }

  transferList(lists.newFiles, true,
               [](CMorvexFile& item, CSyncBatch& operations) { item.ApplyNewFile(operations); });
  transferList(lists.updates, true, [](CMorvexFile& item, CSyncBatch& operations) {
    if (item.OnlyAttributesDiffer()) {
      item.ApplyAttributes(operations);
    } else {
      item.ApplyUpdate(operations);
    }
  });
  return total;
}

}  // namespace morvex::sync
