#include "gesso_doc.h"

#include "atomic_save.h"
#include "commands.h"
#include "datasource/ds_twain.h"
#include "dlg_file_save.h"
#include "framework/child_frame.h"
#include "framework/doc_manager.h"
#include "framework/win_app.h"
#include "registry_settings.h"
#include "scan_app.h"
#include "status_text.h"
#include "string_table.h"

#include <tessera/dib.h>

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QMenu>
#include <QRegularExpression>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace orvax::app {

using framework::AfxMessageBox;
using framework::MB_ICONEXCLAMATION;
using framework::MB_ICONQUESTION;
using framework::MB_OK;
using framework::MB_YESNO;

namespace {

// A colour-managed object with every engine: display, print and conversions.
constexpr short kAllEngines = TES_FLAG_COLOR_MANAGED | TES_FLAG_DISPLAY_ENGINE | TES_FLAG_PRINT_ENGINE |
                              TES_FLAG_CONVERT_ENGINE;

long Progress(long total, long done, void*) {
  if (CScanApp* app = CScanApp::Instance(); app != nullptr && total > 0)
    app->SetProgress(static_cast<double>(done) / static_cast<double>(total));
  return 0;
}

void ResetProgress() {
  if (CScanApp* app = CScanApp::Instance()) app->SetProgress(0.0);
}

bool UseCMS() {
  CScanApp* app = CScanApp::Instance();
  return app != nullptr && app->UseCMS();
}

const CRegistrySettings& Registry() {
  static const CRegistrySettings fallback;
  return CScanApp::Instance() != nullptr ? CScanApp::Instance()->Registry() : fallback;
}

class WaitCursor {
 public:
  WaitCursor() { QApplication::setOverrideCursor(Qt::WaitCursor); }
  ~WaitCursor() { QApplication::restoreOverrideCursor(); }
};

}  // namespace

namespace {

// One turn or mirror in the undo history: redone by running it, undone by its inverse.
class CTransformCommand : public QUndoCommand {
 public:
  CTransformCommand(int id, std::function<void(int)> apply) : id_(id), apply_(std::move(apply)) {}
  void redo() override { apply_(id_); }
  void undo() override { apply_(CGessoDoc::InverseTransform(id_)); }

 private:
  int id_;
  std::function<void(int)> apply_;
};

}  // namespace

CGessoDoc::CGessoDoc() {
  // The history's saved state is the document's unmodified state.
  connect(&undo_, &QUndoStack::cleanChanged, this, [this](bool clean) { framework::CDocument::SetModifiedFlag(!clean); });
}

CGessoDoc::~CGessoDoc() = default;

void CGessoDoc::SetImage(std::unique_ptr<TesseraClass> image) {
  // The history belongs to the image it was made on.
  undo_.clear();
  image_ = std::move(image);
}

void CGessoDoc::SetModifiedFlag(bool modified) {
  // Saved (or opened, or discarded): this is the state undo and redo come back to. Changed
  // outside the history: no state in the history is the saved one any more.
  if (modified) undo_.resetClean();
  else undo_.setClean();
  framework::CDocument::SetModifiedFlag(modified);
}

int CGessoDoc::ColorSpace() const {
  short cs = -1;
  if (!image_ || image_->GetColorSpace(&cs) != 0) return -1;
  return cs;
}

bool CGessoDoc::OnOpenDocument(const QString& path) {
  QApplication::setOverrideCursor(Qt::WaitCursor);
  SetModifiedFlag(false);
  const bool cms = UseCMS();
  auto image = std::make_unique<TesseraClass>(static_cast<short>(cms ? kAllEngines : 0), short{TES_CS_RGB24});
  const QByteArray native = QFile::encodeName(path);
  char* name = const_cast<char*>(native.constData());
  const long result = image->OpenImage(name, TesseraClass::m_s_EmptyTransform, &Progress, this);
  ResetProgress();
  acquiring_ = false;
  QApplication::restoreOverrideCursor();
  if (result == 0) {
    image_ = std::move(image);
    ApplyMonitorGamma(false);
    return true;
  }
  AfxMessageBox(FormatString1(OpenFailureMessage(result, cms), path), MB_OK | MB_ICONEXCLAMATION,
                FailureDetail(FileAction::Open, result, path, 0, cms));
  return false;
}

