// The MDI child window that holds one view of a document. Closing it asks the document
// first; closing the last frame of a document closes the document.
#pragma once

#include "framework/cmd_target.h"

#include <QMdiSubWindow>

namespace orvax::framework {

class CDocument;
class CView;

class CMDIChildWnd : public QMdiSubWindow, public CCmdTarget {
  Q_OBJECT
 public:
  CMDIChildWnd();

  CView* GetActiveView() const { return view_; }
  CDocument* GetActiveDocument() const;
  void SetView(CView* view);

  // Sets the window title from the document's title; a derived frame may add to it.
  virtual void OnUpdateFrameTitle();

 protected:
  void closeEvent(QCloseEvent* event) override;

 private:
  CView* view_ = nullptr;
};

}  // namespace orvax::framework
