#include "feeder_dialog.h"

#include "resources.h"

#include <QContextMenuEvent>
#include <QDialogButtonBox>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QMessageBox>
#include <QVBoxLayout>

namespace larkspur {

namespace {

struct MoveSpec {
  MoveType type;
  int id, up, down;
  int x;
  int steps;
  uint8_t direction;
};

// Each move button: its type, control, bitmaps, left edge, and the move it makes.
constexpr MoveSpec kMoves[] = {
    {kBack, IDC_BACK, IDB_BACK_UP, IDB_BACK_DOWN, 74, 10, 1},
    {kForward, IDC_FORWARD, IDB_FORWARD_UP, IDB_FORWARD_DOWN, 108, 10, 0},
    {kFastBack, IDC_FAST_BACK, IDB_FAST_BACK_UP, IDB_FAST_BACK_DOWN, 40, 50, 1},
    {kFastForward, IDC_FAST_FORWARD, IDB_FAST_FORWARD_UP, IDB_FAST_FORWARD_DOWN, 140, 50, 0},
};

}  // namespace

FeederDialog::FeederDialog(QWidget* parent) : QDialog(parent) {
  setWindowTitle(kAppTitle);
  // The large and small icons.
  setWindowIcon(AppIcon());
  showMessage = [this](const QString& text) { QMessageBox::warning(this, kAppTitle, text); };

  // The system menu: the window manager's own menu cannot be extended here, so the dialog
  // keeps one of its own, opened with Alt+Space or from the dialog's background.
  systemMenu_ = new QMenu(this);
  systemMenu_->addAction(tr("&Close"))->setData(0);
  systemMenu_->addSeparator();
  systemMenu_->addAction(LoadString(IDS_ABOUTBOX))->setData(IDM_ABOUTBOX);
  connect(systemMenu_, &QMenu::triggered, this, &FeederDialog::OnSystemCommand);

  strip_ = new QLabel(this);
  strip_->setPixmap(LoadBitmap(IDB_STRIP));
  strip_->resize(kStripWidth, kStripHeight);
  position_ = new QLabel(this);
  position_->setObjectName(QStringLiteral("position"));
  position_->resize(244, 20);
  for (const MoveSpec& m : kMoves) moveButtons_[m.type] = new MoveButton(m.id, m.up, m.down, m.type, this);
  deviceButton_ = new DeviceButton(IDC_DEVICE, IDB_DEVICE_UP, IDB_DEVICE_DOWN, this);
  ok_ = new QPushButton(tr("OK"), this);
  ok_->setDefault(true);
  ok_->resize(50, 24);
  connect(ok_, &QPushButton::clicked, this, &QDialog::accept);

  deviceMenu_ = new QMenu(this);
  deviceMenu_->setObjectName(QStringLiteral("menu%1").arg(IDR_DEVICE_MENU));
  placeholder_ = deviceMenu_->addAction(tr("(no device)"));
  placeholder_->setEnabled(false);
  connect(deviceMenu_, &QMenu::triggered, this, &FeederDialog::OnDeviceCommand);

  repeatTimer_ = new QTimer(this);
  repeatTimer_->setObjectName(QStringLiteral("timer%1").arg(kRepeatTimerId));
  connect(repeatTimer_, &QTimer::timeout, this, &FeederDialog::OnRepeatTick);
}

FeederDialog::~FeederDialog() {
  if (!closed_) manager_.Close();
}

bool FeederDialog::Start(const std::string& modulePath) {
  if (!manager_.Open(modulePath)) {
    showMessage(LoadString(IDS_CANNOT_OPEN_DRIVER));
    return false;
  }
  for (int index = 0;; ++index) {
    std::string text;
    const bool accepted = manager_.Accept(index, text);
    if (text.empty()) break;
    if (!accepted) continue;
    if (placeholder_ != nullptr) {
      deviceMenu_->removeAction(placeholder_);
      delete placeholder_;
      placeholder_ = nullptr;
    }
    const int number = static_cast<int>(texts_.size());
    texts_.push_back(DeviceLabel(QString::fromLatin1(text.c_str())));
    positions_.push_back(0);
    deviceMenu_->addAction(texts_.back())->setData(IDM_DEVICE_FIRST + number);
  }
  if (texts_.empty()) {
    showMessage(LoadString(IDS_NO_FEEDER));
    manager_.Close();
    closed_ = true;
    return false;
  }
  selected_ = 0;
  deviceButton_->SetDeviceText(texts_.front());
  PlaceControls();
  ShowPosition();
  return true;
}

void FeederDialog::PlaceControls() {
  setFixedSize(kClientWidth, kClientHeight);
  deviceButton_->move(20, 30);
  moveButtons_[kFastBack]->move(40, 92);
  moveButtons_[kBack]->move(74, 92);
  moveButtons_[kForward]->move(108, 92);
  moveButtons_[kFastForward]->move(140, 92);
  strip_->move(20, 92);
  strip_->lower();
  position_->move(20, 62);
  ok_->move(227, 83);
}

void FeederDialog::done(int result) {
  // The exit sequence runs once, whether the dialog ends by OK or by closing.
  repeatTimer_->stop();
  if (!closed_) {
    manager_.Close();
    closed_ = true;
  }
  QDialog::done(result);
}

bool FeederDialog::event(QEvent* e) {
  if (e->type() == kMoveButtonMessage) {
    auto* m = static_cast<DialogMessage*>(e);
    OnMoveButton(m->wParam, m->lParam);
    return true;
  }
  if (e->type() == kDeviceMenuMessage) {
    deviceMenu_->popup(deviceButton_->mapToGlobal(QPoint(0, deviceButton_->height())));
    return true;
  }
  return QDialog::event(e);
}

void FeederDialog::OnMoveButton(int wParam, int type) {
  if (type < kBack || type > kFastForward) return;
  if (wParam == 0) {
    heldType_ = type;
    firstTick_ = true;
    repeatTimer_->start(kRepeatMs);
  } else {
    repeatTimer_->stop();
    heldType_ = type;
    MoveOnce();
  }
}

void FeederDialog::OnRepeatTick() {
  repeatTimer_->start(kRepeatMs);
  if (firstTick_) firstTick_ = false;
  MoveOnce();
}

void FeederDialog::MoveOnce() {
  if (closed_ || selected_ < 0 || selected_ >= static_cast<int>(manager_.Devices().size())) return;
  for (const MoveSpec& m : kMoves) {
    if (m.type != heldType_) continue;
    // A failed move brings no message box; the position line says so, and the user simply
    // tries again.
    const uint32_t status = manager_.Move(manager_.Devices()[static_cast<size_t>(selected_)], m.steps, m.direction);
    lastFailed_ = !Succeeded(status);
    if (!lastFailed_) {
      lastSteps_ = m.direction == 0 ? m.steps : -m.steps;
      positions_[static_cast<size_t>(selected_)] += lastSteps_;
    }
    ShowPosition();
  }
}

void FeederDialog::ShowPosition() {
  if (selected_ < 0 || selected_ >= static_cast<int>(positions_.size())) return;
  position_->setText(PositionText(positions_[static_cast<size_t>(selected_)], lastSteps_, lastFailed_));
}

QString FeederDialog::DeviceLabel(const QString& deviceText) {
  // vendor (6), product (7), " ", revision (4), " ID=", target ID, "HA=", host adapter
  const qsizetype id = deviceText.lastIndexOf(QLatin1String(" ID="));
  const qsizetype ha = deviceText.indexOf(QLatin1String("HA="), id + 4);
  if (id < 0 || ha < 0) return deviceText;
  const QString target = deviceText.mid(id + 4, ha - id - 4).trimmed();
  const QString adapter = deviceText.mid(ha + 3).trimmed();
  return LoadString(IDS_DEVICE_LABEL).arg(deviceText.left(id).simplified(), target, adapter);
}

QString FeederDialog::PositionText(long position, int lastSteps, bool failed) {
  const QString steps = position > 0 ? QStringLiteral("+%1").arg(position) : QString::number(position);
  QString text = LoadString(IDS_POSITION).arg(steps);
  if (failed) text += QLatin1Char(' ') + LoadString(IDS_MOVE_FAILED);
  else if (lastSteps > 0) text += QLatin1Char(' ') + LoadString(IDS_MOVED_FORWARD).arg(lastSteps);
  else if (lastSteps < 0) text += QLatin1Char(' ') + LoadString(IDS_MOVED_BACK).arg(-lastSteps);
  return text;
}

void FeederDialog::OnDeviceCommand(QAction* action) {
  const int index = action->data().toInt() - IDM_DEVICE_FIRST;
  if (index < 0 || index >= static_cast<int>(texts_.size())) return;
  deviceButton_->SetDeviceText(texts_[static_cast<size_t>(index)]);
  if (index == selected_ || closed_) return;
  manager_.Deselect(manager_.Devices()[static_cast<size_t>(selected_)]);
  selected_ = index;
  lastSteps_ = 0;
  lastFailed_ = false;
  ShowPosition();
}

void FeederDialog::OnSystemCommand(QAction* action) {
  if (action->data().toInt() == IDM_ABOUTBOX) {
    QDialog* about = CreateAboutBox(this);
    about->exec();
    delete about;
  } else {
    reject();
  }
}

void FeederDialog::contextMenuEvent(QContextMenuEvent* e) { systemMenu_->popup(e->globalPos()); }

void FeederDialog::keyPressEvent(QKeyEvent* e) {
  if (e->key() == Qt::Key_Space && e->modifiers() == Qt::AltModifier) {
    systemMenu_->popup(mapToGlobal(QPoint(0, 0)));
    return;
  }
  QDialog::keyPressEvent(e);
}

QDialog* FeederDialog::CreateAboutBox(QWidget* parent) {
  auto* about = new QDialog(parent);
  about->setWindowTitle(kAboutTitle);
  auto* icon = new QLabel(about);
  icon->setPixmap(AppIcon().pixmap(32, 32));
  auto* line = new QLabel(kAboutLine, about);
  line->setObjectName(QStringLiteral("version"));
  auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok, about);
  QObject::connect(buttons, &QDialogButtonBox::accepted, about, &QDialog::accept);
  auto* row = new QHBoxLayout;
  row->addWidget(icon);
  row->addWidget(line, 1);
  auto* column = new QVBoxLayout(about);
  column->addLayout(row);
  column->addWidget(buttons);
  return about;
}

}  // namespace larkspur
