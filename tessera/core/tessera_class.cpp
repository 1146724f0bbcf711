// TesseraClass: a thin facade over the object's components.
#include <sys/stat.h>

#include <climits>
#include <cstdio>
#include <cstring>
#include <vector>
#include <new>

#include "core/color_conversion.h"
#include "core/color_space.h"
#include "core/display_pipeline.h"
#include "core/library.h"
#include "core/no_throw.h"
#include "core/object_state.h"
#include "core/render.h"
#include "core/transforms.h"

using tessera::ObjectState;

namespace {

ObjectState* NewState(short flags) {
  auto* state = new ObjectState(flags);
  state->info = tessera::Library().defaultInfo;
  return state;
}

}  // namespace

TesseraClass::TesseraClass(short flags, short colorSpace) : m_state(NewState(flags)) {
  tagTes_Image_Desc desc{0, 0, colorSpace, {0, 0, 0, 0}, 72.0};
  m_state->store.Describe(desc, m_s_EmptyTransform);
}

TesseraClass::TesseraClass(short flags, const tagTes_Image_Desc& desc, const tagTes_Transform_Struct& transform)
    : m_state(NewState(flags)) {
  m_state->store.Describe(desc, transform);
}

TesseraClass::~TesseraClass() {
  Clear();
  delete m_state;
}

namespace {

// Maps count points in place with one of the point mappings. A count that would be negative
// as a signed number maps nothing.
long MapPoints(tagTes_Point* points, const tagTes_Size& size, const tagTes_Transform_Struct& transform,
               unsigned long count, void (*map)(tagTes_Point&, int, int, bool, int)) {
  if (points == nullptr || static_cast<long>(count) <= 0) return TES_OK;
  const int angle = tessera::NormaliseAngle(transform.angle);
  for (unsigned long i = 0; i < count; ++i) map(points[i], size.cx, size.cy, transform.mirror != 0, angle);
  return TES_OK;
}

}  // namespace

long TesseraClass::ConvertAndTransformPoint(tagTes_Point* points, const tagTes_Size& size,
                                            const tagTes_Transform_Struct& transform, unsigned long count) {
  return MapPoints(points, size, transform, count, tessera::ForwardPoint);
}

long TesseraClass::ReverseTransformPoint(tagTes_Point* points, const tagTes_Size& size,
                                         const tagTes_Transform_Struct& transform, unsigned long count) {
  return MapPoints(points, size, transform, count, tessera::ReversePoint);
}

unsigned long TesseraClass::GetClassID() const { return 1; }

long TesseraClass::Display(const tagTes_Output_Info& info) const {
  return tessera::NoThrow([&] { return tessera::DisplayObject(*m_state, info); });
}

long TesseraClass::Print(const tagTes_Output_Info& info) const {
  return tessera::NoThrow([&] { return tessera::PrintObject(*m_state, info); });
}

long TesseraClass::FlipH() { return tessera::FlipHorizontal(m_state->store); }

long TesseraClass::FlipV() { return tessera::FlipVertical(m_state->store); }

long TesseraClass::Rotate(const double& angle) {
  if (!m_state->store.HasTable()) return TES_ERR_NO_IMAGE;
  return tessera::RotateQuarter(m_state->store, tessera::NormaliseAngle(angle));
}

long TesseraClass::GetImageDesc(tagTes_Image_Desc* desc) const {
  if (desc != nullptr) m_state->store.Report(desc);
  return TES_OK;
}

long TesseraClass::SetImageDesc(const tagTes_Image_Desc& desc, const tagTes_Transform_Struct& transform) {
  tessera::ImageStore& store = m_state->store;
  if (store.HasTable()) {
    // Describing another image over stored tiles would leave a tile table of the old grid
    // and pixel size under the new description; the next write would land outside it.
    // Keep the tiles only when the description leaves grid and pixels as they are.
    tessera::ImageStore probe(m_state->colorManaged());
    probe.Describe(desc, transform);
    const bool same = probe.width() == store.width() && probe.height() == store.height() &&
                      probe.colorSpace() == store.colorSpace() && probe.arrivesAsGrey() == store.arrivesAsGrey() &&
                      store.originX() == 0 && store.originY() == 0;
    if (!same) tessera::ClearObject(*m_state);
  }
  return store.Describe(desc, transform);
}

