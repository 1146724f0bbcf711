// How a SANE device is set up for a film type: a film scanner's negative adapter (a `source`
// value), or the film-type option of its transparency unit, reads negatives in the device;
// a device with neither scans the negative as it lies and the data source reads it.
#pragma once

#include "frames.h"

#include <QString>
#include <QStringList>

namespace orvax::ds {

struct FilmSetup {
  QString source;    // the `source` value to set; empty: the device's source stays
  QString filmType;  // the `film-type` value to set; empty: none
  bool deviceReadsNegative = false;  // the device inverts the negative itself
};

// The setup for film type TYPE of a device whose `source` option offers SOURCES (CURRENT
// chosen now) and whose `film-type` option offers FILMTYPES (either list may be empty).
// Positives keep the source the person chose (a flatbed scans prints, a transparency unit
// slides), unless it is a negative adapter.
FilmSetup ChooseFilmSetup(const QStringList& sources, const QString& current, const QStringList& filmTypes, FilmType type);

}  // namespace orvax::ds
