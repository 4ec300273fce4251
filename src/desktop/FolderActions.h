// Removing sync folders and relations, as the desktop asks its own service
// to do it (the service tells the peers).
#pragma once

#include <QObject>
#include <QPointer>
#include <QThreadPool>
#include <cstdint>
#include <functional>
#include <string>

#include "desktop/DesktopContext.h"

namespace morvex::desktop {

// What the sync folders page does once the user confirmed.
class IFolderActions {
 public:
  // Told on the Qt thread whether it was done.
  using Done = std::function<void(bool done)>;
  virtual ~IFolderActions() = default;
  // Removes the relation; its peer is told to drop its side.
  virtual void RemoveRelation(int32_t syncId, Done done) = 0;
  // Removes the tree's relations (as above), then the tree itself, its
  // bookmark and any rescan still waiting for it.
  virtual void RemoveFolder(const std::string& treeUuid, Done done) = 0;
};

// The local requests over the service's route port, signed with this
// device's key, as `morvexctl unlink` and `morvexctl folder remove` send
// them. The service waits for each peer before it answers, so the requests
// run on a thread of their own pool and never hold up the windows.
class LocalFolderClient final : public IFolderActions {
 public:
  // `done` runs only while `receiver` lives.
  LocalFolderClient(const DesktopContext& context, QObject* receiver);
  // Waits for the requests still running (each ends by its time-out).
  ~LocalFolderClient() override;

  void RemoveRelation(int32_t syncId, Done done) override;
  void RemoveFolder(const std::string& treeUuid, Done done) override;

 private:
  // Runs `work` on the pool and hands its result to `done`.
  void Run(std::function<bool()> work, Done done);

  const DesktopContext& context_;
  QPointer<QObject> receiver_;
  QThreadPool pool_;
};

}  // namespace morvex::desktop
