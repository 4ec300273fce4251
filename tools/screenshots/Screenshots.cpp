// morvex_screenshots OUTDIR: renders every window, page and dialog of the
// desktop into OUTDIR as PNG files, over a scratch profile with a few
// devices, for a person to look at (tools/screenshots/run.sh runs it under
// Xvfb in each language). Nothing here talks to a service or a network.
#include <QAbstractButton>
#include <QApplication>
#include <QDir>
#include <QGridLayout>
#include <QLabel>
#include <QMessageBox>
#include <QRadioButton>
#include <QTemporaryDir>
#include <QTabWidget>
#include <QWizard>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "config/KelmConfig.h"
#include "core/Text.h"
#include "desktop/Desktop.h"
#include "desktop/DesktopContext.h"
#include "desktop/FeedbackDialogs.h"
#include "desktop/Icons.h"
#include "desktop/LinkRequests.h"
#include "desktop/LinkWizard.h"
#include "desktop/MainWindow.h"
#include "desktop/SetupWizard.h"
#include "desktop/Strings.h"
#include "desktop/TrustDialogs.h"
#include "device/KeyManager.h"
#include "protocol/ZmqSocket.h"
#include "service/DeviceIdentity.h"
#include "store/ContentProvider.h"
#include "store/ContentResolver.h"
#include "store/ContentValues.h"
#include "store/Uri.h"

namespace {

using namespace morvex;

// Trust requests that go nowhere: the dialogs are only looked at.
class NoTrustActions final : public desktop::ITrustActions {
 public:
  void Offer(const std::string&, int) override {}
  void Accept(const std::string&) override {}
  void Refuse(const std::string&) override {}
  void EndTrust(const std::string&) override {}
};

void AddDevice(const char* uuid, const char* name, int type, bool trusted, bool online) {
  store::CContentValues row;
  row.PutString("uuid", uuid).PutString("name", name).PutInt("type", type).PutInt("trust", trusted ? 1 : 0);
  row.PutInt("online", online ? 1 : 0).PutString("route_uri", std::string("tcp://192.168.1.") +
                                                                  std::to_string(10 + type) + ":9527");
  row.PutString("pub_uri", "tcp://192.168.1.10:9526");
  store::CContentResolver::Instance().Insert(store::uris::Device(), row, store::kConflictNone);
}

class Shooter {
 public:
  explicit Shooter(QString dir) : dir_(std::move(dir)) {}
  void Shoot(QWidget& widget, const QString& name) {
    widget.show();
    widget.raise();
    // Layouts and fonts settle over a few turns of the event loop.
    for (int i = 0; i < 5; ++i) QApplication::processEvents();
    const QString path = dir_ + "/" + name + ".png";
    if (!widget.grab().save(path)) {
      std::fprintf(stderr, "could not write %s\n", qPrintable(path));
      failed_ = true;
    }
    ++count_;
  }
  int Finish() const {
    std::fprintf(stderr, "%d pictures in %s\n", count_, qPrintable(dir_));
    return failed_ ? 1 : 0;
  }

