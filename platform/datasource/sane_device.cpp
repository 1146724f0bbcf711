// The devices of SANE. The library is started for each listing and each open device and
// ended with the last of them, so that a device plugged in meanwhile, or a changed backend
// configuration, is seen the next time.
#include "scan_device.h"

#include "film_source.h"

#include "datasource/ds_twain.h"

#include <sane/sane.h>
#include <sane/saneopts.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <vector>

namespace orvax::ds {

namespace {

int saneUsers = 0;
// The film-type option of film scanners' and transparency units' backends.
constexpr char kFilmTypeOption[] = "film-type";

bool SaneUp(QString* why) {
  if (saneUsers == 0) {
    SANE_Int version = 0;
    const SANE_Status status = sane_init(&version, nullptr);
    if (status != SANE_STATUS_GOOD) {
      if (why != nullptr) *why = QStringLiteral("SANE cannot start: %1").arg(QString::fromUtf8(sane_strstatus(status)));
      return false;
    }
  }
  ++saneUsers;
  return true;
}

void SaneDown() {
  if (saneUsers > 0 && --saneUsers == 0) sane_exit();
}

QString Reason(SANE_Status status) {
  switch (status) {
    case SANE_STATUS_DEVICE_BUSY: return QStringLiteral("the device is busy");
    case SANE_STATUS_JAMMED: return QStringLiteral("the document feeder is jammed");
    case SANE_STATUS_NO_DOCS: return QStringLiteral("the document feeder is out of documents");
    case SANE_STATUS_COVER_OPEN: return QStringLiteral("the scanner's cover is open");
    case SANE_STATUS_IO_ERROR: return QStringLiteral("an error in the device's input or output");
    case SANE_STATUS_NO_MEM: return QStringLiteral("out of memory");
    case SANE_STATUS_ACCESS_DENIED:
      return QStringLiteral("access to the device is denied (the user must be in the group the device belongs to, "
                            "often \"scanner\" or \"lp\"; log in again after joining it)");
    case SANE_STATUS_CANCELLED: return QStringLiteral("cancelled");
    default: return QString::fromUtf8(sane_strstatus(status)).toLower();
  }
}

DeviceStatus FromSane(SANE_Status status) {
  if (status == SANE_STATUS_GOOD) return DeviceStatus::Ok();
  if (status == SANE_STATUS_EOF) return {DeviceStatus::Code::EndOfFrame, {}};
  if (status == SANE_STATUS_CANCELLED) return {DeviceStatus::Code::Cancelled, Reason(status)};
  return DeviceStatus::Fail(Reason(status));
}

QString UnitName(SANE_Unit unit) {
  switch (unit) {
    case SANE_UNIT_PIXEL: return "pixel";
    case SANE_UNIT_BIT: return "bit";
    case SANE_UNIT_MM: return "mm";
    case SANE_UNIT_DPI: return "dpi";
    case SANE_UNIT_PERCENT: return "%";
    case SANE_UNIT_MICROSECOND: return "us";
    default: return {};
  }
}

class SaneDevice : public ScanDevice {
 public:
  SaneDevice(SANE_Handle handle, QString name) : handle_(handle), name_(std::move(name)) {}
  ~SaneDevice() override { Close(); }

  QString Title() const override { return name_; }

