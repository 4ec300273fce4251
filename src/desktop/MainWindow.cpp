#include "desktop/MainWindow.h"

#include <QHBoxLayout>
#include <QVBoxLayout>

#include "desktop/DevicesPage.h"
#include "desktop/Icons.h"
#include "desktop/Notifier.h"
#include "desktop/SettingsPage.h"
#include "desktop/Strings.h"
#include "desktop/TrustPrompt.h"

namespace morvex::desktop {

MainWindow::MainWindow(const DesktopContext& context, QWidget* parent) : QWidget(parent), context_(context) {
  setWindowTitle(QString::fromUtf8(Text(107)));
  setWindowIcon(Icon(kIconApp));
  syncNow_ = new QPushButton(QString::fromUtf8(Text(104)), this);
  tabs_ = new QTabWidget(this);
  tabs_->addTab(new DevicesPage(context_, tabs_), QString::fromUtf8(Text(155)));
  tabs_->addTab(new QWidget(tabs_), QString::fromUtf8(Text(156)));
  tabs_->addTab(new SettingsPage(context_, tabs_), QString::fromUtf8(Text(157)));
  auto* top = new QHBoxLayout;
  top->addStretch();
  top->addWidget(syncNow_);
  auto* layout = new QVBoxLayout(this);
  layout->addLayout(top);
  layout->addWidget(tabs_);
  // Both are QObject children of this window.
  new TrustPrompt(context_, this);
  new Notifier(context_, this, [](const QString&) {});
}

MainWindow::~MainWindow() = default;

void MainWindow::Start() { show(); }

}  // namespace morvex::desktop
