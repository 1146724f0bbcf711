#include "scan_window.h"

#include "advanced_panel.h"
#include "scan_device.h"

#include "datasource/ds_exports.h"
#include "datasource/ds_twain.h"
#include "virtual_scanner.h"

#include <QCloseEvent>
#include <QComboBox>
#include <QCoreApplication>
#include <QPointer>
#include <QFileDialog>
#include <QFileInfo>
#include <QFormLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QMouseEvent>
#include <QPainter>
#include <QPainterPath>
#include <QProgressBar>
#include <QPushButton>
#include <QScreen>
#include <QSpinBox>
#include <QStyle>
#include <QTimer>
#include <QStandardItemModel>
#include <QVBoxLayout>
#include <QWindow>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <thread>

namespace orvax::ds {

namespace {
constexpr int kHolderSlide = 3;  // the Slide list's film-holder entry
// The preview's pass: at most this many pixels across the frame.
constexpr int kPreviewWidth = 480, kPreviewHeight = 320;

// A 35 mm frame, 36 x 24 mm, at DPI.
QSize FrameAt(int dpi) {
  return {static_cast<int>(std::lround(36.0 / 25.4 * dpi)), static_cast<int>(std::lround(24.0 / 25.4 * dpi))};
}

QString Bytes(double bytes) {
  if (bytes >= 1024.0 * 1024.0) return QStringLiteral("%1 MB").arg(bytes / (1024.0 * 1024.0), 0, 'f', 1);
  return QStringLiteral("%1 KB").arg(std::ceil(bytes / 1024.0), 0, 'f', 0);
}
}  // namespace

// ---------------------------------------------------------------------------------------

PreviewArea::PreviewArea(QWidget* parent) : QWidget(parent) {
  setObjectName("preview");
  setMinimumSize(240, 160);
  setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Expanding);
  setCursor(Qt::CrossCursor);
}

void PreviewArea::SetImage(const QImage& image) {
  image_ = image;
  update();
}

void PreviewArea::SetArea(const QRectF& area) {
  const QRectF clipped = area.intersected(QRectF(0, 0, 1, 1));
  area_ = clipped.width() > 0 && clipped.height() > 0 ? clipped : QRectF();
  update();
  emit areaChanged();
}

QRect PreviewArea::ImageRect() const {
  const QSize frame = image_.isNull() ? QSize(3, 2) : image_.size();
  const QRect inside = rect().adjusted(4, 4, -4, -4);
  const QSize fitted = frame.scaled(inside.size(), Qt::KeepAspectRatio);
  return {inside.left() + (inside.width() - fitted.width()) / 2, inside.top() + (inside.height() - fitted.height()) / 2,
          fitted.width(), fitted.height()};
}

QPointF PreviewArea::ToFrame(const QPoint& point) const {
  const QRect r = ImageRect();
  return {std::clamp((point.x() - r.left()) / double(std::max(1, r.width())), 0.0, 1.0),
          std::clamp((point.y() - r.top()) / double(std::max(1, r.height())), 0.0, 1.0)};
}

void PreviewArea::paintEvent(QPaintEvent*) {
  QPainter painter(this);
  painter.fillRect(rect(), QColor(48, 48, 48));
  const QRect r = ImageRect();
  if (image_.isNull()) {
    painter.setPen(Qt::lightGray);
    painter.drawText(rect(), Qt::AlignCenter, tr("No preview"));
    return;
  }
  painter.setRenderHint(QPainter::SmoothPixmapTransform);
  painter.drawImage(r, image_);
  if (area_.isEmpty()) return;
  const QRectF a(r.left() + area_.left() * r.width(), r.top() + area_.top() * r.height(), area_.width() * r.width(),
                 area_.height() * r.height());
  // Outside the area the preview is dimmed; the area has a dashed frame.
  QPainterPath outside;
  outside.addRect(QRectF(r));
  QPainterPath inside;
  inside.addRect(a);
  painter.fillPath(outside.subtracted(inside), QColor(0, 0, 0, 120));
  painter.setPen(QPen(Qt::white, 1, Qt::DashLine));
  painter.drawRect(a.adjusted(0, 0, -1, -1));
}

void PreviewArea::mousePressEvent(QMouseEvent* event) {
  if (event->button() != Qt::LeftButton || image_.isNull()) return;
  dragging_ = true;
  anchor_ = ToFrame(event->position().toPoint());
}

