// A view of a document inside a child frame: a scroll area that receives the document's
// update hints and takes part in command routing before its document.
#pragma once

#include "framework/cmd_target.h"

#include <QAbstractScrollArea>

namespace orvax::framework {

class CDC;
class CDocument;
struct CPrintInfo;

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

  // Printing. OnPreparePrinting sets the job up (the default asks with the print dialog);
  // false ends the job. OnBeginPrinting and OnEndPrinting bracket the pages, OnPrint draws
  // one of them.
  virtual bool OnPreparePrinting(CPrintInfo* info);
  virtual void OnBeginPrinting(CDC* dc, CPrintInfo* info) {}
  virtual void OnPrint(CDC* dc, CPrintInfo* info) {}
  virtual void OnEndPrinting(CDC* dc, CPrintInfo* info) {}
  // Shows the print dialog of INFO (none for print direct or preview: the application's
  // printer is taken as it stands); false when cancelled.
  bool DoPreparePrinting(CPrintInfo* info);
  // The Print and print direct commands: prepare, then print every page of the job.
  void OnFilePrint(bool direct = false);
  // The Print Preview command: the job's pages in the preview window.
  void OnFilePrintPreview();

 private:
  friend class CDocument;
  friend class CMDIChildWnd;
  CDocument* document_;
};

}  // namespace orvax::framework