  QList<DeviceOption> Options() override {
    QList<DeviceOption> list;
    if (handle_ == nullptr) return list;
    QString group;
    for (SANE_Int i = 1;; ++i) {
      const SANE_Option_Descriptor* d = sane_get_option_descriptor(handle_, i);
      if (d == nullptr) break;
      DeviceOption o;
      if (d->type == SANE_TYPE_GROUP) group = QString::fromUtf8(d->title ? d->title : "");
      o.group = group;
      o.name = QString::fromUtf8(d->name ? d->name : "");
      o.title = QString::fromUtf8(d->title ? d->title : "");
      o.description = QString::fromUtf8(d->desc ? d->desc : "");
      o.unit = UnitName(d->unit);
      o.active = SANE_OPTION_IS_ACTIVE(d->cap);
      o.settable = SANE_OPTION_IS_SETTABLE(d->cap);
      o.advanced = (d->cap & SANE_CAP_ADVANCED) != 0;
      const bool fixed = d->type == SANE_TYPE_FIXED;
      auto number = [fixed](SANE_Word w) { return fixed ? SANE_UNFIX(w) : double(w); };
      switch (d->type) {
        case SANE_TYPE_BOOL: o.type = DeviceOption::Type::Bool; break;
        case SANE_TYPE_INT: o.type = DeviceOption::Type::Int; break;
        case SANE_TYPE_FIXED: o.type = DeviceOption::Type::Fixed; break;
        case SANE_TYPE_STRING: o.type = DeviceOption::Type::String; break;
        case SANE_TYPE_BUTTON: o.type = DeviceOption::Type::Button; break;
        default: o.type = DeviceOption::Type::Group; break;
      }
      if (d->type == SANE_TYPE_INT || d->type == SANE_TYPE_FIXED) o.count = std::max<int>(1, d->size / sizeof(SANE_Word));
      if (d->constraint_type == SANE_CONSTRAINT_RANGE && d->constraint.range != nullptr) {
        o.isRange = true;
        o.min = number(d->constraint.range->min);
        o.max = number(d->constraint.range->max);
        o.quant = number(d->constraint.range->quant);
      } else if (d->constraint_type == SANE_CONSTRAINT_WORD_LIST && d->constraint.word_list != nullptr) {
        for (SANE_Int k = 1; k <= d->constraint.word_list[0]; ++k) o.words.push_back(number(d->constraint.word_list[k]));
      } else if (d->constraint_type == SANE_CONSTRAINT_STRING_LIST && d->constraint.string_list != nullptr) {
        for (const SANE_String_Const* s = d->constraint.string_list; *s != nullptr; ++s) o.strings << QString::fromUtf8(*s);
      }
      if (o.active && d->type != SANE_TYPE_BUTTON && d->type != SANE_TYPE_GROUP && d->size > 0) {
        std::vector<SANE_Word> buffer(static_cast<size_t>(d->size) / sizeof(SANE_Word) + 2, 0);
        if (sane_control_option(handle_, i, SANE_ACTION_GET_VALUE, buffer.data(), nullptr) == SANE_STATUS_GOOD) {
          if (d->type == SANE_TYPE_STRING) o.value = QString::fromUtf8(reinterpret_cast<const char*>(buffer.data()));
          else if (d->type == SANE_TYPE_BOOL) o.value = buffer[0] != SANE_FALSE;
          else o.value = number(buffer[0]);
          if (o.count > 1)
            for (int k = 0; k < o.count; ++k) o.values.push_back(number(buffer[static_cast<size_t>(k)]));
        }
      }
      list.push_back(o);
    }
    return list;
  }

