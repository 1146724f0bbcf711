// Acquired images as image documents: each transfer gets a new empty document from the
// document template, marked acquiring, with the focus given back to the window that had it.
#include "twain_session.h"

#include "framework/doc_manager.h"
#include "framework/doc_template.h"
#include "gesso_doc.h"
#include "scan_app.h"

#include <QApplication>
#include <QPointer>
#include <QWidget>

namespace orvax::app {

namespace {

class CDocumentAcquisition : public CAcquiredImage {
 public:
  explicit CDocumentAcquisition(CGessoDoc* doc) : doc_(doc) {}
  bool OnMemoryStrip(const twain::TW_IMAGEINFO& info, const twain::TW_IMAGEMEMXFER& strip) override {
    return doc_ && doc_->OnMemoryStrip(info, strip);
  }
  bool OnNativeTransfer(const void* dib, size_t bytes) override { return doc_ && doc_->OnNativeTransfer(dib, bytes); }
  void Complete() override {
    if (!doc_) return;
    doc_->SetAcquiring(false);
    doc_->UpdateAllViews(nullptr, 4);
    doc_->SetModifiedFlag(true);
  }
  bool AutoSave(const ds::AutoSaveRequest& request, QString* path) override {
    if (!doc_) return false;
    const CGessoDoc::AutoSaveResult result =
        doc_->AutoSave(request.format, request.quality, QString::fromLocal8Bit(request.folder),
                       QString::fromLocal8Bit(request.stem));
    *path = result.path;
    return result.saved;
  }
  void Close() override {
    if (!doc_) return;
    doc_->SetAcquiring(false);
    doc_->SetModifiedFlag(false);
    doc_->OnCloseDocument();
    doc_.clear();
  }

 private:
  QPointer<CGessoDoc> doc_;
};

}  // namespace

AcquisitionFactory DocumentAcquisition(CScanApp& app) {
  return [&app]() -> std::unique_ptr<CAcquiredImage> {
    const QList<framework::CMultiDocTemplate*> templates = app.DocManager()->Templates();
    if (templates.isEmpty()) return nullptr;
    QPointer<QWidget> focus = QApplication::focusWidget();
    auto* doc = qobject_cast<CGessoDoc*>(templates.front()->OpenDocumentFile(QString()));
    if (focus) focus->setFocus();
    if (doc == nullptr) return nullptr;
    doc->SetAcquiring(true);
    return std::make_unique<CDocumentAcquisition>(doc);
  };
}

}  // namespace orvax::app
