// Larkspur: finds the film scanners with the slide-feeder adapter and moves their feeders.
#include "feeder_dialog.h"

#include <QApplication>
#include <QCommandLineParser>

int main(int argc, char** argv) {
  QApplication app(argc, argv);
  QApplication::setApplicationName(QStringLiteral("Larkspur"));
  QApplication::setApplicationVersion(QStringLiteral(ORVAX_VERSION));
  QCommandLineParser parser;
  parser.setApplicationDescription(
      QStringLiteral("Finds the film scanners that have the slide-feeder adapter fitted and moves the feeder of "
                     "the chosen one."));
  parser.addHelpOption();
  parser.addVersionOption();
  parser.process(app);
  larkspur::FeederDialog dialog;
  if (!dialog.Start()) return 1;
  dialog.exec();
  return 0;
}
