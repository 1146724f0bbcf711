// The application's side of a TWAIN session: its states, and where each transferred image
// goes. The main frame's TWAIN session (twain_session.cpp) asks a factory for a new acquired
// image whenever a transfer starts; the image document provides it (a new document through
// the document template, marked acquiring), and tests provide recording ones.
#pragma once

#include "datasource/ds_twain.h"
#include "twain.h"

#include <QString>

#include <functional>
#include <memory>

namespace orvax::app {

// The states of a TWAIN session, numbered as the standard numbers them. The application's
// session steps through the first five; while the source transfers (its states 6 and 7)
// the session stays enabled and the main frame's InTransfer() says that a transfer runs.
enum class TwainState : int {
  kPreSession = 1,      // no manager loaded
  kManagerLoaded = 2,   // TWAIN_32.DLL loaded, not opened
  kManagerOpen = 3,     // the manager open with the main frame as parent
  kSourceOpen = 4,      // the scanner's source open; capabilities are negotiated here
  kSourceEnabled = 5,   // the source's own window shown; images may come
  kTransferReady = 6,   // the source has images pending
  kTransferring = 7,    // an image is being transferred
};

class CAcquiredImage {
 public:
  virtual ~CAcquiredImage() = default;
  // One strip of a memory transfer, already checked to lie inside the image and inside its
  // buffer, CMYK already inverted back. False when the strip was refused.
  virtual bool OnMemoryStrip(const twain::TW_IMAGEINFO& info, const twain::TW_IMAGEMEMXFER& strip) = 0;
  // A native transfer's device-independent bitmap of BYTES bytes. False when refused.
  virtual bool OnNativeTransfer(const void* dib, size_t bytes) = 0;
  // The transfer completed: acquiring cleared, views redrawn, modified.
  virtual void Complete() = 0;
  // The automatic save the source asked for; true when saved, PATH the file written or tried.
  virtual bool AutoSave(const ds::AutoSaveRequest& request, QString* path) = 0;
  // Saved or abandoned: the modified mark cleared and the document's windows closed.
  virtual void Close() = 0;
};

// Makes the acquired image for a transfer; null when no document could be created.
using AcquisitionFactory = std::function<std::unique_ptr<CAcquiredImage>()>;

class CScanApp;
// The application's factory: a new image document for each acquired image.
AcquisitionFactory DocumentAcquisition(CScanApp& app);

// Whether PIXELTYPE at BITS is one the application takes (1-bit black and white, 8- and
// 16-bit grey and RGB, 8-bit CMYK, 16-bit HSL). Pixel types outside that list are not
// checked here.
bool AllowedPair(int pixelType, int bits);
// Whether TYPE is one of the pixel types of the allowed pairs.
bool KnownPixelType(int type);

// Checks a strip the source reported against the image and the buffer it was given: it
// must lie inside the image and fit the buffer. False for a strip that does not.
bool StripFits(const twain::TW_IMAGEINFO& info, const twain::TW_IMAGEMEMXFER& strip, size_t bufferBytes);

}  // namespace orvax::app
