#include "scan_device.h"

#include "datasource/ds_twain.h"
#include "virtual_scanner.h"

#include <algorithm>
#include <cstring>

namespace orvax::ds {

QString VirtualDevice::Title() const { return QStringLiteral("Virtual film scanner"); }

QList<DeviceOption> VirtualDevice::Options() {
  // The virtual scanner is set up by the window's own controls; it has no further options.
  return {};
}

bool VirtualDevice::SetOption(const QString& name, const QVariant&, QString* why, int*) {
  if (why != nullptr) *why = QStringLiteral("the virtual film scanner has no option %1").arg(name);
  return false;
}

DeviceStatus VirtualDevice::Setup(const ScanJob& job, int pixelType, int bits, FilmType filmType, int* dpi) {
  job_ = job;
  if (dpi != nullptr) *dpi = job.dpi;
  pixelType_ = pixelType;
  bits_ = bits;
  filmType_ = filmType;
  return DeviceStatus::Ok();
}

DeviceStatus VirtualDevice::Start() {
  file_.clear();
  if (!job_.holder.isEmpty()) {
    const QString file = HolderSlide(FilmHolderFiles(job_.holder), scanner_.SlidePosition());
    if (file.isEmpty()) return DeviceStatus::Fail(QStringLiteral("The film holder %1 holds no slides.").arg(job_.holder));
    QString why;
    if (!Slide::FromFile(file, job_.film, &slide_, &why))
      return DeviceStatus::Fail(QStringLiteral("Cannot read the slide %1: %2.").arg(file, why));
    file_ = file;
  } else {
    slide_ = Slide::BuiltIn(job_.frame, job_.width, job_.height, job_.film);
  }
  part_ = AreaPixels(job_.area, slide_.Width(), slide_.Height());
  layout_ = FrameLayout{};
  layout_.width = part_.width();
  layout_.height = part_.height();
  layout_.pixelType = pixelType_;
  layout_.samplesPerPixel = SamplesPerPixel(pixelType_);
  layout_.bitsPerSample = DeliveredBits(pixelType_, bits_);
  layout_.bytesPerRow = (layout_.width * layout_.samplesPerPixel * layout_.bitsPerSample + 7) / 8;
  row_ = 0;
  pending_.clear();
  pendingAt_ = 0;
  return DeviceStatus::Ok();
}

DeviceStatus VirtualDevice::Layout(FrameLayout* layout) {
  *layout = layout_;
  return DeviceStatus::Ok();
}

DeviceStatus VirtualDevice::Read(uint8_t* buffer, int max, int* length) {
  *length = 0;
  std::vector<uint16_t> light(static_cast<size_t>(part_.width()) * 3);
  const size_t rowBytes = static_cast<size_t>(layout_.bytesPerRow);
  while (*length < max) {
    if (pendingAt_ < pending_.size()) {
      const size_t n = std::min(pending_.size() - pendingAt_, static_cast<size_t>(max - *length));
      std::memcpy(buffer + *length, pending_.data() + pendingAt_, n);
      pendingAt_ += n;
      *length += static_cast<int>(n);
      continue;
    }
    if (row_ >= layout_.height) break;
    // Whole rows go straight to the caller; a smaller buffer takes what is left over later.
    const bool direct = static_cast<size_t>(max - *length) >= rowBytes;
    uint8_t* out = buffer + *length;
    if (!direct) {
      pending_.assign(rowBytes, 0);
      pendingAt_ = 0;
      out = pending_.data();
    }
    slide_.ReadRow(filmType_, part_.top() + row_, part_.left(), part_.width(), light.data());
    RenderRow(light.data(), part_.width(), layout_.pixelType, layout_.bitsPerSample, out);
    ++row_;
    if (direct) *length += static_cast<int>(rowBytes);
  }
  if (*length == 0 && row_ >= layout_.height) return {DeviceStatus::Code::EndOfFrame, {}};
  return DeviceStatus::Ok();
}

}  // namespace orvax::ds