int CGessoDoc::OpenFailureMessage(long result, bool cms) {
  if (result == 1100 || result == 1101) return IDS_ERR_LOADFILE;
  if (result == 1416) return IDS_ERR_TIFFLZW;
  if (result == 1502) return IDS_ERR_BITDEPTH;
  if (result == 1012 && !cms) return IDS_ERR_CMSOFF;
  return IDS_ERR_READFILE;
}

int CGessoDoc::SaveFailureMessage(long result) {
  if (result == 1200 || result == 1201) return IDS_ERR_SAVEFILE;
  if (result == 1204) return IDS_ERR_DISKFULL;
  return IDS_ERR_WRITEFILE;
}

void CGessoDoc::GammaTable(double g, unsigned char table[256], short* mode) {
  double e = 1.0 / g;
  *mode = 3;
  if (!(e > 0.0) || !std::isfinite(e)) {
    e = 1.0;
    *mode = 2;
  }
  for (int i = 0; i < 256; ++i)
    table[i] = static_cast<unsigned char>(std::floor(0.5 + 255.0 * std::pow(i / 255.0, e)));
}

void CGessoDoc::ApplyMonitorGamma(bool redraw) {
  CScanApp* app = CScanApp::Instance();
  // What counts is how this image is shown, not the setting now: an image opened while
  // colour management was off is plain, and a gamma curve alone would wash it out.
  if (app == nullptr || !image_ || !image_->IsColorManaged()) return;
  unsigned char table[256];
  short mode = 3;
  GammaTable(app->MonitorGamma(), table, &mode);
  for (short channel = 0; channel < 3; ++channel) image_->SetLUT(table, channel, mode);
  if (redraw) UpdateAllViews(nullptr, 4);
}

long CGessoDoc::ApplyColourPreferences(bool cms) {
  if (!image_) return 0;
  // The display is rebuilt even when the kind stays, so that new profiles take effect.
  const long status = image_->ResetDisplayPipeline(cms ? managedFlags_ : short{0});
  if (status == TES_ERR_NOT_PERMITTED && image_->IsColorManaged())
    image_->ResetDisplayPipeline(managedFlags_);  // the kind stays; the profiles still change
  ApplyMonitorGamma(false);
  UpdateAllViews(nullptr, 4);
  return status;
}

// ---------------------------------------------------------------------------------------
// Scanned data.

namespace {
bool Bilevel(const twain::TW_IMAGEINFO& info) { return info.PixelType == twain::TWPT_BW && info.BitsPerSample[0] == 1; }
}  // namespace

