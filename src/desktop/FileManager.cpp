#include "desktop/FileManager.h"

#include <glog/logging.h>

#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QProcess>
#include <QStringList>
#include <QUrl>

namespace morvex::desktop {

namespace {

constexpr const char* kService = "org.freedesktop.FileManager1";
constexpr const char* kObjectPath = "/org/freedesktop/FileManager1";

// Calls `method` (ShowItems, ShowFolders) with one URI; false when no file
// manager owns the interface's name. The call is not waited for: a file
// manager that is slow to start must not stall the window.
bool CallFileManager(const char* method, const QString& uri) {
  QDBusConnection bus = QDBusConnection::sessionBus();
  if (!bus.isConnected() || !bus.interface()) return false;
  if (!bus.interface()->isServiceRegistered(QString::fromLatin1(kService)).value()) return false;
  QDBusMessage call = QDBusMessage::createMethodCall(QString::fromLatin1(kService), QString::fromLatin1(kObjectPath),
                                                     QString::fromLatin1(kService), QString::fromLatin1(method));
  call << QStringList{uri} << QString();
  return bus.send(call);
}

bool XdgOpen(const std::string& folder) {
  const bool started = QProcess::startDetached(QStringLiteral("xdg-open"), {QString::fromStdString(folder)});
  if (!started) LOG(WARNING) << "could not start xdg-open for " << folder;
  return started;
}

}  // namespace

QString FileUri(const std::string& path) {
  return QString::fromLatin1(QUrl::fromLocalFile(QString::fromStdString(path)).toEncoded());
}

std::string ContainingFolder(const std::string& path) {
  const size_t slash = path.find_last_of('/');
  if (slash == std::string::npos) return ".";
  if (slash == 0) return "/";
  return path.substr(0, slash);
}

bool ShowInFileManager(const std::string& path) {
  if (CallFileManager("ShowItems", FileUri(path))) return true;
  return XdgOpen(ContainingFolder(path));
}

bool OpenFolderInFileManager(const std::string& path) {
  if (CallFileManager("ShowFolders", FileUri(path))) return true;
  return XdgOpen(path);
}

}  // namespace morvex::desktop
