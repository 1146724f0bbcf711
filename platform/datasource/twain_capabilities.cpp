// The capabilities the application negotiates: transfer count, compression, planar or
// chunky samples, pixel types and their depths, transfer mechanisms; what the chosen device
// offers of them, as far as the application takes it.
#include "twain_source.h"

#include "twain_capabilities.h"
#include "virtual_scanner.h"

#include "twain/containers.h"

#include <algorithm>
#include <span>
#include <vector>

namespace orvax::ds {

using namespace twain;

void TwainSource::ReadDeviceOffer() {
  offered_.clear();
  for (int i = 0; i < kPixelTypeCount; ++i) offered_.push_back(DefaultDepths()[i]);
  const QString name = scanner_.WindowSetting("Device", "virtual").toString();
  if (name == QLatin1String("virtual")) return;
  // A device that cannot be opened now leaves the virtual scanner's offer, as the window
  // falls back to it.
  QString why;
  std::unique_ptr<ScanDevice> device = OpenSaneDevice(name, &why);
  if (!device) return;
  const QList<DeviceOption> options = device->Options();
  device->Close();
  QStringList modes;
  QList<int> depths;
  bool hasDepth = false;
  for (const DeviceOption& o : options) {
    if (o.name == QLatin1String("mode")) modes = o.strings;
    if (o.name == QLatin1String("depth")) {
      hasDepth = true;
      for (double w : o.words) depths.push_back(static_cast<int>(w));
      if (o.isRange)
        for (int d : {1, 8, 16})
          if (d >= o.min && d <= o.max) depths.push_back(d);
      if (o.words.isEmpty() && !o.isRange && o.value.isValid()) depths.push_back(o.value.toInt());
    }
  }
  if (!hasDepth) depths = {8};
  QList<int> multi;
  for (int d : {8, 16})
    if (depths.contains(d)) multi.push_back(d);
  const bool lineart = modes.contains("Lineart") || (modes.contains("Gray") && depths.contains(1));
  for (int i = 0; i < kPixelTypeCount; ++i) offered_[i].clear();
  if (lineart) offered_[IndexOfType(TWPT_BW)] = {1};
  if (modes.contains("Gray")) offered_[IndexOfType(TWPT_GRAY)] = multi;
  if (modes.contains("Color")) offered_[IndexOfType(TWPT_RGB)] = multi;
  // A device whose modes have other names still scans in its own default.
  bool any = false;
  for (const QList<int>& d : offered_) any = any || !d.isEmpty();
  if (!any) offered_[IndexOfType(TWPT_RGB)] = {8};
}

void TwainSource::ResetCapabilities() {
  xferCount_ = -1;
  planarChunky_ = TWPC_CHUNKY;
  pixelTypes_.clear();
  depths_.clear();
  currentDepth_.clear();
  for (int i = 0; i < kPixelTypeCount; ++i) {
    if (!offered_[i].isEmpty()) pixelTypes_.push_back(kPixelTypes[i]);
    depths_.push_back(offered_[i]);
    currentDepth_.push_back(offered_[i].isEmpty() ? 8 : offered_[i].front());
  }
  pixelType_ = pixelTypes_.contains(TWPT_RGB) ? TWPT_RGB : pixelTypes_.front();
  appTypes_ = QList<int>(std::begin(kPixelTypes), std::end(kPixelTypes));
  appDepths_ = QList<QList<int>>(5, QList<int>{1, 8, 16});
  PublishColorSpaces();
  mechs_.clear();
  if (offer_ != "memory") mechs_.push_back(TWSX_NATIVE);
  if (offer_ != "native") mechs_.push_back(TWSX_MEMORY);
  mech_ = mechs_.front();
}

void TwainSource::OfferDevice() {
  ReadDeviceOffer();
  pixelTypes_.clear();
  for (int type : appTypes_) {
    const int i = IndexOfType(type);
    if (i >= 0 && !offered_[i].isEmpty() && !pixelTypes_.contains(type)) pixelTypes_.push_back(type);
  }
  for (int i = 0; i < kPixelTypeCount; ++i) {
    depths_[i].clear();
    for (int d : appDepths_[i])
      if (offered_[i].contains(d)) depths_[i].push_back(d);
    if (!depths_[i].contains(currentDepth_[i])) currentDepth_[i] = depths_[i].isEmpty() ? 8 : depths_[i].front();
  }
  // Nothing the application takes: the device's own offer, which it refuses image by image.
  if (pixelTypes_.isEmpty())
    for (int i = 0; i < kPixelTypeCount; ++i)
      if (!offered_[i].isEmpty()) {
        pixelTypes_.push_back(kPixelTypes[i]);
        depths_[i] = offered_[i];
      }
  if (!pixelTypes_.contains(pixelType_)) pixelType_ = pixelTypes_.contains(TWPT_RGB) ? TWPT_RGB : pixelTypes_.front();
  PublishColorSpaces();
  if (window_) window_->Refresh();
  // The application's Scan Color Space menu follows.
  win::PostMessage(win::HWND_BROADCAST, win::RegisterWindowMessage(kRefreshMenusMsg), 0, 0);
}

void TwainSource::PublishColorSpaces() {
  QList<QPair<int, int>> offered;
  for (int type : pixelTypes_)
    for (int d : Depths(type)) offered.push_back({type, d});
  scanner_.SetOfferedColorSpaces(offered);
}

QList<int> TwainSource::Depths(int pixelType) const {
  const int i = IndexOfType(pixelType);
  return i >= 0 ? depths_[i] : QList<int>();
}

TW_UINT16 TwainSource::Capability(TW_UINT16 msg, TW_CAPABILITY* cap) {
  if (state_ < 4) return Fail(TWCC_SEQERROR);
  const TW_UINT16 id = cap->Cap;
  const bool known = id == CAP_XFERCOUNT || id == ICAP_COMPRESSION || id == ICAP_PLANARCHUNKY ||
                     id == ICAP_PIXELTYPE || id == ICAP_BITDEPTH || id == ICAP_XFERMECH;
  if (!known) return Fail(TWCC_CAPUNSUPPORTED);
  const int typeIndex = IndexOfType(pixelType_);
  auto current = [&]() -> long {
    switch (id) {
      case CAP_XFERCOUNT: return xferCount_;
      case ICAP_COMPRESSION: return TWCP_NONE;
      case ICAP_PLANARCHUNKY: return planarChunky_;
      case ICAP_PIXELTYPE: return pixelType_;
      case ICAP_BITDEPTH: return currentDepth_[typeIndex];
      default: return mech_;
    }
  };
  auto fill = [&](bool oneValue) {
    cap->hContainer = nullptr;
    if (oneValue || id == CAP_XFERCOUNT) {
      cap->ConType = TWON_ONEVALUE;
      cap->hContainer = OneValue(id == CAP_XFERCOUNT ? TWTY_INT16 : TWTY_UINT16, current());
    } else {
      cap->ConType = TWON_ENUMERATION;
      QList<int> values;
      switch (id) {
        case ICAP_COMPRESSION: values = {TWCP_NONE}; break;
        case ICAP_PLANARCHUNKY: values = {TWPC_CHUNKY, TWPC_PLANAR}; break;
        case ICAP_PIXELTYPE: values = pixelTypes_; break;
        case ICAP_BITDEPTH: values = depths_[typeIndex]; break;
        default: values = mechs_; break;
      }
      cap->hContainer = Enumeration(TWTY_UINT16, std::span<const int>(values.constData(), values.size()),
                                    static_cast<size_t>(std::max<qsizetype>(0, values.indexOf(static_cast<int>(current())))));
    }
    return cap->hContainer != nullptr ? TWRC_SUCCESS : Fail(TWCC_LOWMEMORY);
  };
  switch (msg) {
    case MSG_GET: return fill(false);
    case MSG_GETCURRENT: return fill(true);
    case MSG_GETDEFAULT: {
      cap->ConType = TWON_ONEVALUE;
      const QList<int>& offered = offered_[IndexOfType(pixelType_)];
      const long defaults[] = {-1, TWCP_NONE, TWPC_CHUNKY, offered_[IndexOfType(TWPT_RGB)].isEmpty() ? pixelType_ : TWPT_RGB,
                               offered.isEmpty() ? 8 : offered.front(), mechs_.front()};
      const int slot = id == CAP_XFERCOUNT ? 0 : id == ICAP_COMPRESSION ? 1 : id == ICAP_PLANARCHUNKY ? 2
                       : id == ICAP_PIXELTYPE ? 3 : id == ICAP_BITDEPTH ? 4 : 5;
      cap->hContainer = OneValue(id == CAP_XFERCOUNT ? TWTY_INT16 : TWTY_UINT16, defaults[slot]);
      return TWRC_SUCCESS;
    }
    case MSG_QUERYSUPPORT:
      cap->ConType = TWON_ONEVALUE;
      cap->hContainer = OneValue(TWTY_INT32, 0x1F);
      return TWRC_SUCCESS;
    case MSG_RESET:
    case MSG_SET: break;
    default: return Fail(TWCC_CAPBADOPERATION);
  }
  if (state_ != 4) return Fail(TWCC_CAPSEQERROR);
  if (msg == MSG_RESET) {
    switch (id) {
      case CAP_XFERCOUNT: xferCount_ = -1; break;
      case ICAP_PLANARCHUNKY: planarChunky_ = TWPC_CHUNKY; break;
      case ICAP_PIXELTYPE:
        pixelTypes_.clear();
        for (int i = 0; i < kPixelTypeCount; ++i)
          if (!offered_[i].isEmpty()) pixelTypes_.push_back(kPixelTypes[i]);
        pixelType_ = pixelTypes_.contains(TWPT_RGB) ? TWPT_RGB : pixelTypes_.front();
        appTypes_ = QList<int>(std::begin(kPixelTypes), std::end(kPixelTypes));
        break;
      case ICAP_BITDEPTH:
        depths_[typeIndex] = offered_[typeIndex];
        appDepths_[typeIndex] = {1, 8, 16};
        currentDepth_[typeIndex] = offered_[typeIndex].isEmpty() ? 8 : offered_[typeIndex].front();
        break;
      case ICAP_XFERMECH: mech_ = mechs_.front(); break;
      default: break;
    }
    return fill(true);
  }
  std::vector<long> values;
  long value = 0;
  if (!ReadContainer(*cap, &values, &value)) return Fail(TWCC_BADVALUE);
  const bool list = cap->ConType != TWON_ONEVALUE;
  switch (id) {
    case CAP_XFERCOUNT:
      if (value != -1 && (value < 1 || value > 32767)) return Fail(TWCC_BADVALUE);
      xferCount_ = static_cast<int>(value);
      return TWRC_SUCCESS;
    case ICAP_COMPRESSION: return value == TWCP_NONE ? TWRC_SUCCESS : Fail(TWCC_BADVALUE);
    case ICAP_PLANARCHUNKY:
      if (value != TWPC_CHUNKY && value != TWPC_PLANAR) return Fail(TWCC_BADVALUE);
      planarChunky_ = static_cast<int>(value);
      return TWRC_SUCCESS;
    case ICAP_PIXELTYPE: {
      const auto offered = [this](long v) {
        const int i = IndexOfType(static_cast<int>(v));
        return i >= 0 && !offered_[i].isEmpty();
      };
      if (!offered(value)) return Fail(TWCC_BADVALUE);
      if (list) {
        // The application restricts the types offered to the ones it takes.
        QList<int> kept;
        for (long v : values)
          if (offered(v) && !kept.contains(static_cast<int>(v))) kept.push_back(static_cast<int>(v));
        pixelTypes_ = kept;
        appTypes_.clear();
        for (long v : values) appTypes_.push_back(static_cast<int>(v));
      } else if (!pixelTypes_.contains(static_cast<int>(value))) {
        return Fail(TWCC_BADVALUE);
      }
      pixelType_ = static_cast<int>(value);
      return TWRC_SUCCESS;
    }
    case ICAP_BITDEPTH: {
      if (!offered_[typeIndex].contains(static_cast<int>(value))) return Fail(TWCC_BADVALUE);
      if (list) {
        QList<int> kept;
        for (long v : values)
          if (offered_[typeIndex].contains(static_cast<int>(v)) && !kept.contains(static_cast<int>(v))) kept.push_back(static_cast<int>(v));
        depths_[typeIndex] = kept;
        appDepths_[typeIndex].clear();
        for (long v : values) appDepths_[typeIndex].push_back(static_cast<int>(v));
      } else if (!depths_[typeIndex].contains(static_cast<int>(value))) {
        return Fail(TWCC_BADVALUE);
      }
      currentDepth_[typeIndex] = static_cast<int>(value);
      return TWRC_SUCCESS;
    }
    default:
      if (!mechs_.contains(static_cast<int>(value))) return Fail(TWCC_BADVALUE);
      mech_ = static_cast<int>(value);
      return TWRC_SUCCESS;
  }
}

}  // namespace orvax::ds
