// The main frame's TWAIN session: opening and closing the manager and the source, the
// capability negotiation of the open source, the routing of window messages to the source
// while it is enabled, and the transfer of each image into a new document.
#include "twain_session.h"

#include "main_frame.h"
#include "scan_app.h"
#include "string_table.h"
#include "twain/containers.h"
#include "win/windows_root.h"

#include <QApplication>

#include <algorithm>
#include <cstring>
#include <vector>

namespace orvax::app {

using namespace twain;
using framework::AfxMessageBox;
using framework::MB_ICONERROR;
using framework::MB_OK;

bool KnownPixelType(int type) {
  return type == TWPT_BW || type == TWPT_GRAY || type == TWPT_RGB || type == TWPT_CMYK || type == ds::TWPT_HSL;
}

bool AllowedPair(int type, int bits) {
  switch (type) {
    case TWPT_BW: return bits == 1;
    case TWPT_GRAY:
    case TWPT_RGB: return bits == 8 || bits == 16;
    case TWPT_CMYK: return bits == 8;
    case ds::TWPT_HSL: return bits == 16;
    default: return false;
  }
}

bool StripFits(const TW_IMAGEINFO& info, const TW_IMAGEMEMXFER& strip, size_t bufferBytes) {
  if (info.ImageWidth <= 0 || info.ImageLength <= 0 || strip.Rows == 0 || strip.Columns == 0) return false;
  const uint64_t width = static_cast<uint64_t>(info.ImageWidth), height = static_cast<uint64_t>(info.ImageLength);
  if (uint64_t{strip.XOffset} + strip.Columns > width || uint64_t{strip.YOffset} + strip.Rows > height) return false;
  if (uint64_t{strip.BytesPerRow} * strip.Rows > bufferBytes) return false;
  // A row must hold the columns it claims: a plane's samples for planar data, every
  // sample otherwise.
  const int samples = info.Planar != 0 ? 1 : std::max<int>(1, info.SamplesPerPixel);
  const uint64_t bits = static_cast<uint64_t>(std::max<int>(1, info.BitsPerSample[0])) * samples;
  return (uint64_t{strip.Columns} * bits + 7) / 8 <= strip.BytesPerRow;
}

// ---------------------------------------------------------------------------------------
// Opening and closing the data source through the data source manager.

uint16_t CMainFrame::Dsm(twain::TW_IDENTITY* dest, uint32_t dg, uint16_t dat, uint16_t msg, void* data) {
  auto* origin = const_cast<twain::TW_IDENTITY*>(&app_.AppIdentity());
  return dsmEntry_ != nullptr ? dsmEntry_(origin, dest, dg, dat, msg, data) : twain::TWRC_FAILURE;
}

uint16_t CMainFrame::ConditionCode(twain::TW_IDENTITY* dest) {
  twain::TW_STATUS status{};
  Dsm(dest, twain::DG_CONTROL, twain::DAT_STATUS, twain::MSG_GET, &status);
  return status.ConditionCode;
}

void CMainFrame::OpenSource() {
  using namespace twain;
  if (twainState_ != TwainState::kPreSession) return;
  // 1. The data source manager.
  QString root = QString::fromStdString(win::WindowsDirectory());
  dsm_ = win::LoadLibrary((root + QStringLiteral("\\TWAIN_32.DLL")).toStdString());
  if (dsm_ == nullptr) {
    AfxMessageBox(LoadString(IDS_TW_ERR_LOADDSM), MB_OK | MB_ICONERROR);
  } else if ((dsmEntry_ = reinterpret_cast<DSMENTRYPROC>(win::GetProcAddress(dsm_, "DSM_Entry"))) == nullptr) {
    AfxMessageBox(LoadString(IDS_TW_ERR_INITDSM), MB_OK | MB_ICONERROR);
    twainState_ = TwainState::kManagerLoaded;  // closing unloads it
  } else {
    twainState_ = TwainState::kManagerLoaded;
    // 2. Open the manager with this window as parent.
    win::HWND parent = Handle();
    if (Dsm(nullptr, DG_CONTROL, DAT_PARENT, MSG_OPENDSM, &parent) != TWRC_SUCCESS) {
      AfxMessageBox(LoadString(IDS_TW_ERR_OPENDSM), MB_OK | MB_ICONERROR);
    } else {
      twainState_ = TwainState::kManagerOpen;
      // 3. Find the scanner's data source by its product name.
      const QByteArray wanted = LoadString(IDS_TW_SOURCENAME).toLatin1();
      std::memset(&source_, 0, sizeof source_);
      uint16_t rc = Dsm(nullptr, DG_CONTROL, DAT_IDENTITY, MSG_GETFIRST, &source_);
      bool found = false;
      if (rc == TWRC_FAILURE) {
        ConditionCode(nullptr);
      } else {
        while (rc == TWRC_SUCCESS) {
          source_.ProductName[sizeof source_.ProductName - 1] = '\0';
          if (wanted == source_.ProductName) {
            found = true;
            break;
          }
          rc = Dsm(nullptr, DG_CONTROL, DAT_IDENTITY, MSG_GETNEXT, &source_);
        }
      }
      if (!found) {
        AfxMessageBox(LoadString(IDS_TW_ERR_OPENDS), MB_OK | MB_ICONERROR);
      } else if (Dsm(nullptr, DG_CONTROL, DAT_IDENTITY, MSG_OPENDS, &source_) != TWRC_SUCCESS) {
        // 4. Open it; a source that reported the failure itself is not reported twice.
        if (ConditionCode(nullptr) != TWCC_OPERATIONERROR)
          AfxMessageBox(LoadString(IDS_TW_ERR_OPENDS), MB_OK | MB_ICONERROR);
      } else {
        twainState_ = TwainState::kSourceOpen;
        // 5-7. Transfer count, compression, pixel types and depths, transfer mechanism.
        NegotiateCapabilities();
        // 8. Show the source's own window.
        TW_USERINTERFACE ui{1, 0, Handle()};
        if (Dsm(&source_, DG_CONTROL, DAT_USERINTERFACE, MSG_ENABLEDS, &ui) != TWRC_SUCCESS) {
          if (ConditionCode(&source_) != TWCC_OPERATIONERROR)
            AfxMessageBox(LoadString(IDS_TW_ERR_ENABLEDS), MB_OK | MB_ICONERROR);
        } else {
          twainState_ = TwainState::kSourceEnabled;
          app_.sourceEnabled = true;
        }
      }
    }
  }
  // 9. A failed open steps all the way back.
  if (twainState_ != TwainState::kSourceEnabled) CloseSource();
  RebuildSourceMenus();
  UpdateCommandUI();
}

void CMainFrame::CloseSource() {
  using namespace twain;
  if (twainState_ == TwainState::kSourceEnabled) {
    TW_USERINTERFACE ui{0, 0, Handle()};
    Dsm(&source_, DG_CONTROL, DAT_USERINTERFACE, MSG_DISABLEDS, &ui);
    twainState_ = TwainState::kSourceOpen;
    app_.sourceEnabled = false;
  }
  if (twainState_ == TwainState::kSourceOpen) {
    if (Dsm(nullptr, DG_CONTROL, DAT_IDENTITY, MSG_CLOSEDS, &source_) != TWRC_SUCCESS) {
      AfxMessageBox(LoadString(IDS_TW_ERR_CLOSEDS), MB_OK | MB_ICONERROR);
    } else {
      twainState_ = TwainState::kManagerOpen;
    }
  }
  if (twainState_ == TwainState::kManagerOpen) {
    win::HWND parent = Handle();
    const uint16_t rc = Dsm(nullptr, DG_CONTROL, DAT_PARENT, MSG_CLOSEDSM, &parent);
    if (rc != TWRC_SUCCESS && rc != TWRC_CANCEL) {
      AfxMessageBox(LoadString(IDS_TW_ERR_CLOSEDSM), MB_OK | MB_ICONERROR);
    } else {
      twainState_ = TwainState::kManagerLoaded;
    }
  }
  if (twainState_ == TwainState::kManagerLoaded) {
    win::FreeLibrary(dsm_);
    dsm_ = nullptr;
    dsmEntry_ = nullptr;
    twainState_ = TwainState::kPreSession;
  }
  app_.sourceEnabled = twainState_ == TwainState::kSourceEnabled;
  RebuildSourceMenus();
}

// ---------------------------------------------------------------------------------------
// Capabilities, events and transfers.

uint16_t CMainFrame::SetCapability(uint16_t capId, uint16_t conType, void* container) {
  TW_CAPABILITY cap{capId, conType, container};
  const uint16_t rc = Dsm(&source_, DG_CONTROL, DAT_CAPABILITY, MSG_SET, &cap);
  GlobalFree(container);
  return rc;
}

std::vector<int> CMainFrame::GetCapability(uint16_t capId, int* current) {
  TW_CAPABILITY cap{capId, TWON_DONTCARE16, nullptr};
  long value = -1;
  std::vector<long> values;
  if (Dsm(&source_, DG_CONTROL, DAT_CAPABILITY, MSG_GET, &cap) == TWRC_SUCCESS) {
    ReadContainer(cap, &values, &value);
    GlobalFree(cap.hContainer);
  }
  if (current != nullptr) *current = static_cast<int>(value);
  return std::vector<int>(values.begin(), values.end());
}

void CMainFrame::NegotiateCapabilities() {
  // 5. Every image transferred, uncompressed, samples interleaved.
  SetCapability(CAP_XFERCOUNT, TWON_ONEVALUE, OneValue(TWTY_INT16, -1));
  SetCapability(ICAP_COMPRESSION, TWON_ONEVALUE, OneValue(TWTY_INT16, TWCP_NONE));
  SetCapability(ICAP_PLANARCHUNKY, TWON_ONEVALUE, OneValue(TWTY_INT16, TWPC_CHUNKY));

  // 6. The pixel types and depths the documents can hold.
  int currentType = -1;
  const std::vector<int> offered = GetCapability(ICAP_PIXELTYPE, &currentType);
  std::vector<int> kept;
  for (int type : offered) {
    if (!KnownPixelType(type) || std::find(kept.begin(), kept.end(), type) != kept.end()) continue;
    if (SetCapability(ICAP_PIXELTYPE, TWON_ONEVALUE, OneValue(TWTY_INT16, type)) != TWRC_SUCCESS) continue;
    std::vector<int> depths;
    for (int bits : GetCapability(ICAP_BITDEPTH, nullptr))
      if (AllowedPair(type, bits) && std::find(depths.begin(), depths.end(), bits) == depths.end()) depths.push_back(bits);
    if (depths.empty()) continue;
    SetCapability(ICAP_BITDEPTH, TWON_ENUMERATION, Enumeration(TWTY_UINT16, depths, 0));
    kept.push_back(type);
  }
  if (!kept.empty()) {
    const auto at = std::find(kept.begin(), kept.end(), currentType);
    SetCapability(ICAP_PIXELTYPE, TWON_ENUMERATION,
                  Enumeration(TWTY_UINT16, kept, at != kept.end() ? static_cast<size_t>(at - kept.begin()) : 0));
  }

  // 7. Memory transfers when the source offers them, else native ones.
  const std::vector<int> mechs = GetCapability(ICAP_XFERMECH, nullptr);
  memoryXfer_ = std::find(mechs.begin(), mechs.end(), TWSX_MEMORY) != mechs.end();
  if (memoryXfer_) SetCapability(ICAP_XFERMECH, TWON_ONEVALUE, OneValue(TWTY_UINT16, TWSX_MEMORY));
}

bool CMainFrame::ProcessSourceEvent(win::UINT msg, win::WPARAM wParam, win::LPARAM lParam) {
  if (twainState_ != TwainState::kSourceEnabled || inTransfer_) return false;
  TW_MSG message{Handle(), msg, wParam, lParam};
  TW_EVENT event{&message, MSG_NULL};
  const uint16_t rc = Dsm(&source_, DG_CONTROL, DAT_EVENT, MSG_PROCESSEVENT, &event);
  if (event.TWMessage == MSG_XFERREADY) {
    while (TransferImage()) {
    }
  } else if (event.TWMessage == MSG_CLOSEDSREQ) {
    CloseSource();
  }
  return rc != TWRC_NOTDSEVENT;
}

void CMainFrame::SetTransferring(bool on) {
  inTransfer_ = on;
  app_.exitAllowed = !on;
  // The system Close item follows exitAllowed: closeEvent refuses while a transfer runs.
  UpdateCommandUI();
}

bool CMainFrame::TransferImage() {
  ds::AutoSaveRequest request{};
  if (Dsm(&source_, DG_IMAGE, ds::DAT_AUTOSAVEREQUEST, MSG_GET, &request) != TWRC_SUCCESS) request.enabled = 0;
  request.folder[sizeof request.folder - 1] = '\0';
  request.stem[sizeof request.stem - 1] = '\0';
  TW_IMAGEINFO info{};
  uint16_t rc = Dsm(&source_, DG_IMAGE, DAT_IMAGEINFO, MSG_GET, &info);
  bool statusFetched = false;
  bool noDocument = false;
  const int type = info.PixelType, bits = info.BitsPerSample[0];

  auto reportFailure = [&] {
    statusFetched = true;
    if (ConditionCode(&source_) != ds::TWCC_USERCANCEL)
      AfxMessageBox(LoadString(IDS_TW_ERR_TRANSFER), MB_OK | MB_ICONERROR);
  };
  // Completion: the auto-save the source asked for, reported back to it.
  auto finish = [&](CAcquiredImage& image) {
    image.Complete();
    if (request.enabled == 0) return;
    QString path;
    const bool saved = image.AutoSave(request, &path);
    if (saved) image.Close();
    ds::AutoSaveResult result{};
    result.status = saved ? 0 : 4;
    CopyText(result.path, sizeof result.path - 1, path.toLocal8Bit().toStdString());
    Dsm(&source_, DG_IMAGE, ds::DAT_AUTOSAVERESULT, MSG_SET, &result);
  };

  if (rc != TWRC_SUCCESS) {
    reportFailure();
  } else if (memoryXfer_) {
    if (KnownPixelType(type) && !AllowedPair(type, bits)) {
      // Refused: no document, the image is ended.
    } else if (std::unique_ptr<CAcquiredImage> image = acquisitionFactory_ ? acquisitionFactory_() : nullptr; !image) {
      noDocument = true;
    } else {
      TW_SETUPMEMXFER setup{};
      rc = Dsm(&source_, DG_CONTROL, DAT_SETUPMEMXFER, MSG_GET, &setup);
      TW_HANDLE buffer = rc == TWRC_SUCCESS && setup.Preferred > 0 ? GlobalAlloc(GMEM_MOVEABLE, setup.Preferred) : nullptr;
      bool complete = false;
      if (buffer == nullptr) {
        if (rc == TWRC_SUCCESS) rc = TWRC_FAILURE;
        AfxMessageBox(LoadString(IDS_TW_ERR_TRANSFER), MB_OK | MB_ICONERROR);
        statusFetched = true;
      } else {
        SetTransferring(true);
        // The status bar's progress pane follows the rows received, plane by plane.
        const double totalRows =
            std::max(1.0, double(info.ImageLength) * (info.Planar != 0 ? std::max<int>(1, info.SamplesPerPixel) : 1));
        double rowsDone = 0;
        do {
          TW_IMAGEMEMXFER xfer;
          std::memset(&xfer, 0xFF, sizeof xfer);
          xfer.Memory = {TWMF_APPOWNS | TWMF_HANDLE, setup.Preferred, buffer};
          rc = Dsm(&source_, DG_IMAGE, DAT_IMAGEMEMXFER, MSG_GET, &xfer);
          if (rc == TWRC_SUCCESS || rc == TWRC_XFERDONE) {
            // A strip outside the image or beyond its buffer ends the transfer; nothing of
            // it is stored or touched.
            if (!StripFits(info, xfer, setup.Preferred)) {
              rc = TWRC_FAILURE;
              statusFetched = true;
              AfxMessageBox(LoadString(IDS_TW_ERR_TRANSFER), MB_OK | MB_ICONERROR);
              break;
            }
            if (type == TWPT_CMYK) {
              auto* p = static_cast<uint8_t*>(GlobalLock(buffer));
              for (size_t i = 0, n = size_t{xfer.BytesPerRow} * xfer.Rows; i < n; ++i) p[i] = static_cast<uint8_t>(~p[i]);
              GlobalUnlock(buffer);
            }
            if (!image->OnMemoryStrip(info, xfer)) {
              rc = TWRC_FAILURE;
              statusFetched = true;
              AfxMessageBox(LoadString(IDS_TW_ERR_TRANSFER), MB_OK | MB_ICONERROR);
              break;
            }
            complete = rc == TWRC_XFERDONE;
            rowsDone += xfer.Rows;
            app_.SetProgress(rowsDone / totalRows);
          } else if (rc == TWRC_FAILURE) {
            reportFailure();
          }
        } while (rc == TWRC_SUCCESS);
        SetTransferring(false);
        app_.SetProgress(0.0);
        GlobalFree(buffer);
      }
      if (complete) finish(*image);
      else image->Close();
    }
  } else {
    const bool allowed = !(type == TWPT_BW && bits != 1) && !((type == TWPT_GRAY || type == TWPT_RGB) && bits != 8);
    if (allowed) {
      TW_HANDLE dib = nullptr;
      SetTransferring(true);
      rc = Dsm(&source_, DG_IMAGE, DAT_IMAGENATIVEXFER, MSG_GET, &dib);
      SetTransferring(false);
      if (rc == TWRC_FAILURE) {
        statusFetched = true;
        ConditionCode(&source_);
        if (request.enabled == 0) AfxMessageBox(LoadString(IDS_TW_ERR_TRANSFER), MB_OK | MB_ICONERROR);
      } else if (rc == TWRC_XFERDONE && dib != nullptr) {
        if (std::unique_ptr<CAcquiredImage> image = acquisitionFactory_ ? acquisitionFactory_() : nullptr) {
          const void* bytes = GlobalLock(dib);
          const bool stored = bytes != nullptr && image->OnNativeTransfer(bytes, GlobalSize(dib));
          GlobalUnlock(dib);
          if (stored) {
            finish(*image);
          } else {
            image->Close();
            AfxMessageBox(LoadString(IDS_TW_ERR_TRANSFER), MB_OK | MB_ICONERROR);
          }
        }
      }
      if (dib != nullptr) GlobalFree(dib);  // the application owns the bitmap
    }
  }

  // 4. End this image; say whether more are pending.
  if (!statusFetched && rc != TWRC_SUCCESS && rc != TWRC_CANCEL && rc != TWRC_XFERDONE) ConditionCode(&source_);
  TW_PENDINGXFERS pending{0, 0};
  const uint16_t end = Dsm(&source_, DG_CONTROL, DAT_PENDINGXFERS, noDocument ? MSG_RESET : MSG_ENDXFER, &pending);
  if (end != TWRC_SUCCESS) ConditionCode(&source_);
  UpdateCommandUI();
  return end == TWRC_SUCCESS && pending.Count != 0;
}

}  // namespace orvax::app
