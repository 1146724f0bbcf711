// The image view's Copy: the selection (or the whole image) of an RGB document as a 24-bit
// device-independent bitmap, put on the clipboard as a BMP file and as an image.
#include "gesso_view.h"

#include "framework/win_app.h"
#include "gesso_doc.h"
#include "string_table.h"

#include <tessera/dib.h>

#include <QClipboard>
#include <QGuiApplication>
#include <QImage>
#include <QMimeData>

#include <cstring>
#include <limits>
#include <new>

namespace orvax::app {

using framework::AfxMessageBox;
using framework::MB_ICONEXCLAMATION;
using framework::MB_OK;

QByteArray CGessoView::BuildClipboardDib() {
  CGessoDoc* doc = GetDocument();
  if (doc == nullptr || doc->Image() == nullptr) return {};
  const QRect region = selection_.isEmpty() ? QRect(QPoint(0, 0), ImageSize()) : selection_;
  if (doc->ColorSpace() != TES_CS_RGB24) {
    AfxMessageBox(LoadString(IDS_ERR_COPYNOTRGB), MB_OK | MB_ICONEXCLAMATION);
    return {};
  }
  const size_t size = tessera::DibBytes24(region.width(), region.height());
  QByteArray block;
  try {
    if (size == 0 || size > static_cast<size_t>(std::numeric_limits<qsizetype>::max())) throw std::bad_alloc();
    block = QByteArray(static_cast<qsizetype>(size), '\0');
  } catch (const std::bad_alloc&) {
    AfxMessageBox(LoadString(IDS_ERR_CLIPBOARDMEMORY), MB_OK | MB_ICONEXCLAMATION);
    return {};
  }
  const tagTes_Rect rect{region.x(), region.y(), region.width(), region.height()};
  if (tessera::WriteDib24(*doc->Image(), rect, block.data(), size) != 0) {
    AfxMessageBox(LoadString(IDS_ERR_CLIPBOARD), MB_OK | MB_ICONEXCLAMATION);
    return {};
  }
  return block;
}

bool CGessoView::CopyToClipboard() {
  QClipboard* clipboard = QGuiApplication::clipboard();
  CGessoDoc* doc = GetDocument();
  if (doc != nullptr && doc->ColorSpace() != TES_CS_RGB24) {
    AfxMessageBox(LoadString(IDS_ERR_COPYNOTRGB), MB_OK | MB_ICONEXCLAMATION);
    return false;
  }
  if (clipboard == nullptr) {
    AfxMessageBox(LoadString(IDS_ERR_CLIPBOARD), MB_OK | MB_ICONEXCLAMATION);
    return false;
  }
  const QByteArray dib = BuildClipboardDib();
  if (dib.isEmpty()) return false;
  // Other programs take it as a BMP file (a file header in front of the DIB) or as an image.
  QByteArray bmp(14, '\0');
  const uint32_t fileSize = static_cast<uint32_t>(14 + dib.size());
  const uint32_t offBits = 14 + 40;
  bmp[0] = 'B', bmp[1] = 'M';
  std::memcpy(bmp.data() + 2, &fileSize, 4);
  std::memcpy(bmp.data() + 10, &offBits, 4);
  bmp += dib;
  auto* mime = new QMimeData;
  mime->setData(QStringLiteral("image/bmp"), bmp);
  QImage image;
  if (image.loadFromData(bmp, "BMP")) mime->setImageData(image);
  clipboard->clear();
  clipboard->setMimeData(mime);
  return true;
}

}  // namespace orvax::app