bool CGessoDoc::OnMemoryStrip(const twain::TW_IMAGEINFO& info, const twain::TW_IMAGEMEMXFER& strip) {
  const QPoint offset(static_cast<int>(strip.XOffset), static_cast<int>(strip.YOffset));
  const bool planar = info.Planar != 0;
  const auto directions = [this](const QPoint& from) {
    dirX_ = from.x() != 0 ? -1 : 1;
    dirY_ = from.y() != 0 ? -1 : 1;
  };
  if (firstStrip_ || !image_) {
    tagTes_Image_Desc desc{};
    desc.width = info.ImageWidth;
    desc.height = info.ImageLength;
    const int bits = info.BitsPerSample[0];
    short cs = TES_CS_RGB24;
    if (Bilevel(info))
      cs = TES_CS_GRAY8;  // black and white arrives as grey levels 0 and 255
    else if (bits == 8)
      cs = info.PixelType == twain::TWPT_GRAY   ? TES_CS_GRAY8
           : info.PixelType == twain::TWPT_CMYK ? TES_CS_CMYK32
                                                : TES_CS_RGB24;
    else if (bits > 8)
      cs = info.PixelType == twain::TWPT_GRAY  ? TES_CS_GRAY16
           : info.PixelType == twain::TWPT_RGB ? TES_CS_RGB48
           : info.PixelType == ds::TWPT_HSL    ? TES_CS_LCH48
                                               : TES_CS_RGB24;
    desc.colorSpace = cs;
    for (int i = 0; i < 4; ++i) desc.bitsPerChannel[i] = static_cast<uint16_t>(Bilevel(info) && i == 0 ? 8 : info.BitsPerSample[i]);
    desc.resolution = info.XResolution.Whole + info.XResolution.Frac / 65536.0;
    managedFlags_ = TES_FLAG_COLOR_MANAGED | TES_FLAG_PRINT_ENGINE | TES_FLAG_CONVERT_ENGINE;
    image_ = std::make_unique<TesseraClass>(static_cast<short>(UseCMS() ? managedFlags_ : 0), desc,
                                            TesseraClass::m_s_EmptyTransform);
    firstOffset_ = offset;
    if (planar) {
      plane_ = 1;
      directions(offset);
    }
  } else if (planar) {
    // A strip back at the first offset, or one moving against the travel, starts a plane.
    const bool back = offset == firstOffset_;
    const bool againstY = (dirY_ == 1 && offset.y() < lastOffset_.y()) || (dirY_ == -1 && offset.y() > lastOffset_.y());
    const bool againstX = (dirX_ == 1 && offset.x() < lastOffset_.x()) || (dirX_ == -1 && offset.x() > lastOffset_.x());
    if (back || againstY || againstX) {
      ++plane_;
      directions(offset);
    }
  }
  lastOffset_ = offset;

  tagTes_Tile_Desc tile{};
  tile.rect = {offset.x(), offset.y(), static_cast<int32_t>(strip.Columns), static_cast<int32_t>(strip.Rows)};
  tile.rowBytes = static_cast<int32_t>(strip.BytesPerRow);
  tile.plane = static_cast<uint16_t>(planar ? plane_ : 0);
  const bool handle = (strip.Memory.Flags & twain::TWMF_HANDLE) != 0;
  void* data = handle ? twain::GlobalLock(strip.Memory.TheMem) : strip.Memory.TheMem;
  std::vector<uint8_t> grey;
  if (data != nullptr && Bilevel(info)) {
    // 1 for white, as TWAIN packs black and white from the high bit.
    grey.resize(size_t{strip.Columns} * strip.Rows);
    for (uint32_t y = 0; y < strip.Rows; ++y) {
      const auto* row = static_cast<const uint8_t*>(data) + size_t{y} * strip.BytesPerRow;
      for (uint32_t x = 0; x < strip.Columns; ++x)
        grey[size_t{y} * strip.Columns + x] = (row[x / 8] >> (7 - x % 8)) & 1 ? 255 : 0;
    }
    tile.rowBytes = static_cast<int32_t>(strip.Columns);
    data = grey.data();
  }
  const long status = data != nullptr ? image_->SetData(tile, TesseraClass::m_s_EmptyTransform, data) : 1000L;
  if (handle) twain::GlobalUnlock(strip.Memory.TheMem);

  if (firstStrip_) {
    ApplyMonitorGamma(false);
    UpdateAllViews(nullptr, 1);
    firstStrip_ = false;
  }
  return status == 0;
}

bool CGessoDoc::OnNativeTransfer(const void* dib, size_t bytes) {
  // By the bitmap's real depth: grey palettes give 8-bit grey, anything else 24-bit RGB.
  std::unique_ptr<TesseraClass> image;
  if (tessera::ReadDib(dib, bytes, static_cast<short>(UseCMS() ? kAllEngines : 0), &image) != 0) return false;
  image_ = std::move(image);
  UpdateAllViews(nullptr, 1);
  return true;
}

// ---------------------------------------------------------------------------------------
// Transforms and the Document Color Space menu.

int CGessoDoc::InverseTransform(int id) {
  switch (id) {
    case ID_TRANSFORM_ROTATECW: return ID_TRANSFORM_ROTATECCW;
    case ID_TRANSFORM_ROTATECCW: return ID_TRANSFORM_ROTATECW;
    default: return id;  // every mirror is its own inverse
  }
}

