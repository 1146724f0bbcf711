#include "gesso_view.h"

#include "app_icons.h"
#include "commands.h"
#include "framework/win_app.h"
#include "gesso_doc.h"
#include "qpainter_dc.h"
#include "scan_app.h"
#include "string_table.h"
#include "win/gdi.h"

#include <QApplication>
#include <QBitmap>
#include <QImage>
#include <QKeyEvent>
#include <QLayout>
#include <QMdiArea>
#include <QMouseEvent>
#include <QPaintEvent>
#include <QPainter>
#include <QScrollBar>
#include <QStyle>
#include <QStyleOptionTitleBar>
#include <QTimerEvent>

#include <algorithm>

namespace orvax::app {

int CGessoView::s_cursorMode = 2;

namespace {

// Cursor resources: 135 no further zoom, 136 zoom in, 137 zoom out, 138 selection.
QCursor MakeCursor(int id) {
  if (id == 138) return QCursor(Qt::CrossCursor);
  QPixmap pixmap(32, 32);
  pixmap.fill(Qt::transparent);
  QPainter p(&pixmap);
  p.setRenderHint(QPainter::Antialiasing);
  p.setPen(QPen(Qt::white, 4));
  p.drawEllipse(QRectF(2, 2, 18, 18));
  p.drawLine(18, 18, 29, 29);
  p.setPen(QPen(Qt::black, 2));
  p.drawEllipse(QRectF(2, 2, 18, 18));
  p.drawLine(18, 18, 29, 29);
  if (id == 136 || id == 137) p.drawLine(7, 11, 15, 11);
  if (id == 136) p.drawLine(11, 7, 11, 15);
  p.end();
  return QCursor(pixmap, 11, 11);
}

// The two 8x8 pattern bitmaps of the outline (resources 133 and 134): diagonal stripes,
// and the same stripes shifted by one pixel.
QBrush PatternBrush(int id) {
  static const uchar stripes[8] = {0x0F, 0x1E, 0x3C, 0x78, 0xF0, 0xE1, 0xC3, 0x87};
  uchar bits[8];
  for (int i = 0; i < 8; ++i) bits[i] = id == 133 ? stripes[i] : stripes[(i + 1) % 8];
  return QBrush(Qt::white, QBitmap::fromData(QSize(8, 8), bits, QImage::Format_Mono));
}

}  // namespace

CGessoView::CGessoView(CGessoDoc* doc) : framework::CView(doc) {
  viewport()->setAutoFillBackground(false);
  setFocusPolicy(Qt::StrongFocus);
  viewport()->setMouseTracking(true);
  brushes_[0] = PatternBrush(133);
  brushes_[1] = PatternBrush(134);
  UpdateCursor(false);
}

CGessoView::~CGessoView() = default;

CGessoDoc* CGessoView::GetDocument() const { return static_cast<CGessoDoc*>(framework::CView::GetDocument()); }

QSize CGessoView::ImageSize() const {
  tagTes_Image_Desc desc{};
  CGessoDoc* doc = GetDocument();
  if (doc == nullptr || doc->Image() == nullptr || doc->Image()->GetImageDesc(&desc) != 0) return {0, 0};
  return {desc.width, desc.height};
}

QSize CGessoView::TotalSize() const {
  const QSize size = ImageSize();
  return {static_cast<int>(static_cast<long long>(size.width()) * num_ / den_),
          static_cast<int>(static_cast<long long>(size.height()) * num_ / den_)};
}

QPoint CGessoView::ScrollPosition() const { return {horizontalScrollBar()->value(), verticalScrollBar()->value()}; }

// ---------------------------------------------------------------------------------------
// Zoom.

void CGessoView::ZoomStepIn(int& num, int& den) {
  if (den >= 2) den /= 2;
  else if (num < 8) num *= 2;
}

void CGessoView::ZoomStepOut(int& num, int& den) {
  if (num >= 2) num /= 2;
  else if (den < 8) den *= 2;
}

void CGessoView::SetZoom(int num, int den, const QPoint* point) {
  if (num == num_ && den == den_) return;
  const QSize client = viewport()->size();
  const QSize total = TotalSize();
  const QPoint p = point != nullptr ? *point
                                    : QPoint(std::min(client.width(), total.width()) / 2,
                                             std::min(client.height(), total.height()) / 2);
  const QPoint scroll = ScrollPosition();
  const double ix = (scroll.x() + p.x()) * static_cast<double>(den_) / num_;
  const double iy = (scroll.y() + p.y()) * static_cast<double>(den_) / num_;
  num_ = num;
  den_ = den;
  // With Auto Fit the frame takes the new size first, so that the scroll position is worked
  // out for the client area the image ends up in.
  if (AutoFitWindow()) Fit(3);
  const QSize scaled = TotalSize();
  const QSize visible = VisibleSize();
  const int sx = std::clamp(static_cast<int>(ix * num / den - visible.width() / 2), 0,
                            std::max(0, scaled.width() - visible.width()));
  const int sy = std::clamp(static_cast<int>(iy * num / den - visible.height() / 2), 0,
                            std::max(0, scaled.height() - visible.height()));
  UpdateScrollSizes();
  horizontalScrollBar()->setValue(sx);
  verticalScrollBar()->setValue(sy);
  viewport()->update();
  UpdateFrameTitle();
  UpdateCursor(QApplication::keyboardModifiers() & Qt::ControlModifier);
}

bool CGessoView::AutoFitWindow() {
  CScanApp* app = CScanApp::Instance();
  return app != nullptr && app->AutoFitWindow();
}

QSize CGessoView::VisibleSize() const {
  // Which scroll bars the scaled image needs in the area the view has: a bar along one
  // edge takes room from the other direction and may call for the second bar.
  const QSize total = TotalSize();
  const QSize room = maximumViewportSize();
  const int barHeight = horizontalScrollBar()->sizeHint().height();
  const int barWidth = verticalScrollBar()->sizeHint().width();
  bool needH = total.width() > room.width();
  bool needV = total.height() > room.height();
  if (needH && !needV) needV = total.height() > room.height() - barHeight;
  if (needV && !needH) needH = total.width() > room.width() - barWidth;
  return {std::max(0, room.width() - (needV ? barWidth : 0)), std::max(0, room.height() - (needH ? barHeight : 0))};
}

void CGessoView::UpdateScrollSizes() {
  // The ranges come from the room the view has, not from the viewport as it stands: the
  // viewport is smaller by any scroll bar shown a moment ago, and ranges taken from it would
  // keep a bar that the image no longer needs.
  const QSize total = TotalSize();
  const QSize client = VisibleSize();
  horizontalScrollBar()->setRange(0, std::max(0, total.width() - client.width()));
  verticalScrollBar()->setRange(0, std::max(0, total.height() - client.height()));
  horizontalScrollBar()->setPageStep(std::max(1, client.width() * 3 / 4));
  verticalScrollBar()->setPageStep(std::max(1, client.height() * 3 / 4));
  horizontalScrollBar()->setSingleStep(std::max(1, client.width() / 4));
  verticalScrollBar()->setSingleStep(std::max(1, client.height() / 4));
}

void CGessoView::UpdateFrameTitle() {
  if (auto* frame = qobject_cast<CChildFrame*>(parentWidget())) frame->OnUpdateFrameTitle();
}

// ---------------------------------------------------------------------------------------
// Updates and fitting.

void CGessoView::OnInitialUpdate() {
  CGessoDoc* doc = GetDocument();
  OnUpdate(nullptr, doc != nullptr && doc->Image() != nullptr ? 1 : 0);
}

void CGessoView::MoveSelection(long hint) {
  if (selection_.isEmpty()) return;
  const QSize size = ImageSize();  // after the transform
  QRect s = selection_;
  switch (hint) {
    case 5: s.moveTo(size.width() - s.x() - s.width(), size.height() - s.y() - s.height()); break;
    case 6: s.moveLeft(size.width() - s.x() - s.width()); break;
    case 7: s.moveTop(size.height() - s.y() - s.height()); break;
    case 8:  // counter-clockwise: the old width is the new height
      s = QRect(selection_.y(), size.height() - selection_.x() - selection_.width(), selection_.height(),
                selection_.width());
      break;
    case 9:  // clockwise: the old height is the new width
      s = QRect(size.width() - selection_.y() - selection_.height(), selection_.x(), selection_.height(),
                selection_.width());
      break;
    default: break;
  }
  selection_ = s;
}

void CGessoView::OnUpdate(framework::CView*, long hint) {
  if (hint == 0) hint = 3;
  if (hint >= 5 && hint <= 9) {
    MoveSelection(hint);
    // A turn or mirror changes the frame's size only with Auto Fit.
    hint = AutoFitWindow() ? 3 : 4;
  }
  if (hint >= 1 && hint <= 3) Fit(hint);
  UpdateScrollSizes();
  viewport()->update();
}

void CGessoView::Fit(long hint) {
  const QSize image = ImageSize();
  auto* frame = qobject_cast<CChildFrame*>(parentWidget());
  framework::CWinApp* app = framework::AfxGetApp();
  QMdiArea* area = app != nullptr ? app->MdiClient() : nullptr;
  if (image.isEmpty() || frame == nullptr || area == nullptr) return;
  // The MDI client's whole area, as if it showed no scroll bars of its own: a frame that
  // fits in it makes them go.
  const QSize client = area->contentsRect().size();
  const QSize border = frame->BorderSize();
  if (hint == 1 || hint == 2) {
    // The largest of the zooms 1:1, 1:2, 1:4 and 1:8 at which the image fits.
    num_ = den_ = 1;
    while (den_ < 8 && (image.width() / den_ + border.width() + 8 > client.width() ||
                        image.height() / den_ + border.height() + 8 > client.height()))
      den_ *= 2;
  }
  if (hint == 1 || hint == 3) {
    // An image taller than the client scrolls, and its frame is wider by the scroll bar, so
    // that no second bar is needed across; likewise for a wide one.
    QSize size = TotalSize() + border;
    const int barHeight = horizontalScrollBar()->sizeHint().height();
    const int barWidth = verticalScrollBar()->sizeHint().width();
    bool barV = size.height() > client.height();
    const bool barH = size.width() + (barV ? barWidth : 0) > client.width();
    if (barH && !barV) barV = size.height() + barHeight > client.height();
    if (barV) size.rwidth() += barWidth;
    if (barH) size.rheight() += barHeight;
    size = size.boundedTo(client).expandedTo(frame->minimumSizeHint());
    if (frame->isMaximized()) {
      frame->SetRestoredSize(size);
    } else {
      // A frame that would stick out moves to 2 (to 0 when it fills the client), so that
      // the client needs no scroll bars of its own.
      QPoint at = frame->pos();
      if (at.x() < 0 || at.x() + size.width() > client.width())
        at.setX(size.width() + 2 <= client.width() ? 2 : 0);
      if (at.y() < 0 || at.y() + size.height() > client.height())
        at.setY(size.height() + 2 <= client.height() ? 2 : 0);
      frame->setGeometry(QRect(at, size));
    }
  }
  UpdateScrollSizes();
  UpdateFrameTitle();
}

// ---------------------------------------------------------------------------------------
// Commands.

bool CGessoView::OnCommand(int id) {
  switch (id) {
    case ID_VIEW_ZOOMIN:
    case ID_VIEW_ZOOMOUT: {
      int n = num_, d = den_;
      if (id == ID_VIEW_ZOOMIN && n < 8) ZoomStepIn(n, d);
      if (id == ID_VIEW_ZOOMOUT && d < 8) ZoomStepOut(n, d);
      SetZoom(n, d);
      return true;
    }
    case ID_VIEW_SELECTIONCURSOR: s_cursorMode = 1, UpdateCursor(false); return true;
    case ID_VIEW_ZOOMCURSOR: s_cursorMode = 2, UpdateCursor(false); return true;
    case ID_EDIT_COPY: CopyToClipboard(); return true;
    case ID_WINDOW_FITTOSCREEN: OnUpdate(nullptr, 1); return true;
    case ID_WINDOW_ACTUALSIZE: SetZoom(1, 1); return true;
    case ID_FILE_PRINT: OnFilePrint(false); return true;
    case ID_FILE_PRINT_DIRECT: OnFilePrint(true); return true;
    case ID_FILE_PRINT_PREVIEW: {
      // The frame's title leaves the zoom out while the preview is up.
      auto* frame = qobject_cast<CChildFrame*>(parentWidget());
      if (frame != nullptr) frame->printPreview = true, frame->OnUpdateFrameTitle();
      OnFilePrintPreview();
      if (frame != nullptr) frame->printPreview = false, frame->OnUpdateFrameTitle();
      return true;
    }
    default: return false;
  }
}

bool CGessoView::OnUpdateCommand(framework::CCmdUI& ui) {
  CGessoDoc* doc = GetDocument();
  const bool image = doc != nullptr && doc->Image() != nullptr;
  auto* frame = qobject_cast<CChildFrame*>(parentWidget());
  switch (ui.m_nID) {
    case ID_VIEW_ZOOMIN: ui.Enable(num_ < 8); return true;
    case ID_VIEW_ZOOMOUT: ui.Enable(den_ < 8); return true;
    case ID_VIEW_SELECTIONCURSOR: ui.Enable(), ui.SetCheck(s_cursorMode == 1); return true;
    case ID_VIEW_ZOOMCURSOR: ui.Enable(), ui.SetCheck(s_cursorMode == 2); return true;
    case ID_EDIT_COPY: ui.Enable(image && !doc->IsAcquiring()); return true;
    case ID_WINDOW_FITTOSCREEN:
    case ID_WINDOW_ACTUALSIZE: ui.Enable(image && frame != nullptr && !frame->isMaximized()); return true;
    // A document without an image, or one still being received, has no page to print.
    case ID_FILE_PRINT:
    case ID_FILE_PRINT_DIRECT:
    case ID_FILE_PRINT_PREVIEW: ui.Enable(image && !doc->IsAcquiring()); return true;
    default: return false;
  }
}

// ---------------------------------------------------------------------------------------
// Cursors and the mouse.

void CGessoView::UpdateCursor(bool ctrl) {
  int id = 138;
  if (s_cursorMode == 2) {
    if (ctrl) id = den_ < 8 ? 137 : 135;
    else id = num_ < 8 ? 136 : 135;
  }
  if (id != cursorId_ || viewport()->cursor().shape() == Qt::ArrowCursor) viewport()->setCursor(MakeCursor(id));
  cursorId_ = id;
}

QPoint CGessoView::ImagePoint(const QPoint& client) const {
  const QPoint scroll = ScrollPosition();
  return {static_cast<int>((static_cast<long long>(scroll.x()) + client.x()) * den_ / num_),
          static_cast<int>((static_cast<long long>(scroll.y()) + client.y()) * den_ / num_)};
}

void CGessoView::keyPressEvent(QKeyEvent* event) {
  if (event->key() == Qt::Key_Control) UpdateCursor(true);
  framework::CView::keyPressEvent(event);
}

void CGessoView::keyReleaseEvent(QKeyEvent* event) {
  if (event->key() == Qt::Key_Control) UpdateCursor(false);
  framework::CView::keyReleaseEvent(event);
}

void CGessoView::mousePressEvent(QMouseEvent* event) {
  if (event->button() != Qt::LeftButton) return;
  const QPoint point = event->position().toPoint();
  const bool ctrl = event->modifiers() & Qt::ControlModifier;
  if (s_cursorMode == 2) {
    int n = num_, d = den_;
    if (ctrl && d < 8) ZoomStepOut(n, d);
    else if (!ctrl && n < 8) ZoomStepIn(n, d);
    SetZoom(n, d, &point);
    return;
  }
  CGessoDoc* doc = GetDocument();
  if (doc == nullptr || doc->Image() == nullptr) return;
  dragging_ = true;
  anchor_ = ImagePoint(point);
  selection_ = QRect();
  viewport()->update();
}

void CGessoView::mouseMoveEvent(QMouseEvent* event) {
  UpdateCursor(event->modifiers() & Qt::ControlModifier);
  if (!dragging_) return;
  QPoint point = event->position().toPoint();
  // Outside the client area the view scrolls after the pointer.
  const QSize client = viewport()->size();
  QScrollBar* h = horizontalScrollBar();
  QScrollBar* v = verticalScrollBar();
  if (point.x() < 0) h->setValue(h->value() + point.x());
  else if (point.x() > client.width()) h->setValue(h->value() + point.x() - client.width());
  if (point.y() < 0) v->setValue(v->value() + point.y());
  else if (point.y() > client.height()) v->setValue(v->value() + point.y() - client.height());
  const QPoint at = ImagePoint(point);
  const QRect normal(QPoint(std::min(anchor_.x(), at.x()), std::min(anchor_.y(), at.y())),
                     QSize(std::abs(at.x() - anchor_.x()), std::abs(at.y() - anchor_.y())));
  selection_ = normal.intersected(QRect(QPoint(0, 0), ImageSize()));
  viewport()->update();
}

void CGessoView::mouseReleaseEvent(QMouseEvent* event) {
  if (event->button() != Qt::LeftButton || !dragging_) return;
  dragging_ = false;
  if (selection_.width() < 3 || selection_.height() < 3) selection_ = QRect();
  viewport()->update();
}

// ---------------------------------------------------------------------------------------
// The marching ants.

void CGessoView::focusInEvent(QFocusEvent* event) {
  antsTimer_.start(100, this);
  framework::CView::focusInEvent(event);
}

void CGessoView::focusOutEvent(QFocusEvent* event) {
  antsTimer_.stop();
  framework::CView::focusOutEvent(event);
}

void CGessoView::timerEvent(QTimerEvent* event) {
  if (event->timerId() == antsTimer_.timerId()) AdvanceAnts();
  else framework::CView::timerEvent(event);
}

void CGessoView::AdvanceAnts() {
  phase_ = (phase_ + 1) % 8;
  const QRect outline = OutlineRect();
  if (!outline.isEmpty()) {
    QRegion region(outline);
    if (outline.width() > 2 && outline.height() > 2) region -= QRegion(outline.adjusted(1, 1, -1, -1));
    viewport()->update(region);
  }
}

QRect CGessoView::OutlineRect() const {
  if (selection_.isEmpty()) return {};
  const QPoint scroll = ScrollPosition();
  const auto scale = [this](int v) { return static_cast<int>(static_cast<long long>(v) * num_ / den_); };
  const int x0 = scale(selection_.x()), y0 = scale(selection_.y());
  const int x1 = scale(selection_.x() + selection_.width()), y1 = scale(selection_.y() + selection_.height());
  return QRect(x0 - scroll.x(), y0 - scroll.y(), x1 - x0, y1 - y0);
}

void CGessoView::DrawOutline(QPainter& painter) {
  const QRect outline = OutlineRect();
  if (outline.isEmpty()) return;
  QRegion region(outline);
  if (outline.width() > 2 && outline.height() > 2) region -= QRegion(outline.adjusted(1, 1, -1, -1));
  painter.save();
  painter.setCompositionMode(QPainter::RasterOp_SourceXorDestination);
  // The pattern moves with the image and one pixel per timer step.
  const QPoint scroll = ScrollPosition();
  painter.setBrushOrigin(-scroll.x() + phase_, -scroll.y());
  for (const QRect& r : region) painter.fillRect(r, brushes_[0]);
  painter.restore();
}

// ---------------------------------------------------------------------------------------
// Drawing.

void CGessoView::resizeEvent(QResizeEvent* event) {
  framework::CView::resizeEvent(event);
  UpdateScrollSizes();
}

void CGessoView::scrollContentsBy(int, int) { viewport()->update(); }

void CGessoView::paintEvent(QPaintEvent* event) {
  QPainter painter(viewport());
  OnDraw(painter, event->rect());
}

void CGessoView::OnDraw(QPainter& painter, const QRect& area) {
  CGessoDoc* doc = GetDocument();
  const QColor window = palette().color(QPalette::Base);  // COLOR_WINDOW
  if (doc != nullptr && doc->IsAcquiring()) {
    painter.fillRect(viewport()->rect(), Qt::white);
    painter.setPen(Qt::black);
    painter.drawText(viewport()->rect(), Qt::AlignCenter | Qt::TextWordWrap, LoadString(IDS_MSG_RECEIVING));
    return;
  }
  painter.fillRect(area, window);
  const QSize total = TotalSize();
  if (doc == nullptr || doc->Image() == nullptr || total.isEmpty() || area.isEmpty()) return;
  const QPoint scroll = ScrollPosition();
  // The device's coordinates are the scaled image's: the clip is the paint area shifted by
  // the scroll position.
  const QRect clip = area.translated(scroll);
  painter.save();
  painter.translate(-scroll);
  painter.setClipRect(clip);
  QPainterDC dc(painter, clip);
  tagTes_Output_Info out{};
  out.hdc = &dc;
  out.clipX = clip.x();
  out.clipY = clip.y();
  out.clipWidth = clip.width();
  out.clipHeight = clip.height();
  out.imageX = 0;
  out.imageY = 0;
  out.imageWidth = total.width();
  out.imageHeight = total.height();
  doc->Image()->Display(out);
  painter.restore();
  DrawOutline(painter);
}

// ---------------------------------------------------------------------------------------
// Child frame.

CChildFrame::CChildFrame() { setWindowIcon(ThemeIcon("image-x-generic")); }

void CChildFrame::OnUpdateFrameTitle() {
  framework::CDocument* doc = GetActiveDocument();
  if (doc == nullptr) return;
  auto* view = qobject_cast<CGessoView*>(GetActiveView());
  if (printPreview || view == nullptr) setWindowTitle(doc->GetTitle());
  else setWindowTitle(doc->GetTitle() + QStringLiteral(" (%1:%2)").arg(view->ZoomNum()).arg(view->ZoomDen()));
}

bool CChildFrame::OnCommand(int id) {
  if (id != ID_FILE_CLOSE) return false;
  close();
  return true;
}

QSize CChildFrame::BorderSize() const {
  // The frame keeps its title bar and edges as contents margins (set up once it is in an
  // MDI area); the view adds its own frame around the viewport.
  QMargins margins = contentsMargins();
  if (margins.isNull()) {
    // Not placed yet: what the style gives for the title bar and the edges.
    const int frameWidth = style()->pixelMetric(QStyle::PM_MdiSubWindowFrameWidth, nullptr, this);
    QStyleOptionTitleBar option;
    option.initFrom(this);
    const int titleHeight = style()->pixelMetric(QStyle::PM_TitleBarHeight, &option, this);
    margins = QMargins(frameWidth, titleHeight + 4, frameWidth, frameWidth);
  }
  if (layout() != nullptr) margins += layout()->contentsMargins();
  const int viewFrame = GetActiveView() != nullptr ? 2 * GetActiveView()->frameWidth() : 0;
  return {margins.left() + margins.right() + viewFrame, margins.top() + margins.bottom() + viewFrame};
}

void CChildFrame::changeEvent(QEvent* event) {
  framework::CMDIChildWnd::changeEvent(event);
  if (event->type() == QEvent::WindowStateChange && !isMaximized() && restoredSize_.isValid()) {
    resize(restoredSize_);
    restoredSize_ = QSize();
  }
}

}  // namespace orvax::app