  bool SetOption(const QString& name, const QVariant& value, QString* why, int* effect = nullptr) override {
    if (effect != nullptr) *effect = 0;
    SANE_Int index = 0;
    const SANE_Option_Descriptor* d = Find(name, &index);
    auto fail = [&](const QString& text) {
      if (why != nullptr) *why = text;
      return false;
    };
    if (d == nullptr) return fail(QStringLiteral("the device has no option %1").arg(name));
    if (!SANE_OPTION_IS_ACTIVE(d->cap) || !SANE_OPTION_IS_SETTABLE(d->cap))
      return fail(QStringLiteral("the option %1 cannot be set now").arg(name));
    SANE_Int info = 0;
    SANE_Status status = SANE_STATUS_GOOD;
    if (d->type == SANE_TYPE_BUTTON) {
      status = sane_control_option(handle_, index, SANE_ACTION_SET_VALUE, nullptr, &info);
    } else if (d->type == SANE_TYPE_STRING) {
      std::vector<char> text(static_cast<size_t>(std::max<SANE_Int>(d->size, 1)), 0);
      const QByteArray utf8 = value.toString().toUtf8();
      std::memcpy(text.data(), utf8.constData(), std::min<size_t>(utf8.size(), text.size() - 1));
      status = sane_control_option(handle_, index, SANE_ACTION_SET_VALUE, text.data(), &info);
    } else {
      // A list gives each element of an array option its value (the last one fills the
      // rest); a single value goes to every element.
      std::vector<SANE_Word> words(std::max<size_t>(1, static_cast<size_t>(d->size) / sizeof(SANE_Word)));
      const auto word = [d](const QVariant& v) -> SANE_Word {
        if (d->type == SANE_TYPE_BOOL) return v.toBool() ? SANE_TRUE : SANE_FALSE;
        if (d->type == SANE_TYPE_FIXED) return SANE_FIX(v.toDouble());
        return static_cast<SANE_Word>(std::lround(v.toDouble()));
      };
      const QVariantList list = value.typeId() == QMetaType::QVariantList ? value.toList() : QVariantList{value};
      if (list.isEmpty()) return fail(QStringLiteral("%1 needs a value").arg(name));
      for (size_t k = 0; k < words.size(); ++k) words[k] = word(list[static_cast<qsizetype>(std::min(k, static_cast<size_t>(list.size() - 1)))]);
      status = sane_control_option(handle_, index, SANE_ACTION_SET_VALUE, words.data(), &info);
    }
    if (status != SANE_STATUS_GOOD)
      return fail(QStringLiteral("%1 cannot be set to %2: %3").arg(name, value.toString(), Reason(status)));
    if (effect != nullptr) {
      if (info & SANE_INFO_INEXACT) *effect |= kOptionInexact;
      if (info & SANE_INFO_RELOAD_OPTIONS) *effect |= kOptionReloadOptions;
      if (info & SANE_INFO_RELOAD_PARAMS) *effect |= kOptionReloadParams;
    }
    return true;
  }

  bool ReadsNegatives() const override { return readsNegatives_; }

