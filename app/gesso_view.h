// The image view: zoom by powers of two, the zoom and selection cursors, a selection with
// a marching-ants outline, drawing through the image library (gesso_view.cpp), the
// clipboard copy (gesso_view_clipboard.cpp) and printing (gesso_view_printing.cpp). The
// child frame shows the zoom behind the document's title.
#pragma once

#include "framework/child_frame.h"
#include "framework/view.h"

#include <QBasicTimer>
#include <QBrush>
#include <QByteArray>
#include <QFont>
#include <QRect>

#include <memory>

class QPainter;

namespace orvax::app {

class CGessoDoc;

class CGessoView : public framework::CView {
  Q_OBJECT
 public:
  explicit CGessoView(CGessoDoc* doc);
  ~CGessoView() override;
  CGessoDoc* GetDocument() const;

  // The cursor mode shared by every view: 1 selection, 2 zoom.
  static int s_cursorMode;

  int ZoomNum() const { return num_; }
  int ZoomDen() const { return den_; }
  // One step in or out: 1:8, 1:4, 1:2, 1:1, 2:1, 4:1, 8:1.
  static void ZoomStepIn(int& num, int& den);
  static void ZoomStepOut(int& num, int& den);
  // Changes the zoom keeping the image position of POINT (a client point, or the centre of
  // the visible image when null) centred.
  void SetZoom(int num, int den, const QPoint* point = nullptr);
  QPoint ScrollPosition() const;
  // The scaled image size.
  QSize TotalSize() const;

  const QRect& Selection() const { return selection_; }
  void SetSelection(const QRect& selection) { selection_ = selection; }
  int AntsPhase() const { return phase_; }
  // The resource number of the cursor the view shows now (135 to 138).
  int CursorId() const { return cursorId_; }

  // Draws the view's area AREA (client coordinates) with PAINTER, as the paint event does.
  void OnDraw(QPainter& painter, const QRect& area);
  // The 24-bit DIB of the selection (or of the whole image): header, bottom-up BGR rows,
  // four spare bytes. Empty with a message on failure.
  QByteArray BuildClipboardDib();
  // Puts the DIB on the clipboard; false (with a message) when it cannot.
  bool CopyToClipboard();

  void OnInitialUpdate() override;
  void OnUpdate(framework::CView* sender, long hint) override;
  bool OnCommand(int id) override;
  bool OnUpdateCommand(framework::CCmdUI& ui) override;

  // The timer step: advances the phase and redraws the outline.
  void AdvanceAnts();

  // Printing: the image print dialog in place of the default one, the caption font, one
  // page with the image fitted or at the chosen resolution and its caption below it.
  bool OnPreparePrinting(framework::CPrintInfo* info) override;
  void OnBeginPrinting(framework::CDC* dc, framework::CPrintInfo* info) override;
  void OnPrint(framework::CDC* dc, framework::CPrintInfo* info) override;
  void OnEndPrinting(framework::CDC* dc, framework::CPrintInfo* info) override;
  // What the image library answered when the last page was drawn.
  long LastPrintStatus() const { return printStatus_; }
  // Why a print failed with the image library's STATUS, as the message tells it.
  static QString PrintFailureReason(long status);

 protected:
  void paintEvent(QPaintEvent* event) override;
  void resizeEvent(QResizeEvent* event) override;
  void scrollContentsBy(int dx, int dy) override;
  void mousePressEvent(QMouseEvent* event) override;
  void mouseMoveEvent(QMouseEvent* event) override;
  void mouseReleaseEvent(QMouseEvent* event) override;
  void keyPressEvent(QKeyEvent* event) override;
  void keyReleaseEvent(QKeyEvent* event) override;
  void focusInEvent(QFocusEvent* event) override;
  void focusOutEvent(QFocusEvent* event) override;
  void timerEvent(QTimerEvent* event) override;

 private:
  void UpdateScrollSizes();
  // The part of the scaled image the view shows: the room it has, less the scroll bars the
  // image needs in it.
  QSize VisibleSize() const;
  // Whether zooms and turns resize the frame to the image (Auto Fit Window To Image).
  static bool AutoFitWindow();
  void Fit(long hint);
  void MoveSelection(long hint);
  void UpdateFrameTitle();
  // The cursor for the mode, the zoom and whether Ctrl is held.
  void UpdateCursor(bool ctrl);
  QPoint ImagePoint(const QPoint& client) const;
  QRect OutlineRect() const;
  void DrawOutline(QPainter& painter);
  QSize ImageSize() const;

  int num_ = 1;
  int den_ = 1;
  QRect selection_;
  QPoint anchor_;
  bool dragging_ = false;
  int phase_ = 0;
  int cursorId_ = 136;
  QBrush brushes_[2];
  QBasicTimer antsTimer_;
  std::unique_ptr<QFont> captionFont_;
  long printStatus_ = 0;
};

class CChildFrame : public framework::CMDIChildWnd {
  Q_OBJECT
 public:
  CChildFrame();

  bool printPreview = false;
  // The document's title and " (num:den)", or the title alone in print preview.
  void OnUpdateFrameTitle() override;
  bool OnCommand(int id) override;
  // The frame's size outside the view's client area.
  QSize BorderSize() const;
  // A size to take when the maximised frame is restored.
  void SetRestoredSize(const QSize& size) { restoredSize_ = size; }

 protected:
  void changeEvent(QEvent* event) override;

 private:
  QSize restoredSize_;
};

}  // namespace orvax::app
