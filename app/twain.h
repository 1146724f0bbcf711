// The TWAIN records and codes the application uses: the project's TWAIN header, with the
// standard's layouts and 2-byte packing.
#pragma once

#include "twain/twain.h"
