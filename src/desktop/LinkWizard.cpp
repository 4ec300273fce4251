#include "desktop/LinkWizard.h"

#include <QMessageBox>

#include "desktop/Icons.h"
#include "desktop/LinkWizardPages.h"
#include "desktop/Strings.h"

namespace morvex::desktop {

LinkWizard::LinkWizard(const DesktopContext& context, ILinkRequests& requests, QWidget* parent)
    : QWizard(parent), context_(context), requests_(requests) {
  setWindowTitle(QString::fromUtf8(Text(111)));
  setWizardStyle(QWizard::ModernStyle);
  setPixmap(QWizard::LogoPixmap, Icon(kIconWizardHeader).pixmap(49, 49));
  tell = [this](const QString& message, bool error) {
    if (error) {
      QMessageBox::critical(this, windowTitle(), message);
    } else {
      QMessageBox::warning(this, windowTitle(), message);
    }
  };
  setPage(kChoicePage, new ChoicePage(this));
  setPage(kRemoteFolderPage, new RemoteFolderPage(*this));
  setPage(kLocalFolderPage, new LocalFolderPage(*this));
  setPage(kNewFolderPage, new NewFolderPage(*this));
  setStartId(kChoicePage);
}

std::optional<LinkWizardResult> RunLinkWizard(const DesktopContext& context, QWidget* parent) {
  PeerLinkRequests requests(context);
  LinkWizard wizard(context, requests, parent);
  wizard.exec();
  return wizard.Result();
}

}  // namespace morvex::desktop