void CGessoDoc::ApplyTransform(int id) {
  if (!image_) return;
  long hint = 0;
  switch (id) {
    case ID_TRANSFORM_ROTATECW: image_->Rotate(90.0), hint = 9; break;
    case ID_TRANSFORM_ROTATECCW: image_->Rotate(270.0), hint = 8; break;
    case ID_TRANSFORM_FLIPH: image_->FlipH(), hint = 6; break;
    case ID_TRANSFORM_FLIPV: image_->FlipV(), hint = 7; break;
    case ID_TRANSFORM_FLIPBOTH: image_->FlipH(), image_->FlipV(), hint = 5; break;
    default: return;
  }
  UpdateAllViews(nullptr, hint);
}

void CGessoDoc::Transform(int id) {
  if (!image_) return;
  // Pushing runs it; the history moving away from the saved state sets the modified mark.
  undo_.push(new CTransformCommand(id, [this](int command) { ApplyTransform(command); }));
  if (!IsModified()) framework::CDocument::SetModifiedFlag(true);
}

QList<int> CGessoDoc::ColorSpaceMenuCodes(int c, bool cms) {
  const bool grey = c == TES_CS_GRAY8 || c == TES_CS_GRAY16;
  QList<int> codes;
  if (grey || !cms) codes << TES_CS_GRAY8 << TES_CS_GRAY16;
  if (!(grey && cms)) codes << TES_CS_RGB24 << TES_CS_RGB48;
  if (!grey && cms) codes << TES_CS_CMYK32 << TES_CS_LCH48;
  return codes;
}

QString CGessoDoc::ColorSpaceName(int code) {
  static const char* const names[] = {"8 bit Grayscale", "16 bit Grayscale", "24 bit RGB", "48 bit RGB",
                                      "32 bit CMYK",     "48 bit Lab",       "48 bit HSL"};
  return code >= 0 && code <= 6 ? QString::fromLatin1(names[code]) : QString();
}

void CGessoDoc::BuildColorSpaceMenu(QMenu* menu) {
  menu->clear();
  const int current = ColorSpace();
  // The image's own kind decides: it may have kept colour management turned off since.
  menuCodes_ = ColorSpaceMenuCodes(current, image_ ? image_->IsColorManaged() : UseCMS());
  for (int i = 0; i < menuCodes_.size(); ++i) {
    QAction* item = menu->addAction(ColorSpaceName(menuCodes_[i]));
    item->setData(ID_DOCCOLORSPACE_FIRST + i);
    item->setCheckable(true);
    item->setChecked(menuCodes_[i] == current);
    item->setEnabled(image_ != nullptr && !acquiring_);
  }
}

void CGessoDoc::OnColorSpaceItem(int id) {
  const int index = id - ID_DOCCOLORSPACE_FIRST;
  if (!image_ || index < 0 || index >= menuCodes_.size()) return;
  const int code = menuCodes_[index];
  if (code == ColorSpace()) return;
  WaitCursor wait;
  image_->SetColorSpace(static_cast<short>(code), nullptr);
  SetModifiedFlag(true);
  ApplyMonitorGamma(true);
  // Without colour management no gamma is applied; the views still show the new data.
  if (!image_->IsColorManaged()) UpdateAllViews(nullptr, 4);
}

// ---------------------------------------------------------------------------------------
// Saving.

bool CGessoDoc::FileSpecFor(const QString& path, int optionIndex, uint32_t* format, int32_t* level) {
  const QString file = QFileInfo(path).fileName();
  const int dot = static_cast<int>(file.lastIndexOf(QLatin1Char('.')));
  if (dot < 0) return false;
  const QString ext = file.mid(dot).toLower();
  *level = 0;
  if (ext == QLatin1String(".jpg")) *format = TES_FILE_JPEG, *level = optionIndex + 1;
  else if (ext == QLatin1String(".tif")) *format = TES_FILE_TIFF;
  else if (ext == QLatin1String(".bmp")) *format = TES_FILE_BMP;
  else if (ext == QLatin1String(".fpx")) {
    if (optionIndex == 0) *format = TES_FILE_FPX;
    else *format = TES_FILE_FPX_JPEG, *level = optionIndex;
  } else {
    return false;
  }
  return true;
}