void PreviewArea::Drag(const QPoint& to) {
  const QPointF p = ToFrame(to);
  area_ = QRectF(anchor_, p).normalized();
  update();
}

void PreviewArea::mouseMoveEvent(QMouseEvent* event) {
  if (dragging_) Drag(event->position().toPoint());
}

void PreviewArea::mouseReleaseEvent(QMouseEvent* event) {
  if (!dragging_ || event->button() != Qt::LeftButton) return;
  dragging_ = false;
  Drag(event->position().toPoint());
  // A click, or a rectangle too thin to see, goes back to the whole frame.
  const QRect r = ImageRect();
  if (area_.width() * r.width() < 3 || area_.height() * r.height() < 3) area_ = QRectF();
  SetArea(area_);
}

// ---------------------------------------------------------------------------------------

ScanWindow::ScanWindow(VirtualScanner& scanner, QWidget* parent) : QWidget(parent, Qt::Tool), scanner_(scanner) {
  setObjectName("OrvaxScanWindow");
  setWindowTitle(tr("Orvax Film Scanner"));

  preview_ = new PreviewArea;
  information_ = new QLabel;
  information_->setObjectName("information");
  information_->setWordWrap(true);
  status_ = new QLabel;
  status_->setObjectName("status");
  status_->setWordWrap(true);
  status_->setTextInteractionFlags(Qt::TextSelectableByMouse);

  auto* form = new QFormLayout;
  device_ = new QComboBox;
  device_->setObjectName("device");
  auto* refreshDevices = new QPushButton(tr("Refresh"));
  refreshDevices->setObjectName("refreshDevices");
  advancedButton_ = new QPushButton(tr("Advanced..."));
  advancedButton_->setObjectName("advancedButton");
  advancedButton_->setToolTip(tr("The device's further options"));
  connect(advancedButton_, &QPushButton::clicked, this, &ScanWindow::ShowAdvanced);
  auto* deviceRow = new QHBoxLayout;
  deviceRow->addWidget(device_, 1);
  deviceRow->addWidget(refreshDevices);
  deviceRow->addWidget(advancedButton_);
  form->addRow(tr("Device:"), deviceRow);
  deviceNote_ = new QLabel;
  deviceNote_->setObjectName("deviceNote");
  deviceNote_->setWordWrap(true);
  deviceNote_->hide();
  form->addRow(deviceNote_);
  // The device chosen last time; one that is not connected now leaves the virtual scanner.
  // SANE is asked for its devices only then or on Refresh: looking for network scanners can
  // take seconds.
  const QString remembered = scanner_.WindowSetting("Device", "virtual").toString();
  if (remembered == QLatin1String("virtual")) {
    device_->addItem(tr("Virtual film scanner"), QStringLiteral("virtual"));
  } else {
    RefreshDevices();
  }
  if (const int at = device_->findData(remembered); at >= 0) {
    device_->setCurrentIndex(at);
  } else {
    device_->setCurrentIndex(0);
    SetDeviceNote(tr("The scanner %1 chosen last time is not connected: scanning with the virtual film scanner.")
                   .arg(remembered));
  }
  connect(device_, &QComboBox::currentIndexChanged, this, [this] {
    advancedButton_->setEnabled(DeviceName() != QLatin1String("virtual"));
    if (advanced_ != nullptr && advanced_->isVisible()) {
      if (DeviceName() == QLatin1String("virtual")) advanced_->close();
      else advanced_->ShowDevice(DeviceName(), AdvancedSettings());
    }
  });
  advancedButton_->setEnabled(DeviceName() != QLatin1String("virtual"));
  connect(device_, &QComboBox::activated, this, [this] {
    scanner_.SetWindowSetting("Device", DeviceName());
    SetDeviceNote(QString());
    emit deviceChanged();
    AutoPreview();
  });
  connect(refreshDevices, &QPushButton::clicked, this, [this] {
    const QString current = DeviceName();
    RefreshDevices();
    device_->setCurrentIndex(std::max(0, device_->findData(current)));
  });
  resolution_ = new QSpinBox;
  resolution_->setObjectName("resolution");
  resolution_->setRange(75, 4800);
  resolution_->setValue(scanner_.WindowSetting("Resolution", 300).toInt());
  resolution_->setSuffix(tr(" dpi"));
  form->addRow(tr("Resolution:"), resolution_);

  filmType_ = new QComboBox;
  filmType_->setObjectName("filmType");
  form->addRow(tr("Film type:"), filmType_);
  colorSpace_ = new QComboBox;
  colorSpace_->setObjectName("colorSpace");
  form->addRow(tr("Color space:"), colorSpace_);
  const auto chosen = [this](ItemList list, QComboBox* box) {
    connect(box, &QComboBox::currentIndexChanged, this, [this, list](int index) {
      if (refreshing_) return;
      scanner_.Select(list, index);
      Refresh();
      emit itemsChanged();
      if (list == ItemList::FilmType) AutoPreview();
      UpdateInformation();
    });
  };
  chosen(ItemList::FilmType, filmType_);
  chosen(ItemList::ColorSpace, colorSpace_);

  slide_ = new QComboBox;
  slide_->setObjectName("slide");
  slide_->addItems({tr("Color chart"), tr("Gray and color ramps"), tr("Scene"), tr("Film holder")});
  slide_->setCurrentIndex(std::clamp(
      scanner_.WindowSetting("Slide", scanner_.FilmHolderFolder().isEmpty() ? 0 : kHolderSlide).toInt(), 0, kHolderSlide));
  form->addRow(tr("Slide:"), slide_);

  film_ = new QComboBox;
  film_->setObjectName("film");
  film_->addItems({tr("Slide film (positive)"), tr("Color negative film"), tr("B&W negative film")});
  film_->setCurrentIndex(static_cast<int>(scanner_.LoadedFilm()));
  form->addRow(tr("Loaded on:"), film_);

  holder_ = new QLineEdit(scanner_.FilmHolderFolder());
  holder_->setObjectName("filmHolder");
  auto* browse = new QPushButton(tr("Browse..."));
  connect(browse, &QPushButton::clicked, this, [this] {
    const QString folder = QFileDialog::getExistingDirectory(this, tr("Film Holder Folder"), holder_->text());
    if (folder.isEmpty()) return;
    holder_->setText(folder);
    slide_->setCurrentIndex(kHolderSlide);
  });
  auto* holderRow = new QHBoxLayout;
  holderRow->addWidget(holder_, 1);
  holderRow->addWidget(browse);
  form->addRow(tr("Film holder:"), holderRow);

  auto* feeder = new QGroupBox(tr("Slide Feeder"));
  auto* feederRow = new QHBoxLayout(feeder);
  slides_ = new QSpinBox;
  slides_->setObjectName("feederSlides");
  slides_->setRange(1, 1000);
  slides_->setValue(std::max(1, scanner_.AutoFeederCount()));
  auto* scanSlides = new QPushButton(tr("Scan Slides"));
  scanSlides->setObjectName("scanSlides");
  auto* next = new QPushButton(tr("Next Slide"));
  next->setObjectName("nextSlide");
  feederRow->addWidget(new QLabel(tr("Slides:")));
  feederRow->addWidget(slides_);
  feederRow->addWidget(scanSlides);
  feederRow->addWidget(next);
  connect(scanSlides, &QPushButton::clicked, this, [this] {
    scanner_.SetAutoFeederCount(slides_->value());
    emit feederRequested();
  });
  connect(next, &QPushButton::clicked, this, [this] {
    scanner_.SetSlidePosition(scanner_.SlidePosition() + 1);
    scanner_.Eject();
    emit itemsChanged();
    AutoPreview();
  });

  progress_ = new QProgressBar;
  progress_->setObjectName("progress");
  progress_->setRange(0, 1000);
  progress_->setValue(0);

  previewButton_ = new QPushButton(tr("Preview"));
  previewButton_->setObjectName("previewButton");
  auto* scan = new QPushButton(tr("Scan"));
  scan->setObjectName("scan");
  scan->setDefault(true);
  auto* cancel = new QPushButton(tr("Cancel"));
  cancel->setObjectName("cancel");
  connect(previewButton_, &QPushButton::clicked, this, &ScanWindow::Preview);
  connect(scan, &QPushButton::clicked, this, &ScanWindow::scanRequested);
  connect(cancel, &QPushButton::clicked, this, [this] {
    // During a preview pass Cancel stops the pass; else it is the source's.
    if (previewing_ != nullptr) CancelPreview();
    else emit cancelRequested();
  });
  auto* buttons = new QHBoxLayout;
  buttons->addWidget(previewButton_);
  buttons->addStretch(1);
  buttons->addWidget(scan);
  buttons->addWidget(cancel);

  // The preview on the left, the settings on the right, progress and buttons below: wide
  // rather than tall, so that it fits a small or highly scaled screen.
  auto* left = new QVBoxLayout;
  left->addWidget(preview_, 1);
  left->addWidget(information_);
  left->addWidget(status_);
  auto* right = new QVBoxLayout;
  right->addLayout(form);
  right->addWidget(feeder);
  right->addStretch(1);
  auto* top = new QHBoxLayout;
  top->addLayout(left, 1);
  top->addLayout(right);
  auto* layout = new QVBoxLayout(this);
  layout->addLayout(top, 1);
  layout->addWidget(progress_);
  layout->addLayout(buttons);
  settingsWidgets_ = {device_, refreshDevices, advancedButton_, resolution_, filmType_, colorSpace_, slide_, film_, holder_, browse,
                      slides_,     scanSlides, next,       previewButton_, scan, preview_};

  preview_->SetArea(scanner_.WindowSetting("Area", QRectF()).toRectF());
  // What the window is set to outlives it: Preferences that reopen the source keep it.
  connect(resolution_, &QSpinBox::valueChanged, this, [this](int dpi) { scanner_.SetWindowSetting("Resolution", dpi); });
  connect(slide_, &QComboBox::currentIndexChanged, this, [this](int slide) { scanner_.SetWindowSetting("Slide", slide); });
  connect(preview_, &PreviewArea::areaChanged, this, [this] { scanner_.SetWindowSetting("Area", preview_->Area()); });
  connect(resolution_, &QSpinBox::valueChanged, this, [this] {
    if (DeviceName() != QLatin1String("virtual")) {
      // The bed of the device the preview showed, at the new resolution.
      if (!bedInches_.isEmpty())
        frameSize_ = QSize(qRound(bedInches_.width() * resolution_->value()), qRound(bedInches_.height() * resolution_->value()));
    } else if (slide_->currentIndex() != kHolderSlide) {
      frameSize_ = FrameAt(resolution_->value());
    }
    UpdateInformation();
  });
  connect(preview_, &PreviewArea::areaChanged, this, &ScanWindow::UpdateInformation);
  // Another slide or film: the scanner previews it at once.
  connect(slide_, &QComboBox::currentIndexChanged, this, &ScanWindow::AutoPreview);
  connect(film_, &QComboBox::currentIndexChanged, this, [this](int index) {
    scanner_.SetLoadedFilm(static_cast<Film>(index));
    AutoPreview();
  });
  connect(holder_, &QLineEdit::textChanged, this, [this](const QString& folder) {
    scanner_.SetFilmHolderFolder(folder.trimmed());
    if (slide_->currentIndex() == kHolderSlide) AutoPreview();
  });
  Refresh();
  AutoPreview();
}

