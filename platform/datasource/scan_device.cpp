#include "scan_device.h"

#include <algorithm>
#include <cstring>

namespace orvax::ds {

void ApplySettings(ScanDevice& device, const OptionSettings& settings) {
  for (const auto& [name, value] : settings) device.SetOption(name, value, nullptr);
}

bool IsWindowOption(const QString& name) {
  static const QStringList names = {"resolution", "mode", "depth", "tl-x", "tl-y", "br-x", "br-y", "preview"};
  return names.contains(name);
}

int RasterRowBytes(const FrameLayout& layout) {
  return (layout.width * layout.samplesPerPixel * layout.bitsPerSample + 7) / 8;
}

DeviceStatus ReadWholeImage(ScanDevice& device, FrameLayout layout, Raster* raster,
                            const std::function<void(int rows)>& rowRead) {
  std::vector<uint8_t> planes[3];
  std::vector<uint8_t> chunky;
  int height = -1;
  const int rasterRow = RasterRowBytes(layout);
  for (;;) {
    // A device row may carry padding beyond the pixels it counts.
    const size_t keep = static_cast<size_t>(layout.plane >= 0 ? (layout.width * layout.bitsPerSample + 7) / 8 : rasterRow);
    if (layout.bytesPerRow <= 0 || keep > static_cast<size_t>(layout.bytesPerRow))
      return DeviceStatus::Fail(QStringLiteral("the device describes rows shorter than their pixels"));
    std::vector<uint8_t>& out = layout.plane >= 0 ? planes[layout.plane] : chunky;
    out.clear();
    std::vector<uint8_t> row(static_cast<size_t>(layout.bytesPerRow));
    int fill = 0, rows = 0;
    DeviceStatus status;
    for (;;) {
      int got = 0;
      status = device.Read(row.data() + fill, layout.bytesPerRow - fill, &got);
      if (!status.ok()) break;
      fill += got;
      if (fill == layout.bytesPerRow) {
        out.insert(out.end(), row.begin(), row.begin() + static_cast<std::ptrdiff_t>(keep));
        fill = 0;
        ++rows;
        if (rowRead && (rows & 63) == 0) rowRead(rows);
      }
    }
    if (status.code != DeviceStatus::Code::EndOfFrame) return status;
    if (fill != 0) return DeviceStatus::Fail(QStringLiteral("the frame ended inside a row"));
    if (layout.height >= 0 && rows < layout.height)
      return DeviceStatus::Fail(QStringLiteral("the frame ended after %1 of its %2 rows").arg(rows).arg(layout.height));
    if (layout.height >= 0) rows = layout.height;
    height = height < 0 ? rows : std::min(height, rows);
    if (layout.lastFrame) break;
    FrameLayout next;
    DeviceStatus started = device.Start();
    if (started.ok()) started = device.Layout(&next);
    if (!started.ok()) return started;
    if (next.width != layout.width || next.bitsPerSample != layout.bitsPerSample)
      return DeviceStatus::Fail(QStringLiteral("the frames of the scan differ in size"));
    layout = next;
  }
  *raster = Raster{};
  raster->width = layout.width;
  raster->height = height;
  raster->pixelType = layout.pixelType;
  raster->samplesPerPixel = layout.samplesPerPixel;
  raster->bitsPerSample = layout.bitsPerSample;
  raster->bytesPerRow = rasterRow;
  if (layout.plane < 0) {
    chunky.resize(static_cast<size_t>(rasterRow) * height);
    raster->data = std::move(chunky);
    return DeviceStatus::Ok();
  }
  const int bytes = layout.bitsPerSample / 8;
  const size_t planeRow = static_cast<size_t>(layout.width) * bytes;
  for (const auto& plane : planes)
    if (plane.size() < planeRow * height) return DeviceStatus::Fail(QStringLiteral("a colour of the three-pass scan is missing"));
  raster->data.assign(static_cast<size_t>(rasterRow) * height, 0);
  for (int y = 0; y < height; ++y) {
    uint8_t* dst = raster->data.data() + static_cast<size_t>(y) * rasterRow;
    for (int c = 0; c < 3; ++c) {
      const uint8_t* src = planes[c].data() + y * planeRow;
      for (int x = 0; x < layout.width; ++x)
        std::memcpy(dst + (static_cast<size_t>(x) * 3 + c) * bytes, src + static_cast<size_t>(x) * bytes, static_cast<size_t>(bytes));
    }
  }
  return DeviceStatus::Ok();
}

}  // namespace orvax::ds