long TesseraClass::GetImageInfo(tagTes_Image_Info* info, unsigned long size) const {
  if (size != sizeof(tagTes_Image_Info) || info == nullptr) return TES_ERR_INFO_SIZE;
  *info = m_state->info;
  return TES_OK;
}

long TesseraClass::SetImageInfo(const tagTes_Image_Info& info) {
  if (info.size != sizeof(tagTes_Image_Info)) return TES_ERR_INFO_SIZE;
  m_state->info = info;
  return TES_OK;
}

long TesseraClass::GetData(const tagTes_Tile_Desc& tile, void* buffer) const {
  return m_state->store.Load(tile, buffer);
}

long TesseraClass::SetData(const tagTes_Tile_Desc& tile, const tagTes_Transform_Struct& transform, void* const buffer) {
  return tessera::NoThrow([&]() -> long {
    ObjectState& s = *m_state;
    s.histograms.InvalidateRaw();
    if (!s.store.HasTable()) {
      if (const long status = tessera::CheckColorSpace(s.store.colorSpace(), s.colorManaged())) return status;
      // Refuse a rectangle that cannot be stored before building anything for it.
      if (buffer == nullptr || tile.rect.width <= 0 || tile.rect.height <= 0) return TES_ERR_NO_IMAGE;
      long status = TES_OK;
      if (!s.store.CreateTable()) status = TES_ERR_NO_MEMORY;
      if (status == TES_OK) {
        s.pipeline = tessera::MakePipeline(s, status);
        if (status == TES_OK) status = s.pipeline->Initialise();
      }
      if (status == TES_OK) {
        s.header.reset(new (std::nothrow) orvax::win::BITMAPINFO256);
        if (!s.header) status = TES_ERR_NO_MEMORY;
      }
      if (status != TES_OK) {
        tessera::ClearObject(s);
        return status;
      }
      tessera::ShapeDisplayHeader(s);
    }
    return s.store.Store(tile, transform, buffer);
  });
}

long TesseraClass::SetColorSpace(short colorSpace, const unsigned char* const* tables) {
  return tessera::NoThrow([&]() -> long {
    return tessera::ChangeColorSpace(*m_state, colorSpace, tables);
  });
}

long TesseraClass::ResetDisplayPipeline(short flags) {
  return tessera::NoThrow([&]() -> long {
    ObjectState& s = *m_state;
    const bool managed = (flags & TES_FLAG_COLOR_MANAGED) != 0;
    // Grey is held as grey by a plain object and as RGB by a colour-managed one; the kinds
    // cannot trade such an image without converting its pixels.
    const bool greyStored = tessera::IsGrey(s.store.colorSpace());
    if (tessera::CheckColorSpace(s.store.colorSpace(), managed) != TES_OK || (managed && greyStored))
      return TES_ERR_NOT_PERMITTED;
    const short oldFlags = s.flags;
    s.flags = flags;
    s.store.setColorManaged(managed);
    if (s.store.HasTable()) {
      long status = TES_OK;
      std::unique_ptr<tessera::DisplayPipeline> pipeline = tessera::MakePipeline(s, status);
      if (status == TES_OK) status = pipeline->Initialise();
      if (status != TES_OK) {
        s.flags = oldFlags;
        s.store.setColorManaged((oldFlags & TES_FLAG_COLOR_MANAGED) != 0);
        return status;
      }
      s.pipeline = std::move(pipeline);
      s.histograms.InvalidateThroughTable();
      s.store.DropCaches();
    }
    return TES_OK;
  });
}

bool TesseraClass::IsColorManaged() const { return m_state->colorManaged(); }

long TesseraClass::GetColorSpace(short* colorSpace) const {
  if (colorSpace != nullptr) *colorSpace = m_state->store.colorSpace();
  return TES_OK;
}

long TesseraClass::GetFormats(unsigned long* mask) const {
  if (mask == nullptr) return TES_OK;
  switch (m_state->store.colorSpace()) {
    case TES_CS_GRAY8:
    case TES_CS_RGB24: *mask = 0xCD; break;
    case TES_CS_LCH48: *mask = 0; break;
    default: *mask = TES_FILE_TIFF; break;
  }
  return TES_OK;
}