void ScanWindow::Refresh() {
  refreshing_ = true;
  const auto fill = [](QComboBox* box, const QList<Item>& items) {
    box->clear();
    auto* model = qobject_cast<QStandardItemModel*>(box->model());
    for (int i = 0; i < items.size(); ++i) {
      if (items[i].code == kItemSeparator) {
        box->insertSeparator(i);
        continue;
      }
      box->addItem(items[i].text);
      if (items[i].code == kItemDisabled && model != nullptr) model->item(i)->setEnabled(false);
      if (items[i].checked) box->setCurrentIndex(i);
    }
  };
  fill(filmType_, scanner_.Items(ItemList::FilmType));
  fill(colorSpace_, scanner_.Items(ItemList::ColorSpace));
  refreshing_ = false;
  UpdateInformation();
}

bool ScanWindow::CurrentSlide(Slide* slide, QString* why) const {
  const Film film = static_cast<Film>(std::max(0, film_->currentIndex()));
  const int index = slide_->currentIndex();
  if (index != kHolderSlide) {
    const FrameKind kind = index == 1 ? FrameKind::Ramps : index == 2 ? FrameKind::Scene : FrameKind::Chart;
    const QSize size = FrameAt(resolution_->value());
    *slide = Slide::BuiltIn(kind, size.width(), size.height(), film);
    return true;
  }
  const QString folder = holder_->text().trimmed();
  QStringList skipped;
  const QStringList files = FilmHolderFiles(folder, &skipped);
  if (folder.isEmpty()) {
    *why = tr("Choose the film holder's folder.");
    return false;
  }
  QString note;
  if (!skipped.isEmpty()) note = tr("\nSkipped (not images this scanner reads): %1").arg(skipped.join(QStringLiteral(", ")));
  const QString file = HolderSlide(files, scanner_.SlidePosition());
  if (file.isEmpty()) {
    *why = tr("The film holder %1 holds no slides.").arg(folder) + note;
    return false;
  }
  QString reason;
  if (!Slide::FromFile(file, film, slide, &reason)) {
    *why = tr("Cannot read the slide %1: %2.").arg(file, reason) + note;
    return false;
  }
  *why = tr("Slide %1 of %2: %3")
             .arg(files.indexOf(file) + 1)
             .arg(files.size())
             .arg(QFileInfo(file).fileName()) +
         note;
  return true;
}

