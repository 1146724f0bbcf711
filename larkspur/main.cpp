// Larkspur: finds the film scanners with the slide-feeder adapter and moves their feeders.
#include "feeder_dialog.h"

#include <QApplication>

int main(int argc, char** argv) {
  QApplication app(argc, argv);
  larkspur::FeederDialog dialog;
  if (!dialog.Start()) return 1;
  dialog.exec();
  return 0;
}
