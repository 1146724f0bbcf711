// Orvax Scan: the film scanner's image application.
#include "scan_app.h"

#include <QApplication>

int main(int argc, char** argv) {
  QApplication qapp(argc, argv);
  QApplication::setApplicationName(QStringLiteral("Orvax Scan"));
  QStringList args = QApplication::arguments();
  args.removeFirst();
  orvax::app::CScanApp app;
  if (!app.InitInstance(args)) {
    app.ExitInstance();
    return app.HandedOver() ? 0 : 1;
  }
  QObject::connect(&qapp, &QApplication::lastWindowClosed, &qapp, &QApplication::quit);
  const int result = QApplication::exec();
  app.ExitInstance();
  return result;
}