void ScanWindow::Preview() {
  if (DeviceName() != QLatin1String("virtual")) {
    PreviewDevice();
    return;
  }
  Slide slide;
  QString why;
  if (!CurrentSlide(&slide, &why)) {
    preview_->SetImage(QImage());
    frameSize_ = QSize();
    ShowStatus(why);
    UpdateInformation();
    return;
  }
  ShowSlide(slide);
  ShowStatus(slide_->currentIndex() == kHolderSlide ? why : QString());
}

void ScanWindow::AutoPreview() {
  if (DeviceName() == QLatin1String("virtual")) {
    previewed_.clear();
    Preview();
    return;
  }
  // A real device makes a pass only when asked to.
  if (previewed_ == DeviceName()) return;
  preview_->SetImage(QImage());
  frameSize_ = QSize();
  bedInches_ = QSizeF();
  ShowStatus(tr("Preview shows the whole bed of %1.").arg(DeviceName()));
  UpdateInformation();
}

void ScanWindow::PreviewDevice() {
  const QString name = DeviceName();
  QString why;
  std::unique_ptr<ScanDevice> device = OpenSaneDevice(name, &why);
  auto fail = [&](const QString& reason) {
    preview_->SetImage(QImage());
    frameSize_ = QSize();
    bedInches_ = QSizeF();
    previewed_.clear();
    ShowStatus(tr("The scanner %1 cannot preview: %2.").arg(name, reason));
    UpdateInformation();
  };
  if (!device) return fail(why);
  ApplySettings(*device, AdvancedSettings());
  // The whole bed at a low resolution: the lowest the device offers from 50 dpi up.
  double dpi = 50;
  for (const DeviceOption& option : device->Options()) {
    if (option.name != QLatin1String("resolution")) continue;
    if (option.isRange) {
      dpi = std::clamp(50.0, option.min, option.max);
    } else if (!option.words.isEmpty()) {
      QList<double> words = option.words;
      std::sort(words.begin(), words.end());
      dpi = words.last();
      for (double w : words)
        if (w >= 50) {
          dpi = w;
          break;
        }
    }
  }
  ScanJob job;
  job.dpi = static_cast<int>(dpi);
  job.area = QRectF(0, 0, 1, 1);
  DeviceStatus status = device->Setup(job, twain::TWPT_RGB, 8, FilmType::ColorPositive);
  if (!status.ok()) status = device->Setup(job, twain::TWPT_GRAY, 8, FilmType::ColorPositive);
  if (!status.ok()) return fail(status.reason);
  device->SetOption("preview", true, nullptr);  // where the device has a quicker preview pass
  FrameLayout layout;
  Raster raster;
  status = device->Start();
  if (status.ok()) status = device->Layout(&layout);
  if (status.ok()) {
    // The pass is read on a thread of its own: the window stays live, and its Cancel stops
    // the pass. The window may even be closed meanwhile (the source closed by the
    // application): then only what is local here is touched.
    QPointer<ScanWindow> alive(this);
    std::atomic<int> rows{0};
    std::atomic<bool> done{false};
    DeviceStatus read;
    std::thread reader([&] {
      read = ReadWholeImage(*device, layout, &raster, [&](int r) { rows.store(r); });
      done.store(true);
    });
    previewing_ = device.get();
    previewCancelled_ = false;
    SetScanning(true);
    while (!done.load()) {
      QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
      if (!alive) break;
      if (layout.height > 0) SetProgress(double(rows.load()) / layout.height);
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    if (!alive) {
      device->Cancel();
      reader.join();
      device->Close();
      return;
    }
    reader.join();
    previewing_ = nullptr;
    SetProgress(0);
    SetScanning(false);
    status = previewCancelled_ ? DeviceStatus{DeviceStatus::Code::Cancelled, tr("cancelled")} : read;
  }
  device->Close();
  if (status.code == DeviceStatus::Code::Cancelled && previewCancelled_) {
    previewed_.clear();
    ShowStatus(tr("Preview of %1 cancelled.").arg(name));
    return;
  }
  if (!status.ok()) return fail(status.reason);
  if (raster.height <= 0 || raster.width <= 0) return fail(tr("it sent an empty picture"));
  QImage image(raster.width, raster.height, QImage::Format_RGB888);
  const int bytes = raster.bitsPerSample / 8;
  for (int y = 0; y < raster.height; ++y) {
    uchar* out = image.scanLine(y);
    const uint8_t* in = raster.data.data() + static_cast<size_t>(y) * raster.bytesPerRow;
    for (int x = 0; x < raster.width; ++x)
      for (int c = 0; c < 3; ++c) {
        if (raster.bitsPerSample == 1) {
          out[x * 3 + c] = (in[x / 8] >> (7 - x % 8)) & 1 ? 255 : 0;
          continue;
        }
        const int sample = raster.samplesPerPixel == 3 ? c : 0;
        // The high byte of each sample (16-bit samples keep it second in the machine's order).
        out[x * 3 + c] = in[(static_cast<size_t>(x) * raster.samplesPerPixel + sample) * bytes + bytes - 1];
      }
  }
  preview_->SetImage(image);
  bedInches_ = QSizeF(raster.width / dpi, raster.height / dpi);
  frameSize_ = QSize(qRound(bedInches_.width() * resolution_->value()), qRound(bedInches_.height() * resolution_->value()));
  previewed_ = name;
  ShowStatus(tr("Preview of %1").arg(name));
  UpdateInformation();
}

void ScanWindow::ShowSlide(const Slide& slide) {
  const Frame frame = slide.Preview(static_cast<FilmType>(std::max(0, filmType_->currentIndex())), kPreviewWidth,
                                    kPreviewHeight);
  QImage image(frame.width, frame.height, QImage::Format_RGB888);
  for (int y = 0; y < frame.height; ++y) {
    uchar* row = image.scanLine(y);
    for (int x = 0; x < frame.width * 3; ++x) row[x] = static_cast<uchar>(frame.rgb[static_cast<size_t>(y) * frame.width * 3 + x] >> 8);
  }
  preview_->SetImage(image);
  frameSize_ = {slide.Width(), slide.Height()};
  UpdateInformation();
}

void ScanWindow::UpdateInformation() {
  if (!frameSize_.isValid()) {
    // A real device before its preview: the size is known once it has been seen.
    information_->setText(DeviceName() != QLatin1String("virtual")
                              ? tr("The whole bed at %1 dpi (Preview shows it and its size)").arg(resolution_->value())
                              : tr("Nothing to scan"));
    return;
  }
  const ScanJob job = Job();
  const QRect part = AreaPixels(job.area, frameSize_.width(), frameSize_.height());
  const int samples = SamplesPerPixel(job.pixelType);
  const int bits = DeliveredBits(job.pixelType, job.bits);
  const double bytes = double(part.width()) * part.height() * samples * bits / 8.0;
  const QString at = slide_->currentIndex() == kHolderSlide ? tr("at the file's resolution")
                                                              : tr("at %1 dpi").arg(job.dpi);
  const QString what = job.area.isEmpty() ? tr("Whole frame") : tr("Area");
  information_->setText(tr("%1: %2 × %3 pixels %4, %5")
                            .arg(what)
                            .arg(part.width())
                            .arg(part.height())
                            .arg(at, Bytes(bytes)));
}

ScanJob ScanWindow::Job() const {
  ScanJob job;
  const QList<ColorSpaceEntry>& spaces = VirtualScanner::ColorSpaces();
  const int index = colorSpace_->currentIndex();
  const ColorSpaceEntry space = index >= 0 && index < spaces.size() && spaces[index].text != nullptr
                                    ? spaces[index]
                                    : ColorSpaceEntry{nullptr, twain::TWPT_RGB, 8};
  job.pixelType = space.pixelType;
  job.bits = space.bits;
  job.dpi = resolution_->value();
  const QSize frame = FrameAt(job.dpi);
  job.width = frame.width();
  job.height = frame.height();
  const int slide = slide_->currentIndex();
  if (slide == kHolderSlide) job.holder = holder_->text().trimmed();
  else job.frame = slide == 1 ? FrameKind::Ramps : slide == 2 ? FrameKind::Scene : FrameKind::Chart;
  job.area = preview_->Area();
  job.film = static_cast<Film>(std::max(0, film_->currentIndex()));
  job.filmType = static_cast<FilmType>(std::max(0, filmType_->currentIndex()));
  // Strips of about a megabyte: enough of them for the progress to move smoothly.
  const int rowBytes = std::max(1, job.width * std::max(1, SamplesPerPixel(job.pixelType)) * DeliveredBits(job.pixelType, job.bits) / 8);
  job.stripRows = std::clamp((1 << 20) / rowBytes, 1, 256);
  return job;
}

void ScanWindow::SetProgress(double fraction) {
  const int value = static_cast<int>(std::clamp(fraction, 0.0, 1.0) * 1000);
  if (value == progress_->value()) return;
  progress_->setValue(value);
  // Painted at once, the scan running inside the application's transfer loop; but only
  // every 40 ms or twentieth of the way: each painting also paints what else waits for it.
  const bool due = value == 0 || value == 1000 || !progressPainted_.isValid() || progressPainted_.elapsed() >= 40 ||
                   std::abs(value - paintedProgress_) >= 50;
  if (progress_->isVisible() && due) {
    progress_->repaint();
    progressPainted_.start();
    paintedProgress_ = value;
  }
}

void ScanWindow::ShowStatus(const QString& text) { status_->setText(text); }
QString ScanWindow::Status() const { return status_->text(); }

void ScanWindow::SetDeviceNote(const QString& text) {
  deviceNote_->setText(text);
  deviceNote_->setVisible(!text.isEmpty());
}

QString ScanWindow::DeviceName() const {
  const QString name = device_->currentData().toString();
  return name.isEmpty() ? QStringLiteral("virtual") : name;
}

bool ScanWindow::ChooseDevice(const QString& name) {
  int at = device_->findData(name);
  if (at < 0) {
    RefreshDevices();
    at = device_->findData(name);
  }
  if (at < 0) return false;
  const bool changed = DeviceName() != name;
  device_->setCurrentIndex(at);
  scanner_.SetWindowSetting("Device", name);
  SetDeviceNote(QString());
  if (changed) emit deviceChanged();
  return true;
}

void ScanWindow::RefreshDevices() {
  QSignalBlocker block(device_);
  device_->clear();
  device_->addItem(tr("Virtual film scanner"), QStringLiteral("virtual"));
  QString why;
  const QList<SaneDeviceInfo> devices = SaneDevices(&why);
  for (const SaneDeviceInfo& d : devices) device_->addItem(QStringLiteral("%1 (%2)").arg(d.Title(), d.name), d.name);
  if (!why.isEmpty()) SetDeviceNote(why);
}

void ScanWindow::SetScanning(bool scanning) {
  for (QWidget* w : settingsWidgets_) w->setEnabled(!scanning);
  if (!scanning) advancedButton_->setEnabled(DeviceName() != QLatin1String("virtual"));
  if (advanced_ != nullptr) advanced_->SetScanning(scanning);
}

OptionSettings ScanWindow::AdvancedSettings() const {
  // Kept by device name: each device has its own options.
  const QVariantList stored = scanner_.WindowSetting("AdvancedOptions", QVariantMap()).toMap().value(DeviceName()).toList();
  OptionSettings settings;
  for (const QVariant& entry : stored) {
    const QVariantList pair = entry.toList();
    if (pair.size() == 2) settings.push_back({pair[0].toString(), pair[1]});
  }
  return settings;
}

void ScanWindow::ShowAdvanced() {
  if (DeviceName() == QLatin1String("virtual")) return;
  if (advanced_ == nullptr) {
    advanced_ = new AdvancedPanel(this);
    connect(advanced_, &AdvancedPanel::settingsChanged, this, [this](const QString& device, const OptionSettings& settings) {
      QVariantList stored;
      for (const auto& [name, value] : settings) stored.push_back(QVariantList{name, value});
      QVariantMap all = scanner_.WindowSetting("AdvancedOptions", QVariantMap()).toMap();
      if (stored.isEmpty()) all.remove(device);
      else all[device] = stored;
      scanner_.SetWindowSetting("AdvancedOptions", all);
      // What the preview showed may no longer be what the device scans.
      UpdateInformation();
    });
    connect(advanced_, &AdvancedPanel::parametersChanged, this, &ScanWindow::UpdateInformation);
  }
  const bool placed = advanced_->isVisible();
  advanced_->ShowDevice(DeviceName(), AdvancedSettings());
  advanced_->show();
  advanced_->raise();
  if (placed) return;
  // Beside the scanner window where the screen has room, else over it; on the screen either way.
  if (const QScreen* s = screen()) {
    const QRect room = s->availableGeometry();
    const QSize size = advanced_->frameGeometry().size().boundedTo(room.size());
    QPoint at = frameGeometry().topRight() + QPoint(1, 0);
    if (at.x() + size.width() > room.right() + 1) at.setX(frameGeometry().left() - size.width() - 1);
    if (at.x() < room.left()) at.setX(frameGeometry().center().x() - size.width() / 2);
    at.setX(std::clamp(at.x(), room.left(), room.right() + 1 - size.width()));
    // Before the window manager has framed the panel, allow for its title bar.
    const int title = advanced_->frameGeometry().top() == advanced_->geometry().top()
                          ? style()->pixelMetric(QStyle::PM_TitleBarHeight)
                          : 0;
    at.setY(std::clamp(at.y(), room.top(), room.bottom() + 1 - size.height()) + title);
    advanced_->move(at);
  }
}

void ScanWindow::ShowResolutionTaken(int dpi) {
  if (dpi <= 0 || dpi == resolution_->value()) return;
  const QSignalBlocker block(resolution_);
  resolution_->setValue(dpi);
  scanner_.SetWindowSetting("Resolution", resolution_->value());
  ShowStatus(tr("%1 scans at %2 dpi.").arg(DeviceName()).arg(resolution_->value()));
}

void ScanWindow::Place(const QRect& stored) {
  if (stored.isValid()) {
    resize(stored.size());
    move(stored.topLeft());
  } else if (QWidget* owner = parentWidget(); owner != nullptr && owner->isVisible()) {
    // The first time: beside the main window where the screen has room for it, so that the
    // scans arriving in the main window stay in sight; else over the middle of it.
    const QRect over = owner->window()->frameGeometry();
    resize(sizeHint());
    const QScreen* s = owner->window()->screen();
    const QRect beside(over.topRight() + QPoint(1, 0), frameSize().expandedTo(size()));
    if (s != nullptr && s->availableGeometry().contains(beside))
      move(beside.topLeft());
    else
      move(over.center() - QPoint(width() / 2, height() / 2));
  }
  KeepOnScreen();
}

void ScanWindow::KeepOnScreen() {
  QScreen* s = screen();
  if (s == nullptr) return;
  const QRect available = s->availableGeometry();
  // Before the window manager has framed the window, allow for a title bar.
  QMargins frame(frameGeometry().left() - geometry().left(), geometry().top() - frameGeometry().top(),
                 frameGeometry().right() - geometry().right(), frameGeometry().bottom() - geometry().bottom());
  if (!isVisible() || frame.isNull()) frame = QMargins(0, style()->pixelMetric(QStyle::PM_TitleBarHeight), 0, 0);
  const QSize room = available.size().shrunkBy(frame);
  if (!room.isEmpty() && (width() > room.width() || height() > room.height())) resize(size().boundedTo(room));
  const QRect placed = QRect(pos(), size()).marginsAdded(QMargins(0, 0, frame.left() + frame.right(), frame.top() + frame.bottom()));
  const int left = std::clamp(placed.left(), available.left(), std::max(available.left(), available.right() + 1 - placed.width()));
  const int top = std::clamp(placed.top(), available.top(), std::max(available.top(), available.bottom() + 1 - placed.height()));
  if (QPoint(left, top) != pos()) move(left, top);
}

void ScanWindow::showEvent(QShowEvent* event) {
  QWidget::showEvent(event);
  // A tool window of the application's main window: it stays above it.
  if (QWidget* owner = parentWidget(); owner != nullptr && windowHandle() != nullptr)
    if (QWindow* ownerWindow = owner->window()->windowHandle()) windowHandle()->setTransientParent(ownerWindow);
  // Never larger than the screen, and on it, once the window manager has framed it.
  KeepOnScreen();
  QTimer::singleShot(200, this, &ScanWindow::KeepOnScreen);
}

void ScanWindow::CancelPreview() {
  if (previewing_ == nullptr) return;
  previewCancelled_ = true;
  previewing_->Cancel();
}

void ScanWindow::closeEvent(QCloseEvent* event) {
  // Closing the window asks the application to close the source, as Cancel does when idle;
  // a preview pass under way stops first.
  event->ignore();
  if (previewing_ != nullptr) {
    CancelPreview();
    return;
  }
  emit cancelRequested();
}

}  // namespace orvax::ds
