#include "gesso_doc.h"

#include "commands.h"
#include "dlg_file_save.h"
#include "framework/child_frame.h"
#include "framework/doc_manager.h"
#include "framework/win_app.h"
#include "registry_settings.h"
#include "scan_app.h"
#include "status_text.h"
#include "string_table.h"
#include "win/file_replacement.h"
#include "win/gdi.h"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QMenu>
#include <QRegularExpression>

#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace orvax::app {

using framework::AfxMessageBox;
using framework::MB_ICONEXCLAMATION;
using framework::MB_ICONQUESTION;
using framework::MB_OK;
using framework::MB_YESNO;

namespace {

std::function<QString(const QString&)> g_tempHook;

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
  auto image = std::make_unique<TesseraClass>(static_cast<short>(cms ? 15 : 0), static_cast<short>(2));
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
    short cs = 2;
    if (Bilevel(info)) cs = TES_CS_GRAY8;  // black and white arrives as grey levels 0 and 255
    else if (bits == 8) cs = info.PixelType == twain::TWPT_GRAY ? 0 : info.PixelType == twain::TWPT_CMYK ? 4 : 2;
    else if (bits > 8) cs = info.PixelType == twain::TWPT_GRAY ? 1 : info.PixelType == twain::TWPT_RGB ? 3
                            : info.PixelType == 31                ? 6 : 2;
    desc.colorSpace = cs;
    for (int i = 0; i < 4; ++i) desc.bitsPerChannel[i] = static_cast<uint16_t>(Bilevel(info) && i == 0 ? 8 : info.BitsPerSample[i]);
    desc.resolution = info.XResolution.Whole + info.XResolution.Frac / 65536.0;
    managedFlags_ = 13;
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

namespace {

// Reads a little-endian integer from P.
uint32_t Le32(const uint8_t* p) { return p[0] | p[1] << 8 | p[2] << 16 | static_cast<uint32_t>(p[3]) << 24; }

// The value of a sample under MASK, scaled to 8 bits.
uint8_t MaskedSample(uint32_t pixel, uint32_t mask) {
  if (mask == 0) return 0;
  int shift = 0;
  while (((mask >> shift) & 1) == 0) ++shift;
  const uint32_t max = mask >> shift;
  return static_cast<uint8_t>((((pixel & mask) >> shift) * 255 + max / 2) / max);
}

}  // namespace

bool CGessoDoc::OnNativeTransfer(const void* dibData, size_t bytes) {
  using win::BITMAPINFOHEADER;
  const auto* dib = static_cast<const uint8_t*>(dibData);
  if (dib == nullptr || bytes < sizeof(BITMAPINFOHEADER)) return false;
  BITMAPINFOHEADER h;
  std::memcpy(&h, dib, sizeof h);
  if (h.biSize < sizeof(BITMAPINFOHEADER) || h.biSize > bytes || h.biWidth <= 0 || h.biHeight == 0 ||
      h.biPlanes != 1)
    return false;
  const int bpp = h.biBitCount;
  const bool bitfields = h.biCompression == 3;
  if (h.biCompression != win::BI_RGB && !(bitfields && (bpp == 16 || bpp == 32))) return false;
  if (bpp != 1 && bpp != 4 && bpp != 8 && bpp != 16 && bpp != 24 && bpp != 32) return false;
  const int64_t width = h.biWidth;
  const bool bottomUp = h.biHeight > 0;
  const int64_t height = bottomUp ? int64_t{h.biHeight} : -int64_t{h.biHeight};
  if (width > 65535 || height > 65535) return false;

  // Colour masks follow a 40-byte header; larger headers carry them inside.
  size_t offset = h.biSize;
  uint32_t masks[3] = {0x7C00, 0x03E0, 0x001F};
  if (bpp == 32) masks[0] = 0xFF0000, masks[1] = 0xFF00, masks[2] = 0xFF;
  if (bitfields) {
    if (h.biSize == sizeof(BITMAPINFOHEADER)) {
      if (bytes < offset + 12) return false;
      for (int i = 0; i < 3; ++i) masks[i] = Le32(dib + offset + 4 * i);
      offset += 12;
    } else if (h.biSize >= 52) {
      for (int i = 0; i < 3; ++i) masks[i] = Le32(dib + sizeof(BITMAPINFOHEADER) + 4 * i);
    }
  }
  // The real palette: biClrUsed entries, or all the depth can index.
  size_t colors = 0;
  if (bpp <= 8) colors = h.biClrUsed != 0 ? std::min<uint32_t>(h.biClrUsed, 1u << bpp) : (1u << bpp);
  else colors = std::min<uint32_t>(h.biClrUsed, 256);  // an optional table some writers add
  const uint8_t* palette = dib + offset;
  offset += colors * 4;
  const size_t rowBytes = static_cast<size_t>(win::DibRowBytes(static_cast<int>(width), bpp));
  if (offset > bytes || (bytes - offset) / rowBytes < static_cast<size_t>(height)) return false;
  const uint8_t* pixels = dib + offset;

  bool grey = bpp <= 8;
  for (size_t i = 0; grey && i < colors; ++i)
    grey = palette[4 * i] == palette[4 * i + 1] && palette[4 * i + 1] == palette[4 * i + 2];
  const int channels = grey ? 1 : 3;

  std::vector<uint8_t> out;
  try {
    out.resize(static_cast<size_t>(width) * height * channels);
  } catch (const std::bad_alloc&) {
    return false;
  }
  for (int64_t y = 0; y < height; ++y) {
    const uint8_t* row = pixels + rowBytes * static_cast<size_t>(bottomUp ? height - 1 - y : y);
    uint8_t* o = out.data() + static_cast<size_t>(y * width * channels);
    for (int64_t x = 0; x < width; ++x) {
      uint8_t r = 0, g = 0, b = 0;
      if (bpp <= 8) {
        const int perByte = 8 / bpp;
        const int shift = 8 - bpp * (1 + static_cast<int>(x % perByte));
        const size_t index = (row[x / perByte] >> shift) & ((1u << bpp) - 1);
        if (index < colors) b = palette[4 * index], g = palette[4 * index + 1], r = palette[4 * index + 2];
      } else if (bpp == 24) {
        b = row[3 * x], g = row[3 * x + 1], r = row[3 * x + 2];
      } else {
        const uint32_t v = bpp == 16 ? static_cast<uint32_t>(row[2 * x] | row[2 * x + 1] << 8) : Le32(row + 4 * x);
        r = MaskedSample(v, masks[0]), g = MaskedSample(v, masks[1]), b = MaskedSample(v, masks[2]);
      }
      if (grey) {
        *o++ = r;
      } else {
        *o++ = r, *o++ = g, *o++ = b;
      }
    }
  }

  tagTes_Image_Desc desc{};
  desc.width = static_cast<int32_t>(width);
  desc.height = static_cast<int32_t>(height);
  desc.colorSpace = static_cast<int16_t>(grey ? 0 : 2);
  desc.bitsPerChannel[0] = 8;
  if (!grey) desc.bitsPerChannel[1] = desc.bitsPerChannel[2] = 8;
  desc.resolution = 72.0;
  auto image = std::make_unique<TesseraClass>(static_cast<short>(UseCMS() ? 15 : 0), desc,
                                              TesseraClass::m_s_EmptyTransform);
  tagTes_Tile_Desc tile{{0, 0, desc.width, desc.height}, static_cast<int32_t>(width * channels), 0};
  if (image->SetData(tile, TesseraClass::m_s_EmptyTransform, out.data()) != 0) return false;
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
  const bool grey = c == 0 || c == 1;
  QList<int> codes;
  if (grey || !cms) codes << 0 << 1;
  if (!(grey && cms)) codes << 2 << 3;
  if (!grey && cms) codes << 4 << 6;
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
  if (ext == QLatin1String(".jpg")) *format = 4, *level = optionIndex + 1;
  else if (ext == QLatin1String(".tif")) *format = 1;
  else if (ext == QLatin1String(".bmp")) *format = 8;
  else if (ext == QLatin1String(".fpx")) {
    if (optionIndex == 0) *format = 64;
    else *format = 128, *level = optionIndex;
  } else {
    return false;
  }
  return true;
}

void CGessoDoc::SetTemporaryPathHook(std::function<QString(const QString&)> hook) { g_tempHook = std::move(hook); }

long CGessoDoc::SaveAtomically(const QString& path, uint32_t format, int32_t option, int* error) {
  int systemError = 0;
  const long status = SaveThroughTemporary(path, format, option, &systemError);
  if (error != nullptr) *error = status != 0 ? systemError : 0;
  return status;
}

long CGessoDoc::SaveThroughTemporary(const QString& path, uint32_t format, int32_t option, int* error) {
  if (!image_) return TES_ERR_NO_IMAGE;
  const QFileInfo target(path);
  QByteArray tempName;
  if (g_tempHook) {
    tempName = QFile::encodeName(g_tempHook(path));
  } else {
    tempName = QFile::encodeName(target.absolutePath() + QStringLiteral("/.") + target.fileName() +
                                 QStringLiteral(".XXXXXX"));
    const int fd = ::mkostemp(tempName.data(), O_CLOEXEC);
    if (fd < 0) {
      *error = errno;
      return TES_ERR_OUT_CREATE;
    }
    ::fchmod(fd, win::ReplacementMode(QFile::encodeName(path).constData()));
    ::close(fd);
  }
  const tagTes_File_Spec spec{tempName.constData(), format, option};
  long status = image_->Save(spec, &Progress, this, 0);
  if (status == TES_ERR_DISK_FULL) *error = ENOSPC;
  if (status == 0) {
    if (const int failed = win::CommitReplacement(tempName.constData(), QFile::encodeName(path).constData())) {
      *error = failed;
      status = failed == ENOSPC ? TES_ERR_DISK_FULL : TES_ERR_OUT_CREATE;
    }
  }
  if (status != 0) QFile::remove(QFile::decodeName(tempName));
  return status;
}

bool CGessoDoc::OnSaveDocument(const QString& path) {
  if (ColorSpace() == 6) {
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
      if (image_ && ColorSpace() == 6) image_->SetColorSpace(3, nullptr);
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