  DeviceStatus Setup(const ScanJob& job, int pixelType, int bits, FilmType filmType, int* dpi = nullptr) override {
    if (dpi != nullptr) *dpi = job.dpi;
    QString why;
    {
      // The film adapter first: the other options' ranges may follow it.
      const QStringList sources = Has(SANE_NAME_SCAN_SOURCE) ? StringList(SANE_NAME_SCAN_SOURCE) : QStringList();
      const QStringList films = Has(kFilmTypeOption) ? StringList(kFilmTypeOption) : QStringList();
      const FilmSetup film = ChooseFilmSetup(sources, StringValue(SANE_NAME_SCAN_SOURCE), films, filmType);
      if (!film.source.isEmpty() && !SetOption(SANE_NAME_SCAN_SOURCE, film.source, &why)) return DeviceStatus::Fail(why);
      if (!film.filmType.isEmpty() && Has(kFilmTypeOption) && !SetOption(kFilmTypeOption, film.filmType, &why))
        return DeviceStatus::Fail(why);
      readsNegatives_ = film.deviceReadsNegative;
    }
    const QStringList modes = StringList(SANE_NAME_SCAN_MODE);
    QString mode;
    int depth = bits;
    switch (pixelType) {
      case twain::TWPT_BW:
        depth = 1;
        if (modes.contains(SANE_VALUE_SCAN_MODE_LINEART)) mode = SANE_VALUE_SCAN_MODE_LINEART;
        else if (modes.contains(SANE_VALUE_SCAN_MODE_GRAY) && Offers(SANE_NAME_BIT_DEPTH, 1)) mode = SANE_VALUE_SCAN_MODE_GRAY;
        break;
      case twain::TWPT_GRAY: mode = SANE_VALUE_SCAN_MODE_GRAY; break;
      case twain::TWPT_RGB: mode = SANE_VALUE_SCAN_MODE_COLOR; break;
      default: break;
    }
    if (mode.isEmpty() || (!modes.isEmpty() && !modes.contains(mode)))
      return DeviceStatus::Fail(QStringLiteral("the device does not scan in this colour space"));
    if (!modes.isEmpty() && !SetOption(SANE_NAME_SCAN_MODE, mode, &why)) return DeviceStatus::Fail(why);
    if (Has(SANE_NAME_BIT_DEPTH) && !SetOption(SANE_NAME_BIT_DEPTH, depth, &why)) return DeviceStatus::Fail(why);
    if (Has(SANE_NAME_SCAN_RESOLUTION)) {
      // A resolution beyond the device's is its nearest one; a device that rounds it says
      // which one it scans at.
      const double asked = NearestOffered(SANE_NAME_SCAN_RESOLUTION, job.dpi);
      int effect = 0;
      if (!SetOption(SANE_NAME_SCAN_RESOLUTION, asked, &why, &effect)) return DeviceStatus::Fail(why);
      const QVariant taken = (effect & kOptionInexact) != 0 ? Value(SANE_NAME_SCAN_RESOLUTION) : QVariant(asked);
      if (dpi != nullptr && taken.isValid()) *dpi = static_cast<int>(std::lround(taken.toDouble()));
    }
    if (Has(SANE_NAME_PREVIEW) && !SetOption(SANE_NAME_PREVIEW, false, &why)) return DeviceStatus::Fail(why);
    {
      // The area is a fraction of the whole bed the device can scan; none is the whole bed,
      // as the preview shows it.
      const QRectF area = job.area.isEmpty() ? QRectF(0, 0, 1, 1) : job.area;
      struct Edge { const char* name; double fraction; };
      const Edge edges[] = {{SANE_NAME_SCAN_TL_X, area.left()}, {SANE_NAME_SCAN_TL_Y, area.top()},
                            {SANE_NAME_SCAN_BR_X, area.right()}, {SANE_NAME_SCAN_BR_Y, area.bottom()}};
      for (const Edge& edge : edges) {
        SANE_Int index = 0;
        const SANE_Option_Descriptor* d = Find(edge.name, &index);
        if (d == nullptr || d->constraint_type != SANE_CONSTRAINT_RANGE) continue;
        const bool fixed = d->type == SANE_TYPE_FIXED;
        const double low = fixed ? SANE_UNFIX(d->constraint.range->min) : d->constraint.range->min;
        const double high = fixed ? SANE_UNFIX(d->constraint.range->max) : d->constraint.range->max;
        const double v = std::clamp(low + edge.fraction * (high - low), low, high);
        if (!SetOption(edge.name, std::round(v * 1000) / 1000, &why)) return DeviceStatus::Fail(why);
      }
    }
    return DeviceStatus::Ok();
  }

  DeviceStatus Start() override {
    return FromSane(sane_start(handle_));
  }

  DeviceStatus Layout(FrameLayout* layout) override {
    SANE_Parameters p;
    const SANE_Status status = sane_get_parameters(handle_, &p);
    if (status != SANE_STATUS_GOOD) return FromSane(status);
    *layout = FrameLayout{};
    layout->width = p.pixels_per_line;
    layout->height = p.lines;
    layout->bytesPerRow = p.bytes_per_line;
    layout->lastFrame = p.last_frame != SANE_FALSE;
    layout->bitsPerSample = p.depth;
    lineart_ = false;
    switch (p.format) {
      case SANE_FRAME_GRAY:
        lineart_ = p.depth == 1;
        layout->pixelType = lineart_ ? twain::TWPT_BW : twain::TWPT_GRAY;
        layout->samplesPerPixel = 1;
        break;
      case SANE_FRAME_RGB:
        layout->pixelType = twain::TWPT_RGB;
        layout->samplesPerPixel = 3;
        break;
      case SANE_FRAME_RED:
      case SANE_FRAME_GREEN:
      case SANE_FRAME_BLUE:
        layout->pixelType = twain::TWPT_RGB;
        layout->samplesPerPixel = 3;
        layout->plane = p.format - SANE_FRAME_RED;
        break;
      default: return DeviceStatus::Fail(QStringLiteral("the device sends frames of a kind this source does not know"));
    }
    if (p.depth != 1 && p.depth != 8 && p.depth != 16)
      return DeviceStatus::Fail(QStringLiteral("the device sends %1-bit samples").arg(p.depth));
    if (p.depth == 1 && p.format != SANE_FRAME_GRAY)
      return DeviceStatus::Fail(QStringLiteral("the device sends 1-bit colour"));
    return DeviceStatus::Ok();
  }