 private:
  QString dir_;
  int count_ = 0;
  bool failed_ = false;
};

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: %s OUTDIR\n", argv[0]);
    return 2;
  }
  core::InitTexts(argv[0]);
  QApplication application(argc, argv);
  core::RestoreTextLocale();
  desktop::LoadQtTexts();
  const QString out = QString::fromLocal8Bit(argv[1]);
  QDir().mkpath(out);
  Shooter shooter(out);

  // A scratch profile: this device and four others of every kind and state.
  QTemporaryDir metadir;
  if (!metadir.isValid() || !store::InitContentFramework(metadir.path().toStdString())) {
    std::fprintf(stderr, "no scratch profile\n");
    return 1;
  }
  {
    config::CKelmConfigManager working;
    working.SetDeviceUuid("00000000-0000-4000-8000-000000000001");
    working.SetDeviceName("workstation");
    working.SetToken("correct horse battery staple");
    service::CreateIdentity(working);
  }
  AddDevice("00000000-0000-4000-8000-000000000002", "living-room", 1, true, true);
  AddDevice("00000000-0000-4000-8000-000000000003", "laptop", 2, false, true);
  AddDevice("00000000-0000-4000-8000-000000000004", "phone", 3, true, false);
  AddDevice("00000000-0000-4000-8000-000000000005", "old-pc", 0, false, false);

  config::CKelmConfigManager config;
  config.Load();
  device::CKeyManager keys(config.Snapshot()->privateKey);
  platform::MessageLoop loop;
  protocol::ZmqContext zmq;
  const desktop::DesktopContext context{loop, config, keys, zmq, [] { return false; },
                                        metadir.path().toStdString() + "/Morvex"};
  {
    desktop::MainWindow window(context);
    window.resize(720, 480);
    auto* tabs = window.findChild<QTabWidget*>();
    for (int i = 0; tabs && i < tabs->count(); ++i) {
      tabs->setCurrentIndex(i);
      shooter.Shoot(window, QString("main-%1").arg(i + 1));
    }

    NoTrustActions actions;
    const desktop::TrustPeer peer{2, "00000000-0000-4000-8000-000000000002", "living-room", 1};
    desktop::TrustWaitingDialog waiting(&window, loop, actions, peer);
    waiting.Tick();
    shooter.Shoot(waiting, "trust-waiting");
    waiting.hide();
    desktop::TrustConfirmDialog confirm(&window, loop, actions, peer, 30);
    shooter.Shoot(confirm, "trust-confirm");
    confirm.hide();

    desktop::FeedbackDialog feedback(&window, {});
    shooter.Shoot(feedback, "feedback");
    feedback.hide();
    desktop::FeedbackReminder reminder(&window, {}, {});
    shooter.Shoot(reminder, "feedback-reminder");
    reminder.hide();
    desktop::AboutDialog about(&window, "0.1.0.0", "https://morvex.example.org", "mailto:support@morvex.example.org");
    shooter.Shoot(about, "about");
    about.hide();

    // The link wizard: its first page, then the new sync folder's.
    desktop::PeerLinkRequests requests(context);
    desktop::LinkWizard link(context, requests, &window);
    shooter.Shoot(link, "link-wizard-1");
    link.next();
    shooter.Shoot(link, "link-wizard-2");
    link.hide();

    QMessageBox question(QMessageBox::Question, QString::fromUtf8(desktop::Text(107)),
                         QString::fromStdString(desktop::Printf(core::Tr(desktop::Str(162)), "living-room")),
                         QMessageBox::Yes | QMessageBox::No, &window);
    shooter.Shoot(question, "end-trust-question");
    question.hide();
  }

  // Every picture the windows use, with its number.
  {
    QWidget sheet;
    auto* grid = new QGridLayout(&sheet);
    const int numbers[] = {130, 131, 132, 133, 134, 151, 147, 160, 162, 185, 187, 189, 137, 138, 139, 140, 141,
                           142, 143, 144, 145, 146, 168, 169, 170, 171, 172, 173, 174, 175, 176, 177};
    int cell = 0;
    for (int number : numbers) {
      auto* picture = new QLabel(&sheet);
      picture->setPixmap(desktop::Icon(number).pixmap(48, 48));
      grid->addWidget(picture, (cell / 8) * 2, cell % 8, Qt::AlignCenter);
      grid->addWidget(new QLabel(QString::number(number), &sheet), (cell / 8) * 2 + 1, cell % 8, Qt::AlignCenter);
      ++cell;
    }
    shooter.Shoot(sheet, "pictures");
  }

  // The setup wizard, page by page, the custom way so that every page shows.
  desktop::SetupAnswers defaults = desktop::WizardDefaults(std::string("workstation"));
  defaults.password = "correct horse battery staple";
  desktop::SetupWizard wizard(defaults);
  wizard.show();
  for (QRadioButton* radio : wizard.findChildren<QRadioButton*>()) {
    if (radio->objectName() == "custom") radio->setChecked(true);
  }
  for (int page = 1; page <= 4; ++page) {
    shooter.Shoot(wizard, QString("wizard-%1").arg(page));
    wizard.next();
  }
  wizard.hide();
  store::ShutdownContentFramework();
  return shooter.Finish();
}
