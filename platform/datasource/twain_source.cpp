#include "twain_source.h"

#include "twain_capabilities.h"

#include "scan_window.h"
#include "virtual_scanner.h"

#include "twain/containers.h"

#include <QCoreApplication>
#include <QFileInfo>
#include <QMessageBox>

#include <algorithm>
#include <chrono>
#include <limits>
#include <cstring>

namespace orvax::ds {

using namespace twain;

TwainSource::TwainSource(VirtualScanner& scanner) : scanner_(scanner) {
  for (int i = 0; i < kPixelTypeCount; ++i) offered_.push_back(DefaultDepths()[i]);
  ResetCapabilities();
}
TwainSource::~TwainSource() { CloseWindow(); }

void TwainSource::CloseWindow() {
  CloseDevice();
  if (!window_) return;
  // The next window opens where this one was (a reopened source, the next run).
  if (window_->isVisible()) scanner_.SetWindowPlacement(QRect(window_->pos(), window_->size()));
  delete window_.data();
}

TW_UINT16 TwainSource::Fail(TW_UINT16 condition) {
  condition_ = condition;
  return TWRC_FAILURE;
}

TW_UINT16 TwainSource::Entry(TW_IDENTITY* origin, TW_UINT32 dg, TW_UINT16 dat, TW_UINT16 msg, void* data) {
  if (dg == DG_CONTROL && dat == DAT_STATUS) {
    if (data == nullptr) return TWRC_FAILURE;
    auto* status = static_cast<TW_STATUS*>(data);
    status->ConditionCode = condition_;
    status->Reserved = 0;
    condition_ = TWCC_SUCCESS;
    return TWRC_SUCCESS;
  }
  if (data == nullptr) return Fail(TWCC_BADVALUE);
  if (dg == DG_CONTROL) {
    switch (dat) {
      case DAT_IDENTITY: return Identity(msg, static_cast<TW_IDENTITY*>(data));
      case DAT_USERINTERFACE: return UserInterface(msg, static_cast<TW_USERINTERFACE*>(data));
      case DAT_CAPABILITY: return Capability(msg, static_cast<TW_CAPABILITY*>(data));
      case DAT_EVENT:
        if (msg != MSG_PROCESSEVENT) return Fail(TWCC_BADPROTOCOL);
        return ProcessEvent(static_cast<TW_EVENT*>(data));
      case DAT_SETUPMEMXFER:
        if (msg != MSG_GET) return Fail(TWCC_BADPROTOCOL);
        return SetupMemXfer(static_cast<TW_SETUPMEMXFER*>(data));
      case DAT_PENDINGXFERS: return PendingXfers(msg, static_cast<TW_PENDINGXFERS*>(data));
      default: return Fail(TWCC_BADPROTOCOL);
    }
  }
  if (dg == DG_IMAGE) {
    switch (dat) {
      case DAT_IMAGEINFO:
        if (msg != MSG_GET) return Fail(TWCC_BADPROTOCOL);
        return ImageInfo(static_cast<TW_IMAGEINFO*>(data));
      case DAT_IMAGEMEMXFER:
        if (msg != MSG_GET) return Fail(TWCC_BADPROTOCOL);
        return MemXfer(static_cast<TW_IMAGEMEMXFER*>(data));
      case DAT_IMAGENATIVEXFER:
        if (msg != MSG_GET) return Fail(TWCC_BADPROTOCOL);
        return NativeXfer(static_cast<TW_HANDLE*>(data));
      case DAT_AUTOSAVEREQUEST:
      case DAT_AUTOSAVERESULT: return AutoSave(dat, msg, data);
      default: return Fail(TWCC_BADPROTOCOL);
    }
  }
  (void)origin;
  return Fail(TWCC_BADPROTOCOL);
}

TW_UINT16 TwainSource::Identity(TW_UINT16 msg, TW_IDENTITY* id) {
  switch (msg) {
    case MSG_GET: {
      const TW_UINT32 keep = id->Id;
      std::memset(id, 0, sizeof *id);
      id->Id = keep;
      id->Version = {kVersionMajor, kVersionMinor, TWLG_USA, TWCY_USA, {}};
      CopyText(id->Version.Info,
               QStringLiteral("%1.%2 virtual film scanner").arg(kVersionMajor).arg(kVersionMinor).toLatin1().toStdString());
      id->ProtocolMajor = 1;
      id->ProtocolMinor = 9;
      id->SupportedGroups = DG_CONTROL | DG_IMAGE;
      CopyText(id->Manufacturer, "Orvax Corp.");
      CopyText(id->ProductFamily, "Orvax Film Scanner");
      CopyText(id->ProductName, "Orvax Scan 2.2");
      return TWRC_SUCCESS;
    }
    case MSG_OPENDS: {
      if (state_ != 3) return Fail(TWCC_MAXCONNECTIONS);
      LoadScript();
      eventMsg_ = win::RegisterWindowMessage(kSourceEventMsg);
      ReadDeviceOffer();
      ResetCapabilities();
      pending_ = 0;
      state_ = 4;
      return TWRC_SUCCESS;
    }
    case MSG_CLOSEDS:
      if (state_ != 4) return Fail(TWCC_SEQERROR);
      CloseWindow();
      state_ = 3;
      return TWRC_SUCCESS;
    default: return Fail(TWCC_BADPROTOCOL);
  }
}

TW_UINT16 TwainSource::UserInterface(TW_UINT16 msg, TW_USERINTERFACE* ui) {
  if (msg == MSG_ENABLEDS || msg == MSG_ENABLEDSUIONLY) {
    if (state_ != 4) return Fail(TWCC_SEQERROR);
    parent_ = static_cast<win::HWND>(ui->hParent);
    // The Color Space list offers what was negotiated.
    PublishColorSpaces();
    if (window_) window_->Refresh();
    if (!window_) {
      window_ = new ScanWindow(scanner_, win::IsWindow(parent_) ? static_cast<QWidget*>(parent_->widget) : nullptr);
      QObject::connect(window_, &ScanWindow::scanRequested, window_, [this] { RequestScan(JobFromWindow()); });
      QObject::connect(window_, &ScanWindow::feederRequested, window_, [this] { StartFeeder(); });
      QObject::connect(window_, &ScanWindow::cancelRequested, window_, [this] { Cancel(); });
      QObject::connect(window_, &ScanWindow::deviceChanged, window_, [this] { OfferDevice(); });
      QObject::connect(window_, &ScanWindow::itemsChanged, window_, [] {
        win::PostMessage(win::HWND_BROADCAST, win::RegisterWindowMessage(kRefreshMenusMsg), 0, 0);
      });
      window_->Place(scanner_.WindowPlacement());
    }
    if (ui->ShowUI != 0 || !Scripted()) window_->show();
    state_ = 5;
    if (Scripted()) ScheduleNextAction();
    return TWRC_SUCCESS;
  }
  if (msg == MSG_DISABLEDS) {
    if (state_ != 5) return Fail(TWCC_SEQERROR);
    CloseWindow();
    state_ = 4;
    return TWRC_SUCCESS;
  }
  return Fail(TWCC_BADPROTOCOL);
}

void TwainSource::Post(TW_UINT16 message) {
  if (!win::PostMessage(parent_, eventMsg_, message, 0)) Report(QStringLiteral("cannot post to the application"));
}

TW_UINT16 TwainSource::ProcessEvent(TW_EVENT* event) {
  if (state_ < 5) return Fail(TWCC_SEQERROR);
  const auto* message = static_cast<const TW_MSG*>(event->pEvent);
  event->TWMessage = MSG_NULL;
  if (message == nullptr || message->message != eventMsg_ || eventMsg_ == 0) return TWRC_NOTDSEVENT;
  event->TWMessage = static_cast<TW_UINT16>(message->wParam);
  if (event->TWMessage == MSG_XFERREADY) {
    if (state_ != 5 || pending_ <= 0) {
      event->TWMessage = MSG_NULL;  // a stale announcement
      return TWRC_DSEVENT;
    }
    state_ = 6;  // the first slide was prepared when the scan was asked for
  }
  return TWRC_DSEVENT;
}

bool TwainSource::RequestScan(const ScanJob& job) {
  if (state_ != 5 || pending_ > 0 || preparing_) return false;
  job_ = job;
  cancel_ = false;
  // The window stays live while a device that must be read whole is read: no second scan.
  if (window_) window_->SetScanning(true);
  preparing_ = true;
  const bool prepared = PrepareImage();
  preparing_ = false;
  // A slide that cannot be read is not announced at all.
  if (!prepared) {
    cancel_ = false;
    if (window_) {
      window_->SetScanning(false);
      window_->SetProgress(0);
    }
    return false;
  }
  pending_ = std::max(1, job.count);
  Post(MSG_XFERREADY);
  return true;
}

bool TwainSource::StartFeeder() {
  ScanJob job = JobFromWindow();
  job.count = scanner_.AutoFeederCount();
  if (job.count <= 0) return false;
  return RequestScan(job);
}

void TwainSource::Cancel() {
  if (state_ >= 6 || reader_.joinable()) {
    cancel_ = true;
  } else if (state_ == 5) {
    Post(MSG_CLOSEDSREQ);
  }
}

ScanJob TwainSource::JobFromWindow() const {
  ScanJob job;
  if (window_) job = window_->Job();
  return job;
}

bool TwainSource::OpenDevice() {
  QString name = window_ ? window_->DeviceName() : scanner_.WindowSetting("Device", "virtual").toString();
  if (device_ && name == deviceName_) return true;
  CloseDevice();
  if (name == QLatin1String("virtual")) {
    device_ = std::make_unique<VirtualDevice>(scanner_);
  } else {
    QString why;
    device_ = OpenSaneDevice(name, &why);
    if (!device_) {
      SlideFailed(QStringLiteral("The scanner %1 cannot be used: %2.").arg(name, why));
      return false;
    }
  }
  deviceName_ = name;
  return true;
}

void TwainSource::CloseDevice() {
  StopReader();
  if (device_) device_->Close();
  device_.reset();
  deviceName_.clear();
}

void TwainSource::DeviceFailed(const QString& reason) {
  deviceFailed_ = true;
  StopReader();
  if (device_) device_->Cancel();
  // The virtual scanner's reasons are whole sentences about its slides.
  if (deviceName_ == QLatin1String("virtual")) SlideFailed(reason);
  else SlideFailed(QStringLiteral("The scanner %1 stopped: %2.").arg(deviceName_, reason));
}

bool TwainSource::PrepareImage() {
  deviceFailed_ = false;
  if (!OpenDevice()) return false;
  const FilmType filmType = job_.filmType.value_or(scanner_.CurrentFilmType());
  // The scan keeps to what was negotiated: the job's type and depth when offered, else the
  // current ones.
  int type = job_.pixelType, bits = job_.bits;
  if (!pixelTypes_.contains(type) || !Depths(type).contains(bits)) {
    type = pixelType_;
    bits = currentDepth_[IndexOfType(type)];
  }
  filmType_ = filmType;
  // A device left in the middle of a scan takes no settings.
  StopReader();
  device_->Cancel();
  if (window_) ApplySettings(*device_, window_->AdvancedSettings());
  int dpi = job_.dpi;
  DeviceStatus status = device_->Setup(job_, type, bits, filmType, &dpi);
  // The resolution the image has is the one the device took.
  if (status.ok() && dpi != job_.dpi) {
    job_.dpi = dpi;
    if (window_) window_->ShowResolutionTaken(dpi);
  }
  if (status.ok()) status = device_->Start();
  if (status.ok()) status = device_->Layout(&layout_);
  if (!status.ok()) {
    DeviceFailed(status.reason);
    return false;
  }
  raster_ = Raster{};
  raster_.width = layout_.width;
  raster_.height = std::max(0, layout_.height);
  raster_.pixelType = layout_.pixelType;
  raster_.samplesPerPixel = layout_.samplesPerPixel;
  raster_.bitsPerSample = layout_.bitsPerSample;
  raster_.bytesPerRow = (raster_.width * raster_.samplesPerPixel * raster_.bitsPerSample + 7) / 8;
  raster_.data.assign(static_cast<size_t>(raster_.bytesPerRow) * raster_.height, 0);
  renderedRows_ = 0;
  plane_ = 0;
  nextRow_ = 0;
  strips_ = 0;
  if (window_) window_->SetProgress(0);
  if (auto* virtualDevice = dynamic_cast<VirtualDevice*>(device_.get())) {
    if (window_) {
      if (!virtualDevice->SlideFile().isEmpty())
        window_->ShowStatus(QStringLiteral("Scanning %1").arg(QFileInfo(virtualDevice->SlideFile()).fileName()));
      window_->ShowSlide(virtualDevice->CurrentSlide());
    }
  } else if (window_) {
    window_->ShowStatus(QStringLiteral("Scanning with %1").arg(deviceName_));
  }
  if (layout_.height < 0 || layout_.plane >= 0 || !layout_.lastFrame) {
    if (!ReadWhole()) return false;
  } else {
    StartReader(false);
  }
  planar_ = job_.planar && raster_.samplesPerPixel > 1 && raster_.bitsPerSample >= 8;
  return true;
}

DeviceStatus TwainSource::ReadFrameRows() {
  // A device row may carry padding beyond the pixels it counts.
  std::vector<uint8_t> row(static_cast<size_t>(std::max(1, layout_.bytesPerRow)));
  const size_t keep = std::min(row.size(), static_cast<size_t>(raster_.bytesPerRow));
  int fill = 0;
  for (int y = 0; y < raster_.height;) {
    int got = 0;
    const DeviceStatus status = device_->Read(row.data() + fill, static_cast<int>(row.size()) - fill, &got);
    if (status.code == DeviceStatus::Code::EndOfFrame)
      return DeviceStatus::Fail(QStringLiteral("the frame ended after %1 of its %2 rows").arg(y).arg(raster_.height));
    if (!status.ok()) return status;
    fill += got;
    if (static_cast<size_t>(fill) < row.size()) continue;
    uint8_t* at = raster_.data.data() + static_cast<size_t>(y) * raster_.bytesPerRow;
    std::memcpy(at, row.data(), keep);
    ReadThroughFilm(at, 1);
    fill = 0;
    ++y;
    rowsRead_.store(y, std::memory_order_release);
  }
  return DeviceStatus::Ok();
}

void TwainSource::StartReader(bool whole) {
  StopReader();
  rowsRead_.store(0);
  readDone_.store(false);
  readStatus_ = DeviceStatus::Ok();
  readingWhole_ = whole;
  // The device is read on a thread of its own while the window and the application go on;
  // the transfer takes the rows as they arrive.
  reader_ = std::thread([this, whole] {
    DeviceStatus status;
    if (whole) {
      status = ReadWholeImage(*device_, layout_, &wholeRaster_,
                              [this](int rows) { rowsRead_.store(rows, std::memory_order_release); });
      if (status.code == DeviceStatus::Code::Ok && wholeRaster_.height <= 0)
        status = DeviceStatus::Fail(QStringLiteral("the device sent an empty picture"));
    } else {
      status = ReadFrameRows();
    }
    std::lock_guard<std::mutex> lock(readMutex_);
    readStatus_ = status;
    readDone_.store(true, std::memory_order_release);
    readChanged_.notify_all();
  });
}

void TwainSource::StopReader() {
  if (!reader_.joinable()) return;
  // A read still waiting on the device returns once the scan is cancelled.
  if (!readDone_.load(std::memory_order_acquire) && device_) device_->Cancel();
  reader_.join();
}

bool TwainSource::WaitForRows(int rows) {
  const auto enough = [&] {
    return rowsRead_.load(std::memory_order_acquire) >= rows || readDone_.load(std::memory_order_acquire);
  };
  while (!enough()) {
    if (cancel_) {
      StopReader();
      return false;
    }
    // The window stays live while the device works: its Cancel, its progress.
    QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
    if (readingWhole_ && layout_.height > 0) ShowProgress(double(rowsRead_.load()) / layout_.height);
    std::unique_lock<std::mutex> lock(readMutex_);
    readChanged_.wait_for(lock, std::chrono::milliseconds(10), enough);
  }
  if (rowsRead_.load(std::memory_order_acquire) >= rows) return true;
  // The reading is over short of ROWS: complete for a whole scan, else a failure.
  StopReader();
  if (cancel_) return false;
  if (!readStatus_.ok()) {
    DeviceFailed(readStatus_.reason);
    return false;
  }
  return true;
}

bool TwainSource::ReadWhole() {
  StartReader(true);
  if (!WaitForRows(std::numeric_limits<int>::max())) {
    if (cancel_) Report(QStringLiteral("cancelled while reading"));
    return false;
  }
  StopReader();
  raster_ = std::move(wholeRaster_);
  wholeRaster_ = Raster{};
  ReadThroughFilm(raster_.data.data(), raster_.height);
  renderedRows_ = raster_.height;
  return true;
}

void TwainSource::ReadThroughFilm(uint8_t* rows, int count) const {
  // The virtual scanner reads its film itself, and so does a film scanner through its
  // negative adapter; any other SANE device scans the negative as it lies on it.
  FilmType type = filmType_;
  if (device_ && device_->ReadsNegatives()) {
    if (deviceName_ == QLatin1String("virtual") || type == FilmType::ColorNegative) return;
    if (type == FilmType::BwNegative) type = FilmType::BwPositive;
  }
  if (type == FilmType::ColorPositive) return;
  const bool negative = type == FilmType::ColorNegative || type == FilmType::BwNegative;
  const size_t bytes = static_cast<size_t>(raster_.bytesPerRow) * count;
  if (raster_.bitsPerSample == 1) {
    if (negative)
      for (size_t i = 0; i < bytes; ++i) rows[i] = static_cast<uint8_t>(~rows[i]);
    return;
  }
  const int spp = raster_.samplesPerPixel;
  const bool wide = raster_.bitsPerSample == 16;
  std::vector<uint16_t> light(static_cast<size_t>(raster_.width) * 3);
  for (int y = 0; y < count; ++y) {
    uint8_t* row = rows + static_cast<size_t>(y) * raster_.bytesPerRow;
    auto sample = [&](size_t i) -> uint16_t {
      if (!wide) return static_cast<uint16_t>(row[i] * 257);
      uint16_t v;
      std::memcpy(&v, row + i * 2, 2);
      return v;
    };
    auto put = [&](size_t i, uint16_t v) {
      if (!wide) row[i] = static_cast<uint8_t>(v >> 8);
      else std::memcpy(row + i * 2, &v, 2);
    };
    for (int x = 0; x < raster_.width; ++x)
      for (int c = 0; c < 3; ++c) light[static_cast<size_t>(x) * 3 + c] = sample(static_cast<size_t>(x) * spp + (spp == 3 ? c : 0));
    ReadFilm(type, light.data(), raster_.width);
    for (int x = 0; x < raster_.width; ++x) {
      const uint16_t* p = &light[static_cast<size_t>(x) * 3];
      if (spp == 3) {
        for (int c = 0; c < 3; ++c) put(static_cast<size_t>(x) * 3 + c, p[c]);
      } else {
        put(static_cast<size_t>(x), Luminance(p[0], p[1], p[2]));
      }
    }
  }
}

bool TwainSource::EnsureRows(int rows) {
  rows = std::min(rows, raster_.height);
  if (renderedRows_ >= rows) return true;
  if (!WaitForRows(rows)) return false;
  renderedRows_ = rows;
  return true;
}

void TwainSource::ShowProgress(double fraction) {
  if (window_) window_->SetProgress(fraction);
}

void TwainSource::SlideFailed(const QString& text) {
  Report(text);
  if (!window_) return;
  window_->ShowStatus(text);
  if (Scripted()) return;
  // Not modal to the application: the message stays until the person has read it.
  auto* box = new QMessageBox(QMessageBox::Warning, window_->windowTitle(), text, QMessageBox::Ok, window_);
  box->setObjectName("slideError");
  box->setAttribute(Qt::WA_DeleteOnClose);
  box->open();
}

int TwainSource::RowBytes() const {
  return planar_ ? (raster_.width * raster_.bitsPerSample + 7) / 8 : raster_.bytesPerRow;
}

TW_UINT16 TwainSource::ImageInfo(TW_IMAGEINFO* info) {
  if (state_ != 6 && state_ != 7) return Fail(TWCC_SEQERROR);
  std::memset(info, 0, sizeof *info);
  info->XResolution = {static_cast<TW_INT16>(std::min(job_.dpi, 32767)), 0};
  info->YResolution = info->XResolution;
  info->ImageWidth = raster_.width;
  info->ImageLength = raster_.height;
  info->SamplesPerPixel = static_cast<TW_INT16>(raster_.samplesPerPixel);
  for (int i = 0; i < raster_.samplesPerPixel; ++i) info->BitsPerSample[i] = static_cast<TW_INT16>(raster_.bitsPerSample);
  info->BitsPerPixel = static_cast<TW_INT16>(raster_.samplesPerPixel * raster_.bitsPerSample);
  info->Planar = planar_ ? 1 : 0;
  info->PixelType = static_cast<TW_INT16>(raster_.pixelType);
  info->Compression = TWCP_NONE;
  return TWRC_SUCCESS;
}

TW_UINT16 TwainSource::SetupMemXfer(TW_SETUPMEMXFER* setup) {
  if (state_ < 4 || state_ > 6) return Fail(TWCC_SEQERROR);
  const int rowBytes = state_ == 6 ? RowBytes() : 1;
  const int rows = state_ == 6 ? std::min(job_.stripRows, raster_.height) : 1;
  setup->MinBufSize = static_cast<TW_UINT32>(rowBytes);
  setup->MaxBufSize = static_cast<TW_UINT32>(rowBytes) * static_cast<TW_UINT32>(std::max(1, raster_.height));
  setup->Preferred = static_cast<TW_UINT32>(rowBytes * rows);
  return TWRC_SUCCESS;
}

TW_UINT16 TwainSource::MemXfer(TW_IMAGEMEMXFER* xfer) {
  if (state_ != 6 && state_ != 7) return Fail(TWCC_SEQERROR);
  if (strips_ > 0 && nextRow_ >= raster_.height) return Fail(TWCC_SEQERROR);  // already complete
  // Let the window's Cancel button through between strips.
  if (window_ && window_->isVisible() && !Scripted()) QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
  if (cancel_ || (job_.cancelAfter > 0 && strips_ >= job_.cancelAfter)) {
    cancel_ = true;
    if (device_) device_->Cancel();
    Report(QStringLiteral("cancelled after %1 strips").arg(strips_));
    return Fail(TWCC_USERCANCEL);
  }
  ++strips_;
  if (job_.failStrip == strips_) return Fail(TWCC_BUMMER);
  const bool handle = (xfer->Memory.Flags & TWMF_HANDLE) != 0;
  auto* out = static_cast<uint8_t*>(handle ? GlobalLock(xfer->Memory.TheMem) : xfer->Memory.TheMem);
  if (out == nullptr) return Fail(TWCC_BADVALUE);
  const int rowBytes = RowBytes();
  const int rows = std::min(static_cast<int>(xfer->Memory.Length / static_cast<TW_UINT32>(rowBytes)),
                            raster_.height - nextRow_);
  if (rows <= 0) {
    if (handle) GlobalUnlock(xfer->Memory.TheMem);
    return Fail(TWCC_BADVALUE);
  }
  if (plane_ == 0 && !EnsureRows(nextRow_ + rows)) {
    if (handle) GlobalUnlock(xfer->Memory.TheMem);
    if (cancel_) {
      Report(QStringLiteral("cancelled after %1 strips").arg(strips_ - 1));
      return Fail(TWCC_USERCANCEL);
    }
    return Fail(TWCC_BUMMER);
  }
  const int bytesPerSample = raster_.bitsPerSample / 8;
  for (int r = 0; r < rows; ++r) {
    const uint8_t* src = raster_.data.data() + static_cast<size_t>(nextRow_ + r) * raster_.bytesPerRow;
    uint8_t* dst = out + static_cast<size_t>(r) * rowBytes;
    if (!planar_) {
      std::memcpy(dst, src, static_cast<size_t>(rowBytes));
    } else {
      for (int x = 0; x < raster_.width; ++x)
        std::memcpy(dst + static_cast<size_t>(x) * bytesPerSample,
                    src + (static_cast<size_t>(x) * raster_.samplesPerPixel + plane_) * bytesPerSample,
                    static_cast<size_t>(bytesPerSample));
    }
    // CMYK leaves the scanner inverted, as the real device delivers it.
    if (raster_.pixelType == TWPT_CMYK)
      for (int i = 0; i < rowBytes; ++i) dst[i] = static_cast<uint8_t>(255 - dst[i]);
  }
  if (handle) GlobalUnlock(xfer->Memory.TheMem);
  xfer->Compression = TWCP_NONE;
  xfer->BytesPerRow = static_cast<TW_UINT32>(rowBytes);
  xfer->Columns = static_cast<TW_UINT32>(raster_.width);
  xfer->Rows = static_cast<TW_UINT32>(rows);
  xfer->XOffset = 0;
  xfer->YOffset = static_cast<TW_UINT32>(nextRow_);
  xfer->BytesWritten = static_cast<TW_UINT32>(rows * rowBytes);
  if (strips_ == 2 && job_.badStrip == ScanJob::BadStrip::Outside) xfer->YOffset = static_cast<TW_UINT32>(raster_.height);
  if (strips_ == 2 && job_.badStrip == ScanJob::BadStrip::Oversize)
    xfer->Rows = xfer->Memory.Length / static_cast<TW_UINT32>(rowBytes) + 1;
  state_ = 7;
  nextRow_ += rows;
  ShowProgress((plane_ * raster_.height + nextRow_) / double(raster_.height * (planar_ ? raster_.samplesPerPixel : 1)));
  if (nextRow_ < raster_.height) return TWRC_SUCCESS;
  if (planar_ && plane_ + 1 < raster_.samplesPerPixel) {
    ++plane_;
    nextRow_ = 0;
    return TWRC_SUCCESS;
  }
  return TWRC_XFERDONE;
}

TW_UINT16 TwainSource::NativeXfer(TW_HANDLE* result) {
  if (state_ != 6) return Fail(TWCC_SEQERROR);
  if (cancel_ || job_.cancelAfter > 0) {
    cancel_ = true;
    if (device_) device_->Cancel();
    state_ = 7;
    return TWRC_CANCEL;
  }
  // A bottom-up device-independent bitmap: 1 bit for black and white, 8 bits with a grey
  // palette for grey, 24 bits (blue, green, red) for everything else.
  if (!EnsureRows(raster_.height)) {
    if (!cancel_) return Fail(TWCC_BUMMER);
    Report(QStringLiteral("cancelled"));
    state_ = 7;
    return TWRC_CANCEL;
  }
  const int w = raster_.width, h = raster_.height;
  const int bpp = raster_.pixelType == TWPT_BW ? 1 : raster_.pixelType == TWPT_GRAY ? 8 : 24;
  const int colours = bpp == 1 ? 2 : bpp == 8 ? 256 : 0;
  const int stride = ((w * bpp + 31) / 32) * 4;
  const size_t size = 40 + colours * 4 + static_cast<size_t>(stride) * h;
  TW_HANDLE dib = GlobalAlloc(GMEM_MOVEABLE | GMEM_ZEROINIT, size);
  auto* p = static_cast<uint8_t*>(GlobalLock(dib));
  if (p == nullptr) return Fail(TWCC_LOWMEMORY);
  auto put32 = [](uint8_t* at, uint32_t v) { std::memcpy(at, &v, 4); };
  auto put16 = [](uint8_t* at, uint16_t v) { std::memcpy(at, &v, 2); };
  put32(p, 40);
  put32(p + 4, static_cast<uint32_t>(w));
  put32(p + 8, static_cast<uint32_t>(h));
  put16(p + 12, 1);
  put16(p + 14, static_cast<uint16_t>(bpp));
  put32(p + 20, static_cast<uint32_t>(stride * h));
  const uint32_t ppm = static_cast<uint32_t>(job_.dpi * 10000 / 254);
  put32(p + 24, ppm);
  put32(p + 28, ppm);
  put32(p + 32, static_cast<uint32_t>(colours));
  for (int i = 0; i < colours; ++i) {
    const uint8_t v = static_cast<uint8_t>(colours == 2 ? i * 255 : i);
    p[40 + i * 4] = p[41 + i * 4] = p[42 + i * 4] = v;
  }
  uint8_t* bits = p + 40 + colours * 4;
  const int bytes = raster_.bitsPerSample / 8;
  for (int y = 0; y < h; ++y) {
    const uint8_t* src = raster_.data.data() + static_cast<size_t>(y) * raster_.bytesPerRow;
    uint8_t* dst = bits + static_cast<size_t>(h - 1 - y) * stride;
    if (bpp == 1) {
      std::memcpy(dst, src, static_cast<size_t>(raster_.bytesPerRow));
      continue;
    }
    for (int x = 0; x < w; ++x) {
      // The high byte of each sample (little-endian 16-bit samples keep it second).
      auto sample = [&](int c) { return src[(static_cast<size_t>(x) * raster_.samplesPerPixel + c) * bytes + bytes - 1]; };
      if (bpp == 8) {
        dst[x] = sample(0);
      } else if (raster_.pixelType == TWPT_RGB) {
        dst[x * 3] = sample(2), dst[x * 3 + 1] = sample(1), dst[x * 3 + 2] = sample(0);
      } else {
        // Types a bitmap cannot carry are delivered as their grey level.
        const uint8_t v = sample(0);
        dst[x * 3] = dst[x * 3 + 1] = dst[x * 3 + 2] = v;
      }
    }
  }
  GlobalUnlock(dib);
  *result = dib;
  state_ = 7;
  return TWRC_XFERDONE;
}

TW_UINT16 TwainSource::PendingXfers(TW_UINT16 msg, TW_PENDINGXFERS* pending) {
  switch (msg) {
    case MSG_GET:
      if (state_ < 4) return Fail(TWCC_SEQERROR);
      pending->Count = static_cast<TW_UINT16>(state_ >= 6 ? pending_ : 0);
      pending->EOJ = 0;
      return TWRC_SUCCESS;
    case MSG_ENDXFER:
      if (state_ != 6 && state_ != 7) return Fail(TWCC_SEQERROR);
      if (cancel_) pending_ = 0;
      else pending_ = std::max(0, pending_ - 1);
      if (!job_.holder.isEmpty() || job_.count > 1) {
        // The feeder moves on to the next slide.
        scanner_.SetSlidePosition(scanner_.SlidePosition() + 1);
        if (scanner_.CanFeed()) scanner_.SetSlidesLoaded(scanner_.SlidesLoaded() - 1);
      }
      break;
    case MSG_RESET:
      if (state_ != 6 && state_ != 7) return Fail(TWCC_SEQERROR);
      pending_ = 0;
      break;
    default: return Fail(TWCC_BADPROTOCOL);
  }
  // The next slide of the batch; one that cannot be read ends the batch.
  if (pending_ > 0 && !PrepareImage()) pending_ = 0;
  pending->Count = static_cast<TW_UINT16>(pending_);
  pending->EOJ = 0;
  if (pending_ > 0) {
    state_ = 6;
  } else {
    state_ = 5;
    cancel_ = false;
    // The scanning line goes; a failure stays in sight.
    if (window_ && device_ && deviceName_ != QLatin1String("virtual") && !deviceFailed_) window_->ShowStatus(QString());
    // The device is free for other programs between scans.
    CloseDevice();
    if (window_) {
      window_->SetProgress(0);
      window_->SetScanning(false);
    }
    if (Scripted()) ScheduleNextAction();
  }
  return TWRC_SUCCESS;
}

TW_UINT16 TwainSource::AutoSave(TW_UINT16 dat, TW_UINT16 msg, void* data) {
  if (state_ < 4) return Fail(TWCC_SEQERROR);
  if (dat == DAT_AUTOSAVEREQUEST) {
    if (msg != MSG_GET) return Fail(TWCC_BADPROTOCOL);
    auto* request = static_cast<AutoSaveRequest*>(data);
    std::memset(request, 0, sizeof *request);
    const bool fromJob = job_.autoSaveSet;
    request->enabled = fromJob ? job_.autoSaveFormat >= 0 : scanner_.AutoSaveEnabled();
    const QString folder = fromJob ? job_.autoSaveFolder : scanner_.AutoSaveFolder();
    const QString stem = fromJob ? job_.autoSaveStem : scanner_.AutoSaveStem();
    CopyText(request->folder, folder.toLocal8Bit().toStdString());
    CopyText(request->stem, stem.toLocal8Bit().toStdString());
    request->format = static_cast<int16_t>(fromJob ? job_.autoSaveFormat : scanner_.AutoSaveFormat());
    request->quality = static_cast<int16_t>(fromJob ? job_.autoSaveQuality : scanner_.AutoSaveQuality());
    return TWRC_SUCCESS;
  }
  if (msg != MSG_SET) return Fail(TWCC_BADPROTOCOL);
  const auto* result = static_cast<const AutoSaveResult*>(data);
  const QByteArray path(result->path, static_cast<int>(strnlen(result->path, sizeof result->path)));
  Report(QStringLiteral("autosave status=%1 path=%2").arg(result->status).arg(QString::fromLocal8Bit(path)));
  return TWRC_SUCCESS;
}

}  // namespace orvax::ds
