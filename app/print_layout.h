// The arithmetic of printing one image on one page: the printer's capabilities, the warning
// the print dialog shows for a chosen resolution, and where the image and its caption land
// on the page, all in the printer's device pixels.
#pragma once

#include <optional>

namespace orvax::app {

// What the print dialog and the page layout read of a printer.
struct PrinterCaps {
  int horzRes = 0;     // printable width in device pixels
  int vertRes = 0;     // printable height in device pixels
  int logPixelsX = 0;  // device pixels per inch, across
  int logPixelsY = 0;  // device pixels per inch, down
};

// The warning for printing an image of WIDTH x HEIGHT pixels at RESOLUTION dots per inch:
// 0 for none, IDS_PRINT_WARN_NOFIT (16400) when the image would not fit on the page,
// IDS_PRINT_WARN_EXCEEDS (16401) when the resolution is finer than the printer's.
// Capabilities that are missing or zero give no warning.
int PrintWarningFor(const std::optional<PrinterCaps>& caps, int width, int height, long resolution);

// Where things go on the page.
struct PageLayout {
  int usableHeight = 0;  // the page height less room for the caption
  int left = 0, top = 0;                    // the image's top-left
  int outputWidth = 0, outputHeight = 0;    // the image's extent
  int captionX = 0;                         // the caption's horizontal centre
  int captionTop = 0;                       // the caption's top
};

// The layout of an image of WIDTH x HEIGHT pixels with a caption TEXTHEIGHT pixels high:
// fitted to the page, or at RESOLUTION dots per inch. Nothing when the image is empty or
// the resolution is not positive.
std::optional<PageLayout> ComputePageLayout(const PrinterCaps& caps, int width, int height, int textHeight,
                                            bool fitToPage, long resolution);

}  // namespace orvax::app
