#include "app_icons.h"

#include <QFile>

// The resources live in the application's static library: nothing would pull them into
// the program without this call.
static void InitIconResources() { Q_INIT_RESOURCE(icons); }

namespace orvax::app {

QString BuiltInIconPath(const char* name) {
  static const bool initialised = (InitIconResources(), true);
  (void)initialised;
  return QStringLiteral(":/icons/%1.svg").arg(QLatin1String(name));
}

QIcon ThemeIcon(const char* name) {
  const QString path = BuiltInIconPath(name);
  const QIcon builtIn = QFile::exists(path) ? QIcon(path) : QIcon();
  return QIcon::fromTheme(QLatin1String(name), builtIn);
}

QIcon AppIcon() { return ThemeIcon("orvax-scan"); }

}  // namespace orvax::app
