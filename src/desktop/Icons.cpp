#include "desktop/Icons.h"

#include <QFile>

namespace morvex::desktop {

QString IconPath(int resource) { return QStringLiteral(":/icons/%1.svg").arg(resource); }

QIcon Icon(int resource) {
  const QString path = IconPath(resource);
  if (!QFile::exists(path)) return {};
  return QIcon(path);
}

}  // namespace morvex::desktop
