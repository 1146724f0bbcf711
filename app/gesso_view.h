// The image view: draws the document's image through the image library into a memory
// device context and onto the screen at 1:1, or the "being received" notice while a scan
// arrives.
#pragma once

#include "framework/child_frame.h"
#include "framework/view.h"

namespace orvax::app {

class CGessoDoc;

class CGessoView : public framework::CView {
  Q_OBJECT
 public:
  explicit CGessoView(CGessoDoc* doc);
  CGessoDoc* GetDocument() const;

  void OnUpdate(framework::CView* sender, long hint) override;

 protected:
  void paintEvent(QPaintEvent* event) override;
  void resizeEvent(QResizeEvent* event) override;
  void scrollContentsBy(int dx, int dy) override;

 private:
  void UpdateScrollSizes();
};

class CChildFrame : public framework::CMDIChildWnd {
  Q_OBJECT
 public:
  CChildFrame() = default;
};

}  // namespace orvax::app