  DeviceStatus Read(uint8_t* buffer, int max, int* length) override {
    SANE_Int got = 0;
    const SANE_Status status = sane_read(handle_, buffer, max, &got);
    *length = status == SANE_STATUS_GOOD ? got : 0;
    // SANE's lineart has 1 for black, TWAIN's 1 for white. 16-bit samples come in the
    // machine's byte order, as TWAIN takes them.
    if (lineart_)
      for (int i = 0; i < *length; ++i) buffer[i] = static_cast<uint8_t>(~buffer[i]);
    return FromSane(status);
  }

  void Cancel() override {
    if (handle_ != nullptr) sane_cancel(handle_);
  }

  void Close() override {
    if (handle_ == nullptr) return;
    sane_cancel(handle_);
    sane_close(handle_);
    handle_ = nullptr;
    SaneDown();
  }

 private:
  const SANE_Option_Descriptor* Find(const QString& name, SANE_Int* index) const {
    if (handle_ == nullptr) return nullptr;
    const QByteArray wanted = name.toUtf8();
    for (SANE_Int i = 1;; ++i) {
      const SANE_Option_Descriptor* d = sane_get_option_descriptor(handle_, i);
      if (d == nullptr) return nullptr;
      if (d->name != nullptr && wanted == d->name && d->type != SANE_TYPE_GROUP) {
        *index = i;
        return d;
      }
    }
  }
  QString StringValue(const char* name) const {
    SANE_Int index = 0;
    const SANE_Option_Descriptor* d = Find(name, &index);
    if (d == nullptr || d->type != SANE_TYPE_STRING || !SANE_OPTION_IS_ACTIVE(d->cap) || d->size <= 0) return {};
    std::vector<char> text(static_cast<size_t>(d->size) + 1, 0);
    if (sane_control_option(handle_, index, SANE_ACTION_GET_VALUE, text.data(), nullptr) != SANE_STATUS_GOOD) return {};
    return QString::fromUtf8(text.data());
  }
  QVariant Value(const char* name) const {
    SANE_Int index = 0;
    const SANE_Option_Descriptor* d = Find(name, &index);
    if (d == nullptr || (d->type != SANE_TYPE_INT && d->type != SANE_TYPE_FIXED)) return {};
    std::vector<SANE_Word> buffer(static_cast<size_t>(d->size) / sizeof(SANE_Word) + 1, 0);
    if (sane_control_option(handle_, index, SANE_ACTION_GET_VALUE, buffer.data(), nullptr) != SANE_STATUS_GOOD) return {};
    return d->type == SANE_TYPE_FIXED ? SANE_UNFIX(buffer[0]) : double(buffer[0]);
  }
  bool Has(const char* name) const {
    SANE_Int index = 0;
    const SANE_Option_Descriptor* d = Find(name, &index);
    return d != nullptr && SANE_OPTION_IS_ACTIVE(d->cap) && SANE_OPTION_IS_SETTABLE(d->cap);
  }
  QStringList StringList(const char* name) const {
    SANE_Int index = 0;
    const SANE_Option_Descriptor* d = Find(name, &index);
    QStringList list;
    if (d != nullptr && d->constraint_type == SANE_CONSTRAINT_STRING_LIST)
      for (const SANE_String_Const* s = d->constraint.string_list; *s != nullptr; ++s) list << QString::fromUtf8(*s);
    return list;
  }
  // The value of option NAME nearest to VALUE that its range or word list allows.
  double NearestOffered(const char* name, double value) const {
    SANE_Int index = 0;
    const SANE_Option_Descriptor* d = Find(name, &index);
    if (d == nullptr) return value;
    const bool fixed = d->type == SANE_TYPE_FIXED;
    const auto number = [fixed](SANE_Word w) { return fixed ? SANE_UNFIX(w) : double(w); };
    if (d->constraint_type == SANE_CONSTRAINT_RANGE && d->constraint.range != nullptr)
      return std::clamp(value, number(d->constraint.range->min), number(d->constraint.range->max));
    if (d->constraint_type == SANE_CONSTRAINT_WORD_LIST && d->constraint.word_list != nullptr &&
        d->constraint.word_list[0] > 0) {
      double best = number(d->constraint.word_list[1]);
      for (SANE_Int k = 2; k <= d->constraint.word_list[0]; ++k)
        if (std::fabs(number(d->constraint.word_list[k]) - value) < std::fabs(best - value)) best = number(d->constraint.word_list[k]);
      return best;
    }
    return value;
  }
  bool Offers(const char* name, int value) const {
    SANE_Int index = 0;
    const SANE_Option_Descriptor* d = Find(name, &index);
    if (d == nullptr) return false;
    if (d->constraint_type == SANE_CONSTRAINT_WORD_LIST) {
      for (SANE_Int k = 1; k <= d->constraint.word_list[0]; ++k)
        if (d->constraint.word_list[k] == value) return true;
      return false;
    }
    if (d->constraint_type == SANE_CONSTRAINT_RANGE) return value >= d->constraint.range->min && value <= d->constraint.range->max;
    return true;
  }

