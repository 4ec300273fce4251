// Administration requests to a local service for the test hosts: what the
// desktop's link wizard sends, reduced to raw requests.
//
//   e2e_admin METADIR tree-add SYNC_UUID TREE_UUID ROOT
//   e2e_admin METADIR sync-add LOCAL_TREE SYNC_UUID REMOTE_TREE REMOTE_ROOT REMOTE_DEVICE
//   e2e_admin METADIR sync-once LOCAL_TREE REMOTE_TREE
//
// Exit 0 on success, 1 with the service's error on standard error, 2 on
// bad usage.
#include <iostream>
#include <string>
#include <vector>

#include "Morvex.pb.h"
#include "ctl/CtlClient.h"

using namespace morvex;

int main(int argc, char** argv) {
  const std::vector<std::string> args(argv + 1, argv + argc);
  if (args.size() < 2) {
    std::cerr << "usage: e2e_admin METADIR COMMAND ARGS...\n";
    return 2;
  }
  std::string error;
  const auto identity = ctl::ReadLocalIdentity(args[0], error);
  if (!identity) {
    std::cerr << error << "\n";
    return 1;
  }
  ctl::CtlClient client(*identity);
  ctl::CtlAnswer answer;
  const std::string& command = args[1];
  if (command == "tree-add" && args.size() == 5) {
    qo::MsgTreeAddRequest add;
    add.set_sync_uuid(args[2]);
    add.set_tree_uuid(args[3]);
    add.set_tree_root(args[4]);
    answer = client.Request(qo::MC_TREE_ADD_REQUEST, &add);
  } else if (command == "sync-add" && args.size() == 7) {
    qo::MsgSyncAddRequest add;
    add.set_local_tree_uuid(args[2]);
    add.set_remote_sync_uuid(args[3]);
    add.set_remote_tree_uuid(args[4]);
    add.set_remote_tree_root(args[5]);
    add.set_remote_device_uuid(args[6]);
    answer = client.Request(qo::MC_SYNC_ADD_REQUEST, &add);
  } else if (command == "sync-once" && args.size() == 4) {
    qo::MsgSyncOnceRequest once;
    once.set_local_tree_uuid(args[2]);
    once.set_remote_tree_uuid(args[3]);
    answer = client.Request(qo::MC_SYNC_ONCE_REQUEST, &once);
  } else {
    std::cerr << "unknown command or wrong arguments: " << command << "\n";
    return 2;
  }
  if (answer.status != ctl::kExitOk) {
    std::cerr << answer.message << "\n";
    return answer.status;
  }
  if (answer.code == qo::MC_ERROR) {
    qo::MsgError failure;
    failure.ParseFromString(answer.body);
    std::cerr << qo::ErrorCode_Name(failure.errcode()) << "\n";
    return 1;
  }
  return 0;
}
