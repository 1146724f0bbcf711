// The program's pictures: toolbar, menu, window and application icons. Each is taken from
// the desktop's icon theme by its freedesktop name when the theme has it, else from the
// scalable pictures built into the program, so that they are sharp at any scale factor.
#pragma once

#include <QIcon>

namespace orvax::app {

// The theme's icon NAME, or the built-in picture of that name.
QIcon ThemeIcon(const char* name);
// The application's own icon ("orvax-scan", installed into the hicolor theme).
QIcon AppIcon();
// The name of the built-in picture for NAME (":/icons/NAME.svg").
QString BuiltInIconPath(const char* name);

}  // namespace orvax::app