  SANE_Handle handle_;
  QString name_;
  bool lineart_ = false;
  bool readsNegatives_ = false;
};

}  // namespace

QList<SaneDeviceInfo> SaneDevices(QString* why) {
  QList<SaneDeviceInfo> list;
  if (!SaneUp(why)) return list;
  const SANE_Device** devices = nullptr;
  const SANE_Status status = sane_get_devices(&devices, SANE_FALSE);
  if (status != SANE_STATUS_GOOD) {
    if (why != nullptr) *why = QStringLiteral("SANE cannot list its devices: %1").arg(Reason(status));
  } else {
    for (const SANE_Device** d = devices; d != nullptr && *d != nullptr; ++d)
      list.push_back({QString::fromUtf8((*d)->name), QString::fromUtf8((*d)->vendor), QString::fromUtf8((*d)->model),
                      QString::fromUtf8((*d)->type)});
  }
  SaneDown();
  return list;
}

std::unique_ptr<ScanDevice> OpenSaneDevice(const QString& name, QString* why) {
  if (!SaneUp(why)) return nullptr;
  SANE_Handle handle = nullptr;
  const SANE_Status status = sane_open(name.toUtf8().constData(), &handle);
  if (status != SANE_STATUS_GOOD || handle == nullptr) {
    if (why != nullptr) {
      *why = QStringLiteral("cannot open %1: %2").arg(name, Reason(status));
      // A device the backend sees but may not touch is most often a matter of permissions.
      if (status == SANE_STATUS_INVAL || status == SANE_STATUS_IO_ERROR)
        *why += QStringLiteral(" (if `scanimage -L` lists it, check that the user is in the group the device belongs to)");
    }
    SaneDown();
    return nullptr;
  }
  return std::make_unique<SaneDevice>(handle, name);
}

}  // namespace orvax::ds
