#include "advanced_panel.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDoubleSpinBox>
#include <QFormLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QScrollArea>
#include <QScrollBar>
#include <QSpinBox>
#include <QVBoxLayout>

#include <algorithm>
#include <climits>
#include <cmath>

namespace orvax::ds {

namespace {

QString UnitSuffix(const DeviceOption& o) {
  if (o.unit.isEmpty()) return {};
  return o.unit == QLatin1String("%") ? o.unit : QStringLiteral(" ") + o.unit;
}

QString Number(const DeviceOption& o, double v) {
  return o.type == DeviceOption::Type::Fixed ? QString::number(v, 'g', 6) : QString::number(static_cast<qlonglong>(std::llround(v)));
}

// The decimals a fixed-point option's steps need (SANE's fixed point has 16 bits of fraction).
// The decimals a fixed-point option's values need: those of its steps and of its lowest
// value (SANE's fixed point has 16 bits of fraction: five decimals at most).
int Decimals(const DeviceOption& o) {
  if (!o.isRange || o.quant <= 0) return 3;
  const auto places = [](double v) {
    int decimals = 0;
    for (; decimals < 5 && std::fabs(v - std::round(v)) > 1e-4; v *= 10) ++decimals;
    return decimals;
  };
  return std::max({1, places(o.quant), places(o.min)});
}

// A list as wide as the panel allows: long entries (a backend's status names, a sentence)
// are cut in the closed list, not the panel widened for them.
QComboBox* NarrowList() {
  auto* list = new QComboBox;
  list->setSizeAdjustPolicy(QComboBox::AdjustToMinimumContentsLengthWithIcon);
  list->setMinimumContentsLength(12);
  return list;
}

}  // namespace

AdvancedPanel::AdvancedPanel(QWidget* parent) : QWidget(parent, Qt::Tool) {
  setObjectName("advancedPanel");
  setWindowTitle(tr("Advanced Options"));
  showAdvanced_ = new QCheckBox(tr("Show advanced options"));
  showAdvanced_->setObjectName("showAdvanced");
  scroll_ = new QScrollArea;
  scroll_->setWidgetResizable(true);
  scroll_->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
  status_ = new QLabel;
  status_->setObjectName("advancedStatus");
  status_->setWordWrap(true);
  status_->hide();
  auto* defaults = defaults_ = new QPushButton(tr("Defaults"));
  defaults->setObjectName("defaults");
  defaults->setToolTip(tr("Forget the options set here: the device's own defaults apply again."));
  auto* close = new QPushButton(tr("Close"));
  auto* buttons = new QHBoxLayout;
  buttons->addWidget(defaults);
  buttons->addStretch(1);
  buttons->addWidget(close);
  auto* layout = new QVBoxLayout(this);
  layout->addWidget(showAdvanced_);
  layout->addWidget(scroll_, 1);
  layout->addWidget(status_);
  layout->addLayout(buttons);
  resize(460, 560);
  connect(showAdvanced_, &QCheckBox::toggled, this, [this] { Build(options_); });
  connect(close, &QPushButton::clicked, this, &QWidget::close);
  connect(defaults, &QPushButton::clicked, this, [this] {
    settings_.clear();
    emit settingsChanged(device_, settings_);
    std::unique_ptr<ScanDevice> device = Open();
    Build(device ? device->Options() : QList<DeviceOption>{});
    emit parametersChanged();
  });
}

QString AdvancedPanel::Status() const { return status_->text(); }

void AdvancedPanel::ShowStatus(const QString& text) {
  status_->setText(text);
  status_->setVisible(!text.isEmpty());
}

void AdvancedPanel::ShowDevice(const QString& device, const OptionSettings& settings) {
  device_ = device;
  settings_ = settings;
  setWindowTitle(tr("Advanced Options - %1").arg(device));
  ShowStatus(QString());
  std::unique_ptr<ScanDevice> opened = Open();
  Build(opened ? opened->Options() : QList<DeviceOption>{});
}

std::unique_ptr<ScanDevice> AdvancedPanel::Open() {
  QString why;
  std::unique_ptr<ScanDevice> device = OpenSaneDevice(device_, &why);
  if (!device) {
    ShowStatus(tr("The scanner %1 cannot be read: %2.").arg(device_, why));
    return nullptr;
  }
  ApplySettings(*device, settings_);
  return device;
}

void AdvancedPanel::Set(const QString& name, const QVariant& value) {
  if (filling_) return;
  std::unique_ptr<ScanDevice> device = Open();
  if (!device) return;
  QString why;
  int effect = 0;
  const bool set = device->SetOption(name, value, &why, &effect);
  const QList<DeviceOption> options = device->Options();
  device->Close();
  if (!set) {
    ShowStatus(tr("%1.").arg(why));
    Fill(options);
    return;
  }
  const auto it = std::find_if(options.begin(), options.end(), [&](const DeviceOption& o) { return o.name == name; });
  if (it != options.end() && it->type != DeviceOption::Type::Button) {
    // What the device holds now, which may be near the value asked for.
    const QVariant held = it->count > 1 ? QVariant(it->values) : it->value;
    settings_.erase(std::remove_if(settings_.begin(), settings_.end(), [&](const auto& s) { return s.first == name; }),
                    settings_.end());
    settings_.push_back({name, held.isValid() ? held : value});
    emit settingsChanged(device_, settings_);
    ShowStatus((effect & kOptionInexact) != 0 && it->count == 1
                   ? tr("%1 is %2, the nearest value the device takes.").arg(it->title, held.toString())
                   : QString());
  } else {
    ShowStatus(QString());
  }
  if ((effect & kOptionReloadOptions) != 0) Build(options);
  else Fill(options);
  if ((effect & kOptionReloadParams) != 0) emit parametersChanged();
}

void AdvancedPanel::Build(const QList<DeviceOption>& options) {
  options_ = options;
  // The widget that asked for the change may be among the old ones: they go later.
  const int scrolled = scroll_->verticalScrollBar()->value();
  if (QWidget* old = scroll_->takeWidget()) old->deleteLater();
  auto* content = new QWidget;
  auto* layout = new QVBoxLayout(content);
  QFormLayout* form = nullptr;
  QString group;
  int shown = 0;
  for (const DeviceOption& o : options) {
    if (o.type == DeviceOption::Type::Group || o.name.isEmpty() || IsWindowOption(o.name)) continue;
    if (o.advanced && !showAdvanced_->isChecked()) continue;
    if (form == nullptr || o.group != group) {
      group = o.group;
      auto* box = new QGroupBox(group.isEmpty() ? tr("Options") : group);
      form = new QFormLayout(box);
      layout->addWidget(box);
    }
    const QString name = o.name;
    QWidget* widget = nullptr;
    QString label = o.title.isEmpty() ? o.name : o.title;
    if (o.type == DeviceOption::Type::Bool) {
      auto* box = new QCheckBox;
      connect(box, &QCheckBox::toggled, this, [this, name](bool on) { Set(name, on); });
      widget = box;
    } else if (o.type == DeviceOption::Type::Button) {
      auto* button = new QPushButton(label);
      connect(button, &QPushButton::clicked, this, [this, name] { Set(name, QVariant()); });
      widget = button;
      label.clear();
    } else if (o.type == DeviceOption::Type::String && !o.strings.isEmpty()) {
      auto* list = NarrowList();
      list->addItems(o.strings);
      connect(list, &QComboBox::activated, this, [this, name, list](int i) { Set(name, list->itemText(i)); });
      widget = list;
    } else if (o.type == DeviceOption::Type::String) {
      auto* edit = new QLineEdit;
      connect(edit, &QLineEdit::editingFinished, this, [this, name, edit] {
        if (edit->isModified()) Set(name, edit->text());
        edit->setModified(false);
      });
      widget = edit;
    } else if (o.count > 1) {
      // An array (a gamma table and the like): its values, separated by commas.
      auto* edit = new QLineEdit;
      const bool fixed = o.type == DeviceOption::Type::Fixed;
      connect(edit, &QLineEdit::editingFinished, this, [this, name, edit, fixed] {
        if (!edit->isModified()) return;
        edit->setModified(false);
        QVariantList values;
        for (const QString& part : edit->text().split(',', Qt::SkipEmptyParts)) {
          bool ok = false;
          const double v = part.trimmed().toDouble(&ok);
          if (!ok || (!fixed && v != std::floor(v))) {
            ShowStatus(tr("%1 is not a number this option takes.").arg(part.trimmed()));
            return;
          }
          values.push_back(v);
        }
        if (!values.isEmpty()) Set(name, values);
      });
      widget = edit;
    } else if (!o.words.isEmpty()) {
      auto* list = NarrowList();
      for (double w : o.words) list->addItem(Number(o, w) + UnitSuffix(o), w);
      connect(list, &QComboBox::activated, this, [this, name, list](int i) { Set(name, list->itemData(i)); });
      widget = list;
    } else if (o.type == DeviceOption::Type::Fixed) {
      auto* spin = new QDoubleSpinBox;
      spin->setDecimals(Decimals(o));
      spin->setRange(o.isRange ? o.min : -32768.0, o.isRange ? o.max : 32767.9999);
      if (o.isRange && o.quant > 0) spin->setSingleStep(o.quant);
      spin->setSuffix(UnitSuffix(o));
      spin->setKeyboardTracking(false);
      connect(spin, &QDoubleSpinBox::valueChanged, this, [this, name](double v) { Set(name, v); });
      widget = spin;
    } else {
      auto* spin = new QSpinBox;
      spin->setRange(o.isRange ? static_cast<int>(o.min) : INT_MIN, o.isRange ? static_cast<int>(o.max) : INT_MAX);
      if (o.isRange && o.quant > 0) spin->setSingleStep(static_cast<int>(o.quant));
      spin->setSuffix(UnitSuffix(o));
      spin->setKeyboardTracking(false);
      connect(spin, &QSpinBox::valueChanged, this, [this, name](int v) { Set(name, v); });
      widget = spin;
    }
    widget->setObjectName(o.name);
    QString tip = o.description;
    if (o.isRange && o.count == 1)
      tip += tr("\n\n%1 to %2%3").arg(Number(o, o.min), Number(o, o.max), UnitSuffix(o)) +
             (o.quant > 0 ? tr(", in steps of %1").arg(Number(o, o.quant)) : QString());
    widget->setToolTip(tip);
    form->addRow(label, widget);
    ++shown;
  }
  if (shown == 0)
    layout->addWidget(new QLabel(device_.isEmpty() ? tr("No device chosen.") : tr("The device has no further options.")));
  layout->addStretch(1);
  scroll_->setWidget(content);
  Fill(options);
  // The panel built anew stays where the person was in it.
  content->adjustSize();
  scroll_->verticalScrollBar()->setValue(scrolled);
}

void AdvancedPanel::SetScanning(bool scanning) {
  scroll_->setEnabled(!scanning);
  defaults_->setEnabled(!scanning);
  showAdvanced_->setEnabled(!scanning);
}

void AdvancedPanel::Fill(const QList<DeviceOption>& options) {
  QWidget* content = scroll_->widget();
  if (content == nullptr) return;
  filling_ = true;
  for (const DeviceOption& o : options) {
    if (o.name.isEmpty()) continue;
    QWidget* w = content->findChild<QWidget*>(o.name);
    if (w == nullptr) continue;
    // An inactive option, or one only the device sets (a button on it, a sensor), cannot be changed.
    w->setEnabled(o.active && o.settable);
    const QSignalBlocker block(w);
    if (auto* box = qobject_cast<QCheckBox*>(w)) {
      box->setChecked(o.value.toBool());
    } else if (auto* list = qobject_cast<QComboBox*>(w)) {
      const int at = o.strings.isEmpty() ? list->findData(o.value.toDouble()) : list->findText(o.value.toString());
      list->setCurrentIndex(at);
    } else if (auto* edit = qobject_cast<QLineEdit*>(w)) {
      if (o.count > 1) {
        QStringList parts;
        for (const QVariant& v : o.values) parts << Number(o, v.toDouble());
        edit->setText(parts.join(QStringLiteral(", ")));
      } else {
        edit->setText(o.value.toString());
      }
      edit->setCursorPosition(0);
      edit->setModified(false);
    } else if (auto* spin = qobject_cast<QDoubleSpinBox*>(w)) {
      if (o.value.isValid()) spin->setValue(o.value.toDouble());
    } else if (auto* spin = qobject_cast<QSpinBox*>(w)) {
      if (o.value.isValid()) spin->setValue(static_cast<int>(std::lround(o.value.toDouble())));
    }
  }
  filling_ = false;
}

}  // namespace orvax::ds
