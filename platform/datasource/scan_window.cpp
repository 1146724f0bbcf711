#include "scan_window.h"

#include "datasource/ds_exports.h"
#include "datasource/ds_twain.h"
#include "virtual_scanner.h"

#include <QCloseEvent>
#include <QComboBox>
#include <QFileDialog>
#include <QFormLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QImage>
#include <QLabel>
#include <QLineEdit>
#include <QPixmap>
#include <QProgressBar>
#include <QPushButton>
#include <QSpinBox>
#include <QVBoxLayout>

#include <cmath>

namespace orvax::ds {

namespace {
// The colour spaces the window offers: text, pixel type, bits a sample.
struct Space {
  const char* text;
  int pixelType;
  int bits;
};
constexpr Space kSpaces[] = {
    {"Black and White", twain::TWPT_BW, 1}, {"8 bit Grayscale", twain::TWPT_GRAY, 8},
    {"16 bit Grayscale", twain::TWPT_GRAY, 16}, {"24 bit RGB", twain::TWPT_RGB, 8},
    {"48 bit RGB", twain::TWPT_RGB, 16}, {"32 bit CMYK", twain::TWPT_CMYK, 8}, {"48 bit HSL", TWPT_HSL, 16},
};
}  // namespace

ScanWindow::ScanWindow(VirtualScanner& scanner, QWidget* parent) : QWidget(parent, Qt::Window), scanner_(scanner) {
  setObjectName("OrvaxScanWindow");
  setWindowTitle(tr("Orvax Scan 2.2"));

  preview_ = new QLabel;
  preview_->setObjectName("preview");
  preview_->setMinimumSize(240, 160);
  preview_->setAlignment(Qt::AlignCenter);
  preview_->setFrameStyle(QFrame::Sunken | QFrame::Panel);

  auto* form = new QFormLayout;
  resolution_ = new QSpinBox;
  resolution_->setObjectName("resolution");
  resolution_->setRange(75, 4800);
  resolution_->setValue(300);
  resolution_->setSuffix(tr(" dpi"));
  form->addRow(tr("Resolution:"), resolution_);

  filmType_ = new QComboBox;
  filmType_->setObjectName("filmType");
  form->addRow(tr("Film type:"), filmType_);
  connect(filmType_, &QComboBox::activated, this, [this](int index) {
    scanner_.Select(ItemList::FilmType, index);
    Refresh();
  });

  colorSpace_ = new QComboBox;
  colorSpace_->setObjectName("colorSpace");
  for (const Space& s : kSpaces) colorSpace_->addItem(tr(s.text));
  // Start from the colour space chosen in the application's Scan Color Space menu.
  const QList<Item> items = scanner_.Items(ItemList::ColorSpace);
  for (const Item& item : items)
    if (item.checked) colorSpace_->setCurrentIndex(std::max(0, colorSpace_->findText(item.text)));
  form->addRow(tr("Color space:"), colorSpace_);

  slide_ = new QComboBox;
  slide_->setObjectName("slide");
  slide_->addItems({tr("Color chart"), tr("Gray and color ramps"), tr("Scene"), tr("Film holder")});
  slide_->setCurrentIndex(scanner_.FilmHolderFolder().isEmpty() ? 0 : 3);
  form->addRow(tr("Slide:"), slide_);

  holder_ = new QLineEdit(scanner_.FilmHolderFolder());
  holder_->setObjectName("filmHolder");
  auto* browse = new QPushButton(tr("Browse..."));
  connect(browse, &QPushButton::clicked, this, [this] {
    const QString folder = QFileDialog::getExistingDirectory(this, tr("Film Holder Folder"), holder_->text());
    if (folder.isEmpty()) return;
    holder_->setText(folder);
    scanner_.SetFilmHolderFolder(folder);
    slide_->setCurrentIndex(3);
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
    Refresh();
  });

  progress_ = new QProgressBar;
  progress_->setObjectName("progress");
  progress_->setRange(0, 1000);
  progress_->setValue(0);

  auto* scan = new QPushButton(tr("Scan"));
  scan->setObjectName("scan");
  scan->setDefault(true);
  auto* cancel = new QPushButton(tr("Cancel"));
  cancel->setObjectName("cancel");
  connect(scan, &QPushButton::clicked, this, &ScanWindow::scanRequested);
  connect(cancel, &QPushButton::clicked, this, &ScanWindow::cancelRequested);
  auto* buttons = new QHBoxLayout;
  buttons->addStretch(1);
  buttons->addWidget(scan);
  buttons->addWidget(cancel);

  auto* layout = new QVBoxLayout(this);
  layout->addWidget(preview_, 1);
  layout->addLayout(form);
  layout->addWidget(feeder);
  layout->addWidget(progress_);
  layout->addLayout(buttons);
  Refresh();
  ShowPreview(BuiltInFrame(FrameKind::Chart, 240, 160));
}

void ScanWindow::Refresh() {
  filmType_->clear();
  for (const Item& item : scanner_.Items(ItemList::FilmType)) {
    filmType_->addItem(item.text);
    if (item.checked) filmType_->setCurrentIndex(filmType_->count() - 1);
  }
}

ScanJob ScanWindow::Job() const {
  ScanJob job;
  const Space& space = kSpaces[std::max(0, colorSpace_->currentIndex())];
  job.pixelType = space.pixelType;
  job.bits = space.bits;
  job.dpi = resolution_->value();
  // A 35 mm frame, 36 x 24 mm, at the chosen resolution.
  job.width = static_cast<int>(std::lround(36.0 / 25.4 * job.dpi));
  job.height = static_cast<int>(std::lround(24.0 / 25.4 * job.dpi));
  const int slide = slide_->currentIndex();
  if (slide == 3) job.holder = holder_->text();
  else job.frame = slide == 1 ? FrameKind::Ramps : slide == 2 ? FrameKind::Scene : FrameKind::Chart;
  return job;
}

void ScanWindow::ShowPreview(const Frame& frame) {
  QImage image(frame.width, frame.height, QImage::Format_RGB888);
  for (int y = 0; y < frame.height; ++y) {
    uchar* row = image.scanLine(y);
    for (int x = 0; x < frame.width * 3; ++x) row[x] = static_cast<uchar>(frame.rgb[static_cast<size_t>(y) * frame.width * 3 + x] >> 8);
  }
  preview_->setPixmap(QPixmap::fromImage(image.scaled(240, 160, Qt::KeepAspectRatio, Qt::SmoothTransformation)));
}

void ScanWindow::SetProgress(double fraction) {
  progress_->setValue(static_cast<int>(std::clamp(fraction, 0.0, 1.0) * 1000));
}

void ScanWindow::closeEvent(QCloseEvent* event) {
  // Closing the window asks the application to close the source, as Cancel does when idle.
  event->ignore();
  emit cancelRequested();
}

}  // namespace orvax::ds
