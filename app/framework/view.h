// A view of a document inside a child frame: a scroll area that receives the document's
// update hints and takes part in command routing before its document.
#pragma once

#include "framework/cmd_target.h"

#include <QAbstractScrollArea>

namespace orvax::framework {

class CDocument;

class CView : public QAbstractScrollArea, public CCmdTarget {
  Q_OBJECT
 public:
  explicit CView(CDocument* document);
  ~CView() override;

  CDocument* GetDocument() const { return document_; }
  // Called once when the frame is first shown; sends OnUpdate(null, 0).
  virtual void OnInitialUpdate();
  // HINT says what changed; 0 means everything.
  virtual void OnUpdate(CView* sender, long hint);

 private:
  friend class CDocument;
  friend class CMDIChildWnd;
  CDocument* document_;
};

}  // namespace orvax::framework
