#include "desktop/FolderActions.h"

#include <glog/logging.h>

#include <QCoreApplication>
#include <QMetaObject>
#include <memory>
#include <utility>

#include "Morvex.pb.h"
#include "desktop/OwnKeys.h"
#include "peer/Relations.h"
#include "protocol/PeerChannel.h"

namespace morvex::desktop {
namespace {

// The service waits up to a second for each peer before it answers.
constexpr int kAnswerWaitMs = 10000;

// One request to the own service; true when it answered without refusing
// (or refused only because the thing is already gone, when `goneIsDone`).
bool AskOwnService(protocol::ZmqContext& zmq, const config::ConfigValues& own, int code,
                   const google::protobuf::MessageLite& body, bool goneIsDone) {
  OwnKeys keys(own.deviceUuid, own.privateKey, own.publicKey);
  protocol::ChannelOptions options;
  options.sendTimeoutMs = kAnswerWaitMs;
  options.lingerMs = 0;  // an unanswered request must not hold the exit
  protocol::PeerChannel channel(zmq, own.RouteUri(), {own.deviceUuid, own.privateKey}, own.publicKey, keys, options);
  const protocol::PeerReply reply = channel.Ask(code, &body, kAnswerWaitMs);
  if (!reply.answered()) {
    LOG(WARNING) << "The service did not answer request " << code;
    return false;
  }
  if (!reply.refused()) return true;
  const int error = reply.peerError.value_or(qo::ZE_GENERAL);
  if (goneIsDone && error == qo::ZE_NOENT) return true;
  LOG(WARNING) << "The service refused request " << code << " (error " << error << ")";
  return false;
}

bool DeleteRelation(protocol::ZmqContext& zmq, const config::ConfigValues& own, int32_t syncId, bool goneIsDone) {
  qo::MsgWinSyncDeleteRequest remove;
  remove.set_sync_id(syncId);
  return AskOwnService(zmq, own, qo::MC_WIN_SYNC_DELETE_REQUEST, remove, goneIsDone);
}

}  // namespace

LocalFolderClient::LocalFolderClient(const DesktopContext& context, QObject* receiver)
    : context_(context), receiver_(receiver) {}

LocalFolderClient::~LocalFolderClient() { pool_.waitForDone(); }

void LocalFolderClient::RemoveRelation(int32_t syncId, Done done) {
  auto own = context_.config.Snapshot();
  protocol::ZmqContext& zmq = context_.zmq;
  Run([own, &zmq, syncId] { return DeleteRelation(zmq, *own, syncId, false); }, std::move(done));
}

void LocalFolderClient::RemoveFolder(const std::string& treeUuid, Done done) {
  auto own = context_.config.Snapshot();
  protocol::ZmqContext& zmq = context_.zmq;
  Run(
      [own, &zmq, treeUuid] {
        // The service refuses to delete a tree that still has relations.
        const auto relations = peer::FindRelations({.treeUuid = treeUuid});
        if (!relations) return false;
        for (const peer::Relation& relation : *relations) {
          if (!DeleteRelation(zmq, *own, relation.id, true)) return false;
        }
        // The service removes the bookmark and cancels a waiting rescan.
        qo::MsgTreeDeleteRequest remove;
        remove.set_tree_uuid(treeUuid);
        return AskOwnService(zmq, *own, qo::MC_TREE_DELETE_REQUEST, remove, false);
      },
      std::move(done));
}

void LocalFolderClient::Run(std::function<bool()> work, Done done) {
  pool_.start([work = std::move(work), done = std::move(done), receiver = receiver_] {
    const bool ok = work();
    // Queued on the application, which outlives the receiver; the guard is
    // read on the Qt thread.
    QMetaObject::invokeMethod(
        QCoreApplication::instance(),
        [receiver, done, ok] {
          if (receiver && done) done(ok);
        },
        Qt::QueuedConnection);
  });
}

}  // namespace morvex::desktop
