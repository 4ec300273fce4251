#include "desktop/RecentChanges.h"

#include <QAction>

#include "desktop/Strings.h"
#include "index/RecentFiles.h"

namespace morvex::desktop {

QString RecentItemText(const std::string& path) {
  const size_t slash = path.find_last_of('/');
  QString name = QString::fromStdString(slash == std::string::npos ? path : path.substr(slash + 1));
  return name.replace(QLatin1Char('&'), QStringLiteral("&&"));
}

RecentChanges::RecentChanges(Opener open, QObject* parent) : QObject(parent), open_(std::move(open)) {}

void RecentChanges::Fill(QMenu& submenu) {
  submenu.clear();
  paths_ = index::RecentFiles(floor_, kLimit);
  for (size_t k = 0; k < paths_.size(); ++k) {
    QAction* item = submenu.addAction(RecentItemText(paths_[k]));
    // By position, read when chosen: the list is the one of this opening.
    connect(item, &QAction::triggered, this, [this, k] {
      if (k < paths_.size()) open_(paths_[k]);
    });
  }
  if (paths_.empty()) submenu.addAction(QString::fromUtf8(Text(102)))->setEnabled(false);
  submenu.addSeparator();
  QAction* clear = submenu.addAction(QString::fromUtf8(core::Tr(text::kClearHistory)));
  clear->setEnabled(!paths_.empty());
  connect(clear, &QAction::triggered, this, [this] { AskToClear(nullptr); });
}

void RecentChanges::AskToClear(QWidget* parent) {
  auto* question = new QMessageBox(QMessageBox::Question, QString::fromUtf8(Text(107)),
                                   QString::fromUtf8(Text(152)),
                                   QMessageBox::Yes | QMessageBox::No | QMessageBox::Cancel, parent);
  question->setAttribute(Qt::WA_DeleteOnClose);
  connect(question, &QMessageBox::finished, this, [this, question, parent](int) {
    if (!Answer(question->standardButton(question->clickedButton()))) return;
    auto* done = new QMessageBox(QMessageBox::Information, QString::fromUtf8(Text(107)),
                                 QString::fromUtf8(Text(154)), QMessageBox::Ok, parent);
    done->setAttribute(Qt::WA_DeleteOnClose);
    done->open();
  });
  question->open();
}

bool RecentChanges::Answer(QMessageBox::StandardButton answer) {
  if (answer != QMessageBox::Yes) return false;
  floor_ = index::LargestUsn();
  paths_.clear();
  return true;
}

}  // namespace morvex::desktop
