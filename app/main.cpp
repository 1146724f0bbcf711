// Orvax Scan: the film scanner's image application.
#include "scan_app.h"

#include <QApplication>
#include <QCommandLineParser>

int main(int argc, char** argv) {
  QApplication qapp(argc, argv);
  QApplication::setApplicationName(QStringLiteral("Orvax Scan"));
  QApplication::setApplicationVersion(QStringLiteral(ORVAX_VERSION));
  // --help and --version answer and exit; everything else named is a file to open (a file
  // whose name starts with "-" follows "--").
  QCommandLineParser parser;
  parser.setApplicationDescription(
      QStringLiteral("Scan film, then view, turn, print and save the images. Without files, the scanner's data "
                     "source opens at once; with files, they open as documents (in the running Orvax Scan, if "
                     "there is one)."));
  parser.addHelpOption();
  parser.addVersionOption();
  parser.addPositionalArgument(QStringLiteral("files"), QStringLiteral("Image files to open."),
                               QStringLiteral("[FILE...]"));
  parser.process(qapp);
  const QStringList args = parser.positionalArguments();
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
