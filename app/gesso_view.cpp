#include "gesso_view.h"

#include "gesso_doc.h"
#include "string_table.h"
#include "win/gdi.h"

#include <QImage>
#include <QPaintEvent>
#include <QPainter>
#include <QScrollBar>

namespace orvax::app {

CGessoView::CGessoView(CGessoDoc* doc) : framework::CView(doc) { viewport()->setAutoFillBackground(false); }

CGessoDoc* CGessoView::GetDocument() const { return static_cast<CGessoDoc*>(framework::CView::GetDocument()); }

void CGessoView::OnUpdate(framework::CView* sender, long hint) {
  UpdateScrollSizes();
  viewport()->update();
}

void CGessoView::UpdateScrollSizes() {
  tagTes_Image_Desc desc{};
  CGessoDoc* doc = GetDocument();
  const bool has = doc != nullptr && doc->Image() != nullptr && doc->Image()->GetImageDesc(&desc) == 0;
  const QSize client = viewport()->size();
  const int width = has ? desc.width : 0;
  const int height = has ? desc.height : 0;
  horizontalScrollBar()->setRange(0, std::max(0, width - client.width()));
  verticalScrollBar()->setRange(0, std::max(0, height - client.height()));
  horizontalScrollBar()->setPageStep(client.width() * 3 / 4);
  verticalScrollBar()->setPageStep(client.height() * 3 / 4);
  horizontalScrollBar()->setSingleStep(std::max(1, client.width() / 4));
  verticalScrollBar()->setSingleStep(std::max(1, client.height() / 4));
}

void CGessoView::resizeEvent(QResizeEvent* event) {
  framework::CView::resizeEvent(event);
  UpdateScrollSizes();
}

void CGessoView::scrollContentsBy(int, int) { viewport()->update(); }

void CGessoView::paintEvent(QPaintEvent* event) {
  QPainter painter(viewport());
  CGessoDoc* doc = GetDocument();
  const QRect area = event->rect();
  painter.fillRect(area, palette().base());
  if (doc == nullptr) return;
  if (doc->IsAcquiring()) {
    painter.fillRect(viewport()->rect(), Qt::white);
    painter.drawText(viewport()->rect(), Qt::AlignCenter | Qt::TextWordWrap, LoadString(IDS_MSG_RECEIVING));
    return;
  }
  tagTes_Image_Desc desc{};
  if (doc->Image() == nullptr || doc->Image()->GetImageDesc(&desc) != 0 || area.isEmpty()) return;
  const int sx = horizontalScrollBar()->value();
  const int sy = verticalScrollBar()->value();
  const QSize client = viewport()->size();
  win::MemoryDC dc(client.width(), client.height(), 255);
  tagTes_Output_Info out{};
  out.hdc = &dc;
  out.clipX = area.x();
  out.clipY = area.y();
  out.clipWidth = area.width();
  out.clipHeight = area.height();
  out.imageX = -sx;
  out.imageY = -sy;
  out.imageWidth = desc.width;
  out.imageHeight = desc.height;
  doc->Image()->Display(out);
  const QImage raster(dc.pixels().data(), dc.width(), dc.height(), dc.width() * 3, QImage::Format_RGB888);
  painter.drawImage(area, raster, area);
}

}  // namespace orvax::app
