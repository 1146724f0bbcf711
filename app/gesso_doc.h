// The image document: one TesseraClass image, opened from a file, filled strip by strip by
// a scan's memory transfer or at once by a native transfer. It carries the transform and
// colour-space commands and saving.
#pragma once

#include "framework/document.h"
#include "twain.h"

#include <tessera/tessera.h>

#include <QList>
#include <QPoint>
#include <QUndoStack>

#include <cstddef>
#include <functional>
#include <memory>

class QMenu;

namespace orvax::app {

class CGessoDoc : public framework::CDocument {
  Q_OBJECT
 public:
  CGessoDoc();
  ~CGessoDoc() override;

  TesseraClass* Image() const { return image_.get(); }
  // Takes IMAGE as the document's image (a test's, or a conversion's).
  void SetImage(std::unique_ptr<TesseraClass> image);
  bool IsAcquiring() const { return acquiring_; }
  void SetAcquiring(bool on) { acquiring_ = on; }
  // The image's colour-space code, -1 without an image.
  int ColorSpace() const;

  bool OnOpenDocument(const QString& path) override;
  // The message number for an open that failed with RESULT.
  static int OpenFailureMessage(long result, bool cms);
  // The message number for a save that failed with RESULT.
  static int SaveFailureMessage(long result);

  // Applies the data source's monitor gamma to the display of a colour-managed image (the
  // plain pipeline shows the data through the library's own gamma tables); with REDRAW the
  // views are updated with hint 4.
  void ApplyMonitorGamma(bool redraw);
  // Brings the image's display in line with the colour preferences as they are now:
  // colour management on or off (CMS), the profiles the image library holds, and the
  // monitor gamma; the views are redrawn. 0, or the image library's status: TES_ERR_NOT_PERMITTED when the
  // image had to keep its kind (its colour space cannot be shown the other way; that takes
  // effect when the file is opened again), another code when the new display could not be
  // built (the image is shown as before).
  long ApplyColourPreferences(bool cms);
  // The 256-entry table for monitor gamma G, and its mode (3, or 2 for no gamma).
  static void GammaTable(double g, unsigned char table[256], short* mode);

  // ---- Scanned data.
  // One strip of a memory transfer, with the image's description. False when the image
  // library refused the strip.
  bool OnMemoryStrip(const twain::TW_IMAGEINFO& info, const twain::TW_IMAGEMEMXFER& strip);
  // The image described by a device-independent bitmap of BYTES bytes (header, masks,
  // palette, pixels), as a native transfer delivers it. False when the bitmap is
  // malformed, of an unsupported kind, or refused by the image library.
  bool OnNativeTransfer(const void* dib, size_t bytes);
  // Strip bookkeeping, for the transfer's owner and for tests.
  int CurrentPlane() const { return plane_; }
  // The constructor flags of the image when colour-managed: 13 for a scan's memory
  // transfer, 15 otherwise.
  short ManagedFlags() const { return managedFlags_; }
  bool FirstStripPending() const { return firstStrip_; }

  // ---- Document Color Space menu.
  // The codes the menu offers, in order, for colour-space code CURRENT (-1: no image).
  static QList<int> ColorSpaceMenuCodes(int current, bool cms);
  static QString ColorSpaceName(int code);
  // Deletes MENU's items and offers the current choices, with ids from 37632.
  void BuildColorSpaceMenu(QMenu* menu);
  // Changes to the code of menu item ID (37632 upward); does nothing when it is current.
  void OnColorSpaceItem(int id);

  // ---- Saving.
  // The save command: PATH or, when empty, a name asked for; REPLACE makes it the document's
  // path. Every failure is reported to the user.
  bool DoSave(const QString& path, bool replace);
  bool DoFileSave() override;
  bool OnSaveDocument(const QString& path) override;
  // The format code and level for a path's extension and option index; false when the
  // extension is none of .jpg, .tif, .bmp, .fpx.
  static bool FileSpecFor(const QString& path, int optionIndex, uint32_t* format, int32_t* level);

  // The automatic save a scan may ask for: FORMATCODE 0 TIFF, 2 BMP, 4 JPEG, 129 FlashPix,
  // QUALITY as the data source gives it, into FOLDER with STEM. The path written (or tried)
  // and whether it was saved go back to the data source.
  struct AutoSaveResult {
    bool saved = false;
    QString path;
    long status = 0;  // the image library's status of the save (0 when none was tried)
  };
  AutoSaveResult AutoSave(int formatCode, int quality, const QString& folder, const QString& stem);

  // Writes the image to PATH through a temporary file in the same folder, renamed over PATH
  // only when the write succeeded (atomic_save.h): a failed save leaves an existing file as
  // it was. ERROR, when given, receives the system's error number behind a failure (0 when
  // none).
  long SaveAtomically(const QString& path, uint32_t format, int32_t option, int* error = nullptr);

  bool CanCloseFrame(framework::CMDIChildWnd* frame) override;
  bool OnCommand(int id) override;
  bool OnUpdateCommand(framework::CCmdUI& ui) override;

  // ---- Undo and redo of turns and mirrors. Each one is undone by its inverse (a turn the
  // other way, the same mirror again), so the pixels come back exactly and nothing is
  // copied. The history knows the saved state: undoing or redoing back to it clears the
  // modified mark. Any other change (a colour-space change, a scan) leaves the mark set
  // for good, until the next save.
  void SetModifiedFlag(bool modified = true) override;
  const QUndoStack& UndoHistory() const { return undo_; }
  // The transform command that undoes transform command ID.
  static int InverseTransform(int id);

 private:
  // Runs transform command ID on the image and tells the views, without touching the
  // history or the modified mark.
  void ApplyTransform(int id);
  void Transform(int id);

  std::unique_ptr<TesseraClass> image_;
  bool acquiring_ = false;
  // Memory transfers.
  bool firstStrip_ = true;
  short managedFlags_ =
      TES_FLAG_COLOR_MANAGED | TES_FLAG_DISPLAY_ENGINE | TES_FLAG_PRINT_ENGINE | TES_FLAG_CONVERT_ENGINE;
  QPoint firstOffset_, lastOffset_;
  int plane_ = 1;
  int dirX_ = 1, dirY_ = 1;
  // Document Color Space menu: the code of each item.
  QList<int> menuCodes_;
  QUndoStack undo_;
};

}  // namespace orvax::app