long CGessoDoc::SaveAtomically(const QString& path, uint32_t format, int32_t option, int* error) {
  int systemError = 0;
  const long status = image_ ? SaveImageAtomically(*image_, path, format, option, &Progress, this, &systemError)
                             : long{TES_ERR_NO_IMAGE};
  if (error != nullptr) *error = status != 0 ? systemError : 0;
  return status;
}

bool CGessoDoc::OnSaveDocument(const QString& path) {
  if (ColorSpace() == TES_CS_LCH48) {
    AfxMessageBox(LoadString(IDS_ERR_HSLSAVE), MB_OK | MB_ICONEXCLAMATION);
    return false;
  }
  uint32_t format = 0;
  int32_t level = 0;
  if (!FileSpecFor(path, CDlgFileSave::s_optionIndex, &format, &level)) {
    AfxMessageBox(LoadString(IDS_ERR_FILETYPE), MB_OK | MB_ICONEXCLAMATION);
    return false;
  }
  unsigned long formats = 0;
  if (image_) image_->GetFormats(&formats);
  if ((format & formats) == 0) {
    if (AfxMessageBox(LoadString(IDS_ASK_OTHERFORMAT), MB_YESNO | MB_ICONQUESTION) == framework::IDYES)
      return DoSave(QString(), true);
    return false;
  }
  int error = 0;
  const long result = SaveAtomically(path, format, level, &error);
  ResetProgress();
  if (result == 0) {
    SetModifiedFlag(false);
    return true;
  }
  AfxMessageBox(FormatString1(SaveFailureMessage(result), path), MB_OK | MB_ICONEXCLAMATION,
                FailureDetail(FileAction::Save, result, path, error));
  return false;
}

bool CGessoDoc::DoSave(const QString& path, bool replace) {
  if (acquiring_) {
    AfxMessageBox(LoadString(IDS_ERR_SAVEACQUIRING), MB_OK | MB_ICONEXCLAMATION);
    return false;
  }
  QString name = path;
  if (name.isEmpty()) {
    name = GetPathName();
    if (replace && name.isEmpty()) {
      // The title up to the first character a file name cannot hold, with the last format.
      name = GetTitle();
      const int cut = static_cast<int>(name.indexOf(QRegularExpression(QStringLiteral("[ #%;/\\\\]"))));
      if (cut >= 0) name.truncate(cut);
      const QString format = GeneralSettings::SaveFormat(Registry());
      if (format.startsWith(QLatin1Char('.'))) name += format;
    }
    unsigned long mask = 0;
    if (image_) image_->GetFormats(&mask);
    if (mask == 0) {
      AfxMessageBox(LoadString(IDS_ERR_HSLSAVE), MB_OK | MB_ICONEXCLAMATION);
      return false;
    }
    CDlgFileSave::s_formatMask = mask;
    framework::CWinApp* app = framework::AfxGetApp();
    if (app == nullptr) return false;
    const QStringList chosen = app->DocManager()->DoPromptFileName(
        name, replace ? AFX_IDS_SAVEFILE : AFX_IDS_SAVEFILECOPY, false, false, GetDocTemplate());
    if (chosen.isEmpty()) return false;
    name = chosen.front();
  }
  const bool existed = QFileInfo::exists(name);
  bool saved;
  {
    WaitCursor wait;
    saved = OnSaveDocument(name);
  }
  if (!saved) {
    // A failed new file goes; an existing one is never touched (saving replaces it only
    // after a complete write).
    if (path.isEmpty() && !existed) QFile::remove(name);
    return false;
  }
  if (replace) SetPathName(name);
  return true;
}

bool CGessoDoc::DoFileSave() { return DoSave(GetPathName(), true); }