long TesseraClass::Clear() {
  tessera::ClearObject(*m_state);
  return TES_OK;
}

long TesseraClass::ClearCache() {
  m_state->store.DropCaches();
  return TES_OK;
}

long TesseraClass::CreateOutputRect(const tagTes_Rect& imageRect, const tagTes_Rect& placement,
                                    tagTes_Rect* deviceRect) const {
  if (deviceRect != nullptr) *deviceRect = tessera::OutputRect(*m_state, imageRect, placement);
  return TES_OK;
}

long TesseraClass::SetLUT(unsigned char* const table, short channel, short mode) {
  ObjectState& s = *m_state;
  if (!s.pipeline) return TES_ERR_NO_IMAGE;
  if (table == nullptr) return TES_ERR_LUT_CHANNEL;
  s.histograms.InvalidateThroughTable();
  if (const long status = s.pipeline->SetTable(table, channel, mode)) return status;
  return ClearCache();
}

long TesseraClass::GetPixel(const tagTes_Point& point, tagTes_Pixel_Value* value, short throughTable) {
  const ObjectState& s = *m_state;
  const tessera::ImageStore& store = s.store;
  if (!store.HasTable() || !s.pipeline) return TES_ERR_NO_IMAGE;
  if (point.x < 0 || point.x >= store.width() || point.y < 0 || point.y >= store.height())
    return TES_ERR_POINT_OUTSIDE;
  const tessera::Tile* tile = store.TileAt((point.x - store.originX()) / tessera::kTileSize,
                                           (point.y - store.originY()) / tessera::kTileSize);
  if (tile == nullptr) return TES_ERR_NO_IMAGE;
  if (!tile->pixels) return TES_ERR_NO_MEMORY;
  if (value == nullptr) return TES_OK;
  const uint8_t* pixel = tile->Row(point.y - tile->position.y) +
                         static_cast<ptrdiff_t>(point.x - tile->position.x) * tile->bytesPerPixel;
  s.pipeline->ReportPixel(pixel, throughTable != 0, value);
  return TES_OK;
}

long TesseraClass::GetHistTable(_HistTable* table, unsigned short index, short throughTable) {
  return tessera::NoThrow([&]() -> long {
    ObjectState& s = *m_state;
    if (!s.store.HasTable() || !s.pipeline) return TES_ERR_NO_IMAGE;
    return s.histograms.Get(s.store, *s.pipeline, table, index, throughTable != 0);
  });
}

long TesseraClass::GetCurIccProfileData(unsigned char** data, unsigned long* size) {
  ObjectState& s = *m_state;
  if (data == nullptr || size == nullptr) return TES_OK;
  if (s.hasProfileData) {
    *data = s.profileData.data();
    *size = s.profileData.size();
    return TES_OK;
  }
  *data = nullptr;
  *size = 0;
  const char* path = s.pipeline ? s.pipeline->CurrentProfilePath() : nullptr;
  if (path == nullptr) return TES_OK;
  std::FILE* file = std::fopen(path, "rb");
  if (file == nullptr) return TES_ERR_PROFILE_OPEN;
  // Only a regular file has a length to read: a folder or a device named as a profile
  // would otherwise report a length it cannot deliver.
  struct stat info {};
  long length = -1;
  if (fstat(fileno(file), &info) == 0 && S_ISREG(info.st_mode) && info.st_size <= LONG_MAX)
    length = static_cast<long>(info.st_size);
  if (length < 0) {
    std::fclose(file);
    return TES_ERR_PROFILE_LENGTH;
  }
  std::vector<uint8_t> bytes;
  try {
    bytes.resize(static_cast<size_t>(length));
  } catch (const std::bad_alloc&) {
    std::fclose(file);
    return TES_ERR_NO_MEMORY;
  }
  const size_t got = length > 0 ? std::fread(bytes.data(), 1, bytes.size(), file) : 0;
  std::fclose(file);
  if (got != bytes.size()) return TES_ERR_PROFILE_READ;
  s.profileData = std::move(bytes);
  s.hasProfileData = true;
  *data = s.profileData.data();
  *size = s.profileData.size();
  return TES_OK;
}
