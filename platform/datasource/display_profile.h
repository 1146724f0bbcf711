// The colour profile the desktop publishes for the display. On X11 that is the _ICC_PROFILE
// property of the default screen's root window, which colord and colour-managed programs set
// (ICC Profiles in X). The bytes are checked and kept as a file in the user's cache folder,
// since profiles are passed on by path.
#pragma once

#include <QByteArray>
#include <QString>

namespace orvax::ds {

// The path of the display's profile, or empty when the desktop publishes none (no X
// display, no libxcb, no property). A property that is not an ICC profile is ignored with a
// note on standard error.
QString DesktopDisplayProfile();

// True when the bytes hold an ICC profile: a whole header with the "acsp" signature, a
// declared size within the bytes and a tag table inside them. Otherwise `why` says what is
// wrong.
bool IsIccProfile(const QByteArray& bytes, QString* why);

}  // namespace orvax::ds