CGessoDoc::AutoSaveResult CGessoDoc::AutoSave(int formatCode, int quality, const QString& folder,
                                              const QString& stem) {
  AutoSaveResult result;
  QString ext;
  uint32_t format = 0;
  int32_t level = 0;
  switch (formatCode) {
    case 0:
      ext = QStringLiteral(".tif"), format = 1;
      if (image_ && ColorSpace() == TES_CS_LCH48) image_->SetColorSpace(TES_CS_RGB48, nullptr);
      break;
    case 2: ext = QStringLiteral(".bmp"), format = 8; break;
    case 4: ext = QStringLiteral(".jpg"), format = 4, level = quality; break;
    case 129:
      ext = QStringLiteral(".fpx");
      if (quality == 16) format = 64;
      else format = 128, level = quality - 16;
      break;
    default: return result;
  }
  QString base = folder;
  if (!base.endsWith(QLatin1Char('/')) && !base.endsWith(QLatin1Char('\\'))) base += QLatin1Char('/');
  result.path = base + stem + ext;
  for (int n = 1; QFileInfo::exists(result.path); ++n)
    result.path = base + FormatString1(IDS_AUTOSAVE_PREFIX, QString::number(n)) + stem + ext;
  int error = 0;
  const long status = SaveAtomically(result.path, format, level, &error);
  ResetProgress();
  result.status = status;
  result.saved = status == 0;
  if (result.saved) {
    SetModifiedFlag(false);
  } else {
    // The scan stays open as a document; the person learns that it was not saved, and why.
    AfxMessageBox(FormatString1(SaveFailureMessage(status), result.path), MB_OK | MB_ICONEXCLAMATION,
                  FailureDetail(FileAction::Save, status, result.path, error));
  }
  return result;
}

// ---------------------------------------------------------------------------------------
// Commands.

bool CGessoDoc::CanCloseFrame(framework::CMDIChildWnd* frame) {
  if (acquiring_) {
    AfxMessageBox(LoadString(IDS_ERR_CLOSEACQUIRING), MB_OK | MB_ICONEXCLAMATION);
    return false;
  }
  return framework::CDocument::CanCloseFrame(frame);
}

bool CGessoDoc::OnCommand(int id) {
  switch (id) {
    case ID_TRANSFORM_ROTATECW:
    case ID_TRANSFORM_ROTATECCW:
    case ID_TRANSFORM_FLIPH:
    case ID_TRANSFORM_FLIPV:
    case ID_TRANSFORM_FLIPBOTH: Transform(id); return true;
    case ID_FILE_SAVE: DoFileSave(); return true;
    case ID_FILE_SAVE_AS: DoSave(QString(), true); return true;
    case ID_EDIT_UNDO: undo_.undo(); return true;
    case ID_EDIT_REDO: undo_.redo(); return true;
    default: break;
  }
  if (id >= ID_DOCCOLORSPACE_FIRST && id <= ID_DOCCOLORSPACE_LAST) {
    OnColorSpaceItem(id);
    return true;
  }
  return false;
}

bool CGessoDoc::OnUpdateCommand(framework::CCmdUI& ui) {
  const int id = ui.m_nID;
  switch (id) {
    // Closing is refused while a scan is arriving; the close path reports it.
    case ID_FILE_CLOSE: ui.Enable(true); return true;
    case ID_FILE_SAVE: ui.Enable(image_ != nullptr && !acquiring_ && IsModified()); return true;
    case ID_FILE_SAVE_AS: ui.Enable(image_ != nullptr && !acquiring_); return true;
    case ID_TRANSFORM_ROTATECW:
    case ID_TRANSFORM_ROTATECCW:
    case ID_TRANSFORM_FLIPH:
    case ID_TRANSFORM_FLIPV:
    case ID_TRANSFORM_FLIPBOTH: ui.Enable(image_ != nullptr && !acquiring_); return true;
    case ID_EDIT_UNDO: ui.Enable(image_ != nullptr && !acquiring_ && undo_.canUndo()); return true;
    case ID_EDIT_REDO: ui.Enable(image_ != nullptr && !acquiring_ && undo_.canRedo()); return true;
    default: break;
  }
  if (id >= ID_DOCCOLORSPACE_FIRST && id <= ID_DOCCOLORSPACE_LAST) {
    ui.Enable(image_ != nullptr && !acquiring_);
    return true;
  }
  return false;
}

}  // namespace orvax::app
