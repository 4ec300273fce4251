// The link wizard: a new sync folder here, or a local copy of a peer's.
#pragma once

#include <QWidget>
#include <QWizard>
#include <functional>
#include <optional>
#include <string>

#include "desktop/DesktopContext.h"
#include "desktop/LinkRequests.h"
#include "desktop/LinkSteps.h"

namespace morvex::desktop {

// How the wizard ended with Finish.
struct LinkWizardResult {
  // Set when a local folder was linked to an existing sync folder (the
  // caller then asks for a pass); empty for a new sync folder.
  std::optional<std::string> linkedSyncUuid;
};

// Runs the wizard modally over `parent`; nothing when it was cancelled.
std::optional<LinkWizardResult> RunLinkWizard(const DesktopContext& context, QWidget* parent);

// The wizard's pages, in the order they are added.
enum LinkWizardPage : int {
  kChoicePage = 0,       // a new sync folder, or an existing one
  kRemoteFolderPage = 1, // a device and one of its sync folders
  kLocalFolderPage = 2,  // the local folder for that sync folder
  kNewFolderPage = 3,    // the folder of a new sync folder
};

class LinkWizard final : public QWizard {
  Q_OBJECT

 public:
  // Sends its requests through `requests` (not owned; outlives the wizard).
  LinkWizard(const DesktopContext& context, ILinkRequests& requests, QWidget* parent);

  // What Finish did; nothing until it succeeded.
  const std::optional<LinkWizardResult>& Result() const { return result_; }

  // The sync folder chosen on the remote folder page.
  int32_t deviceId = 0;
  RemoteFolder remote;

  // How the pages tell the user about a failure (a message box unless a
  // test replaces it); `error` picks the icon.
  std::function<void(const QString& message, bool error)> tell;

  const DesktopContext& Context() const { return context_; }
  ILinkRequests& Requests() const { return requests_; }
  void SetResult(LinkWizardResult result) { result_ = std::move(result); }

 private:
  const DesktopContext& context_;
  ILinkRequests& requests_;
  std::optional<LinkWizardResult> result_;
};

}  // namespace morvex::desktop
