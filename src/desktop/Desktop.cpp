#include "desktop/Desktop.h"

#include <xcb/xcb.h>

#include <QApplication>
#include <QLibraryInfo>
#include <QLocale>
#include <QMessageBox>
#include <QTranslator>
#include <cstdlib>

#include "aux/UpdateTexts.h"
#include "desktop/MainWindow.h"
#include "desktop/Strings.h"

namespace morvex::desktop {

bool DisplayReachable() {
  const char* platform = std::getenv("QT_QPA_PLATFORM");
  if (platform && *platform) return true;
  const char* display = std::getenv("DISPLAY");
  if (!display || !*display) return false;
  // Qt ends the process when its display cannot be opened; asking first
  // lets the service run headless instead.
  xcb_connection_t* connection = xcb_connect(display, nullptr);
  const bool reachable = connection && xcb_connection_has_error(connection) == 0;
  if (connection) xcb_disconnect(connection);
  return reachable;
}

void LoadQtTexts() {
  // Owned by the application (its child), which it serves until the end.
  auto* translator = new QTranslator(QCoreApplication::instance());
  if (translator->load(QLocale::system(), QStringLiteral("qtbase"), QStringLiteral("_"),
                       QLibraryInfo::path(QLibraryInfo::TranslationsPath))) {
    QCoreApplication::installTranslator(translator);
  }
}

bool AskToUpdate(const std::string& running, const std::string& offered) {
  return QMessageBox::question(nullptr, QString::fromUtf8(core::Tr(aux::text::kUpdateQuestionCaption)),
                               QString::fromStdString(Printf(core::Tr(aux::text::kUpdateQuestion), running.c_str(),
                                                             offered.c_str()))) == QMessageBox::Yes;
}

void RunDesktop(const DesktopContext& context) {
  QApplication::setQuitOnLastWindowClosed(false);
  MainWindow window(context);
  window.Start();
  QApplication::exec();
}

}  // namespace morvex::desktop
