#include "framework/child_frame.h"
#include "framework/doc_manager.h"
#include "framework/doc_template.h"
#include "framework/document.h"
#include "framework/view.h"
#include "framework/win_app.h"
#include "string_table.h"

#include <QApplication>
#include <QCloseEvent>
#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QFileInfo>
#include <QMainWindow>
#include <QMdiArea>
#include <QMessageBox>
#include <QTextStream>

namespace orvax::framework {

using app::LoadString;

// ---------------------------------------------------------------------------------------
// Message box.

namespace {
std::function<int(const QString&, unsigned)> g_messageHook;
std::function<int(const QString&, unsigned, const MessageDetail&)> g_detailHook;
CWinApp* g_app = nullptr;

int DefaultButton(unsigned style) {
  switch (style & 0xF) {
    case MB_YESNO:
    case MB_YESNOCANCEL: return IDYES;
    default: return IDOK;
  }
}
}  // namespace

void SetMessageBoxHook(std::function<int(const QString&, unsigned)> hook) { g_messageHook = std::move(hook); }
void SetMessageBoxDetailHook(std::function<int(const QString&, unsigned, const MessageDetail&)> hook) {
  g_detailHook = std::move(hook);
}

int AfxMessageBox(const QString& text, unsigned style) { return AfxMessageBox(text, style, MessageDetail{}); }

int AfxMessageBox(const QString& text, unsigned style, const MessageDetail& detail) {
  if (g_detailHook) return g_detailHook(text, style, detail);
  if (g_messageHook) return g_messageHook(text, style);
  if (const QByteArray log = qgetenv("ORVAX_SCAN_MESSAGE_LOG"); !log.isEmpty()) {
    QFile file(QString::fromLocal8Bit(log));
    if (file.open(QIODevice::Append | QIODevice::Text)) {
      const auto oneLine = [](QString part) { return part.replace('\n', ' ').replace('\t', ' '); };
      QTextStream out(&file);
      out << QString::number(style, 16) << ' ' << oneLine(text);
      if (!detail.reason.isEmpty() || !detail.codes.isEmpty())
        out << '\t' << oneLine(detail.reason) << '\t' << oneLine(detail.codes);
      out << '\n';
    }
    return DefaultButton(style);
  }
  // Over the active window; when none is (a dialog just closed), over the main window.
  QWidget* parent = QApplication::activeWindow();
  if (parent == nullptr && g_app != nullptr) parent = g_app->m_pMainWnd;
  QMessageBox box(parent);
  box.setWindowTitle(LoadString(app::AFX_IDS_APP_TITLE));
  box.setTextFormat(Qt::PlainText);
  box.setText(text);
  if (!detail.reason.isEmpty() || !detail.codes.isEmpty()) {
    QString html;
    if (!detail.reason.isEmpty()) html += QStringLiteral("<p>%1</p>").arg(detail.reason.toHtmlEscaped());
    if (!detail.codes.isEmpty()) html += QStringLiteral("<p><small>%1</small></p>").arg(detail.codes.toHtmlEscaped());
    box.setInformativeText(html);
  }
  switch (style & 0xF0) {
    case MB_ICONERROR: box.setIcon(QMessageBox::Critical); break;
    case MB_ICONQUESTION: box.setIcon(QMessageBox::Question); break;
    case MB_ICONEXCLAMATION: box.setIcon(QMessageBox::Warning); break;
    case MB_ICONINFORMATION: box.setIcon(QMessageBox::Information); break;
    default: break;
  }
  switch (style & 0xF) {
    case MB_YESNO: box.setStandardButtons(QMessageBox::Yes | QMessageBox::No); break;
    case MB_YESNOCANCEL: box.setStandardButtons(QMessageBox::Yes | QMessageBox::No | QMessageBox::Cancel); break;
    case MB_OKCANCEL: box.setStandardButtons(QMessageBox::Ok | QMessageBox::Cancel); break;
    default: box.setStandardButtons(QMessageBox::Ok); break;
  }
  switch (box.exec()) {
    case QMessageBox::Yes: return IDYES;
    case QMessageBox::No: return IDNO;
    case QMessageBox::Cancel: return IDCANCEL;
    default: return IDOK;
  }
}

// ---------------------------------------------------------------------------------------
// Application.

CWinApp::CWinApp() : docManager_(std::make_unique<CDocManager>()) { g_app = this; }
CWinApp::~CWinApp() {
  if (g_app == this) g_app = nullptr;
}
CWinApp* AfxGetApp() { return g_app; }

void CWinApp::SetDocManager(std::unique_ptr<CDocManager> manager) { docManager_ = std::move(manager); }

CDocument* CWinApp::OpenDocumentFile(const QString& path) { return docManager_->OpenDocumentFile(path); }

// ---------------------------------------------------------------------------------------
// Document.

CDocument::CDocument() = default;
CDocument::~CDocument() = default;

void CDocument::SetTitle(const QString& title) {
  title_ = title;
  emit titleChanged();
}

void CDocument::SetPathName(const QString& path, bool addToMru) {
  path_ = QFileInfo(path).absoluteFilePath();
  SetTitle(QFileInfo(path).fileName());
  if (addToMru && AfxGetApp() != nullptr) AfxGetApp()->AddToRecentFileList(path_);
}

void CDocument::SetModifiedFlag(bool modified) {
  if (modified_ == modified) return;
  modified_ = modified;
  emit modifiedChanged(modified);
}

void CDocument::AddView(CView* view) {
  if (!views_.contains(view)) views_.push_back(view);
  view->document_ = this;
}

void CDocument::RemoveView(CView* view) { views_.removeAll(view); }

void CDocument::UpdateAllViews(CView* sender, long hint) {
  for (CView* view : QList<CView*>(views_)) {
    if (view != sender) view->OnUpdate(sender, hint);
  }
}

bool CDocument::OnNewDocument() {
  SetModifiedFlag(false);
  return true;
}
bool CDocument::OnOpenDocument(const QString&) { return false; }
bool CDocument::OnSaveDocument(const QString&) { return false; }
bool CDocument::DoFileSave() { return !path_.isEmpty() && OnSaveDocument(path_); }

void CDocument::OnCloseDocument() {
  for (CView* view : QList<CView*>(views_)) {
    view->document_ = nullptr;
    if (auto* frame = qobject_cast<QMdiSubWindow*>(view->parentWidget())) frame->deleteLater();
  }
  views_.clear();
  if (template_ != nullptr) template_->RemoveDocument(this);
  deleteLater();
}

bool CDocument::SaveModified() {
  if (!IsModified()) return true;
  const QString name = path_.isEmpty() ? title_ : QFileInfo(path_).fileName();
  switch (AfxMessageBox(app::FormatString1(app::AFX_IDP_ASK_TO_SAVE, name), MB_YESNOCANCEL | MB_ICONEXCLAMATION)) {
    case IDYES: return DoFileSave();
    case IDNO: return true;
    default: return false;
  }
}

bool CDocument::CanCloseFrame(CMDIChildWnd* frame) {
  return views_.size() > 1 ? true : SaveModified();
}

// ---------------------------------------------------------------------------------------
// View and child frame.

CView::CView(CDocument* document) : document_(document) {
  if (document != nullptr) document->AddView(this);
}
CView::~CView() {
  if (document_ != nullptr) document_->RemoveView(this);
}
void CView::OnInitialUpdate() { OnUpdate(nullptr, 0); }
void CView::OnUpdate(CView*, long) { viewport()->update(); }

CMDIChildWnd::CMDIChildWnd() { setAttribute(Qt::WA_DeleteOnClose); }

CDocument* CMDIChildWnd::GetActiveDocument() const { return view_ != nullptr ? view_->GetDocument() : nullptr; }

void CMDIChildWnd::SetView(CView* view) {
  view_ = view;
  setWidget(view);
  if (CDocument* doc = GetActiveDocument()) connect(doc, &CDocument::titleChanged, this, [this] { OnUpdateFrameTitle(); });
  OnUpdateFrameTitle();
}

void CMDIChildWnd::OnUpdateFrameTitle() {
  if (CDocument* doc = GetActiveDocument()) setWindowTitle(doc->GetTitle());
}

void CMDIChildWnd::closeEvent(QCloseEvent* event) {
  CDocument* doc = GetActiveDocument();
  if (doc == nullptr) {
    QMdiSubWindow::closeEvent(event);
    return;
  }
  if (!doc->CanCloseFrame(this)) {
    event->ignore();
    return;
  }
  if (doc->Views().size() <= 1) {
    doc->RemoveView(view_);
    view_->document_ = nullptr;
    doc->OnCloseDocument();
  }
  QMdiSubWindow::closeEvent(event);
}

// ---------------------------------------------------------------------------------------
// Template.

CMultiDocTemplate::CMultiDocTemplate(int resourceId, DocFactory doc, FrameFactory frame, ViewFactory view)
    : resourceId_(resourceId), docFactory_(std::move(doc)), frameFactory_(std::move(frame)),
      viewFactory_(std::move(view)) {}

CMultiDocTemplate::~CMultiDocTemplate() {
  for (CDocument* doc : QList<CDocument*>(documents_)) delete doc;
}

QString CMultiDocTemplate::GetDocString(int index) const { return app::TemplateField(LoadString(resourceId_), index); }

CDocument* CMultiDocTemplate::OpenDocumentFile(const QString& path, bool makeVisible) {
  CDocument* doc = docFactory_();
  doc->template_ = this;
  documents_.push_back(doc);
  if (path.isEmpty()) {
    doc->SetTitle(GetDocString(1) + QString::number(++untitledCount_));
    if (!doc->OnNewDocument()) {
      RemoveDocument(doc);
      delete doc;
      return nullptr;
    }
  } else {
    if (!doc->OnOpenDocument(path)) {
      RemoveDocument(doc);
      delete doc;
      return nullptr;
    }
    doc->SetPathName(path);
  }
  CMDIChildWnd* frame = CreateNewFrame(doc);
  InitialUpdateFrame(frame, doc, makeVisible);
  return doc;
}

CMDIChildWnd* CMultiDocTemplate::CreateNewFrame(CDocument* doc) {
  CMDIChildWnd* frame = frameFactory_();
  frame->SetView(viewFactory_(doc));
  if (CWinApp* app = AfxGetApp(); app != nullptr && app->MdiClient() != nullptr) app->MdiClient()->addSubWindow(frame);
  return frame;
}

void CMultiDocTemplate::InitialUpdateFrame(CMDIChildWnd* frame, CDocument* doc, bool makeVisible) {
  if (frame->GetActiveView() != nullptr) frame->GetActiveView()->OnInitialUpdate();
  if (makeVisible) {
    frame->show();
    if (frame->mdiArea() != nullptr) frame->mdiArea()->setActiveSubWindow(frame);
  }
}

void CMultiDocTemplate::RemoveDocument(CDocument* doc) {
  documents_.removeAll(doc);
  doc->template_ = nullptr;
}

// ---------------------------------------------------------------------------------------
// Document manager.

CDocManager::~CDocManager() = default;

void CDocManager::AddDocTemplate(std::unique_ptr<CMultiDocTemplate> docTemplate) {
  templates_.push_back(std::move(docTemplate));
}

const QList<CMultiDocTemplate*> CDocManager::Templates() const {
  QList<CMultiDocTemplate*> list;
  for (const auto& t : templates_) list.push_back(t.get());
  return list;
}

QList<CDocument*> CDocManager::Documents() const {
  QList<CDocument*> docs;
  for (const auto& t : templates_) docs += t->Documents();
  return docs;
}

CDocument* CDocManager::OpenDocumentFile(const QString& path) {
  if (templates_.empty()) return nullptr;
  const QString absolute = QFileInfo(path).absoluteFilePath();
  for (CDocument* doc : Documents()) {
    if (!doc->GetPathName().isEmpty() && doc->GetPathName() == absolute) {
      // Already open: bring its first frame to the front.
      if (!doc->Views().isEmpty()) {
        if (auto* frame = qobject_cast<QMdiSubWindow*>(doc->Views().front()->parentWidget()))
          if (frame->mdiArea()) frame->mdiArea()->setActiveSubWindow(frame);
      }
      return doc;
    }
  }
  return templates_.front()->OpenDocumentFile(path);
}

QString CDocManager::OpenFilter() const {
  QStringList entries;
  for (const auto& t : templates_) {
    // "Image (*.bmp;*.jpg;*.tif;*.fpx)" becomes "Image (*.bmp *.jpg ... *.BMP *.JPG ...)".
    const QString entry = t->GetDocString(3);
    const qsizetype open = entry.indexOf(QLatin1Char('('));
    const qsizetype close = entry.lastIndexOf(QLatin1Char(')'));
    if (open < 0 || close < open) {
      if (!entry.isEmpty()) entries << QString(entry).replace(QLatin1Char(';'), QLatin1Char(' '));
      continue;
    }
    QStringList patterns;
    const auto add = [&patterns](const QString& pattern) {
      if (!patterns.contains(pattern.toLower())) patterns << pattern.toLower();
    };
    for (const QString& pattern : entry.mid(open + 1, close - open - 1).split(QLatin1Char(';'), Qt::SkipEmptyParts)) {
      const QString p = pattern.trimmed();
      add(p);
      if (p.startsWith(QLatin1String("*.")))
        for (const QString& alias : ExtensionAliases(p.mid(2).toLower())) add(QStringLiteral("*.") + alias);
    }
    QStringList both = patterns;
    for (const QString& p : patterns)
      if (p.toUpper() != p) both << p.toUpper();
    entries << entry.left(open).trimmed() + QStringLiteral(" (") + both.join(QLatin1Char(' ')) + QLatin1Char(')');
  }
  entries << LoadString(app::AFX_IDS_ALLFILTER).section(QLatin1Char('('), 0, 0) + QStringLiteral("(*)");
  return entries.join(QStringLiteral(";;"));
}

QStringList CDocManager::DoPromptFileName(const QString& name, int titleId, bool open, bool multi,
                                          CMultiDocTemplate*) {
  QWidget* parent = AfxGetApp() != nullptr ? AfxGetApp()->m_pMainWnd : nullptr;
  if (open) {
    if (multi) return QFileDialog::getOpenFileNames(parent, LoadString(titleId), name, OpenFilter());
    const QString file = QFileDialog::getOpenFileName(parent, LoadString(titleId), name, OpenFilter());
    return file.isEmpty() ? QStringList() : QStringList{file};
  }
  const QString file = QFileDialog::getSaveFileName(parent, LoadString(titleId), name, OpenFilter());
  return file.isEmpty() ? QStringList() : QStringList{file};
}

bool CDocManager::SaveAllModified() {
  for (CDocument* doc : Documents()) {
    if (!doc->SaveModified()) return false;
  }
  return true;
}

void CDocManager::CloseAllDocuments() {
  for (CDocument* doc : Documents()) doc->OnCloseDocument();
}

}  // namespace orvax::framework
