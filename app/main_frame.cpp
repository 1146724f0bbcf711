#include "main_frame.h"

#include "app_icons.h"
#include "commands.h"
#include "framework/child_frame.h"
#include "framework/doc_manager.h"
#include "framework/document.h"
#include "framework/view.h"
#include "gesso_doc.h"
#include "progress_pane.h"
#include "scan_app.h"
#include "string_table.h"

#include <QAction>
#include <QApplication>
#include <QCloseEvent>
#include <QDragEnterEvent>
#include <QFile>
#include <QLabel>
#include <QMdiArea>
#include <QMdiSubWindow>
#include <QMenuBar>
#include <QMimeData>
#include <QPainter>
#include <QScreen>
#include <QStatusBar>
#include <QStyle>
#include <QToolBar>

#include <cstring>

namespace orvax::app {

using framework::AfxMessageBox;
using framework::CCmdUI;
using framework::MB_ICONERROR;
using framework::MB_OK;

namespace {

// In a list of AddActions, a separator.
constexpr int kSeparator = -1;

// Adds the actions of IDS, in order, to TO (a menu or a toolbar).
template <typename Bar>
void AddActions(const QMap<int, QAction*>& actions, Bar* to, std::initializer_list<int> ids) {
  for (int id : ids) {
    if (id == kSeparator) to->addSeparator();
    else to->addAction(actions[id]);
  }
}

// Each popup the data source fills: its first id, and the exports behind it.
struct SourceList {
  int firstId;
  int lastId;
  ds::IntQueryFn DataSourceExports::*count;
  ds::GetItemFn DataSourceExports::*item;
  ds::SelectItemFn DataSourceExports::*select;
};
constexpr SourceList kSourceLists[] = {
    {ID_SETTINGS_FIRST, ID_SETTINGS_LAST, &DataSourceExports::GetSettingsCount, &DataSourceExports::GetSettingsItem,
     &DataSourceExports::SelectSettingsItem},
    {ID_COLORSPACE_FIRST, ID_COLORSPACE_LAST, &DataSourceExports::GetColorSpaceCount,
     &DataSourceExports::GetColorSpaceItem, &DataSourceExports::SelectColorSpaceItem},
    {ID_FILMTYPE_FIRST, ID_FILMTYPE_LAST, &DataSourceExports::GetFilmTypeCount, &DataSourceExports::GetFilmTypeItem,
     &DataSourceExports::SelectFilmTypeItem},
};

const SourceList* ListOf(int id) {
  for (const SourceList& list : kSourceLists) {
    if (id >= list.firstId && id <= list.lastId) return &list;
  }
  return nullptr;
}

// The menus' "&" accelerators for numbered entries, as the framework writes them.
QString NumberedEntry(int number, const QString& text) {
  QString escaped = text;
  escaped.replace(QLatin1Char('&'), QStringLiteral("&&"));
  return QStringLiteral("&%1 %2").arg(number).arg(escaped);
}

}  // namespace

CMainFrame::CMainFrame(CScanApp& app) : app_(app), messages_(this) {
  setObjectName(QStringLiteral("OrvaxScan2"));  // the window class
  setWindowTitle(LoadString(IDR_MAINFRAME));
  // The program's icon for every window without one of its own, and for the desktop, which
  // finds it through the desktop entry of that name.
  QApplication::setWindowIcon(AppIcon());
  QGuiApplication::setDesktopFileName(QStringLiteral("orvax-scan"));
  setWindowIcon(AppIcon());
  messages_.setHandler([this](win::UINT msg, win::WPARAM w, win::LPARAM l) { return OnWindowMessage(msg, w, l); });
  acquisitionFactory_ = DocumentAcquisition(app);
}

CMainFrame::~CMainFrame() {
  // Child frames still open are torn down with the MDI area; their activation changes must
  // not reach this half-destroyed frame.
  if (mdi_ != nullptr) mdi_->disconnect(this);
  // A frame torn down without an accepted close (the application ending while a document
  // kept its unsaved changes) still steps the source and the manager down, so that neither
  // stays open with a window handle that no longer exists.
  if (twainState_ != TwainState::kPreSession) CloseSource();
}

QRect CMainFrame::ClampPlacement(QRect stored, const QSize& screen) {
  int width = std::min(stored.width(), screen.width());
  int height = std::min(stored.height(), screen.height());
  int left = std::max(0, stored.left());
  int top = std::max(0, stored.top());
  if (left + width > screen.width()) left = screen.width() - width;
  if (top + height > screen.height()) top = screen.height() - height;
  return QRect(left, top, width, height);
}

int CMainFrame::LoadFrame(const QSize& screen) {
  mdi_ = new QMdiArea;
  mdi_->setObjectName("MDIClient");
  // The client area scrolls, as the frame's scroll styles ask.
  mdi_->setHorizontalScrollBarPolicy(Qt::ScrollBarAsNeeded);
  mdi_->setVerticalScrollBarPolicy(Qt::ScrollBarAsNeeded);
  setCentralWidget(mdi_);
  connect(mdi_, &QMdiArea::subWindowActivated, this, &CMainFrame::OnMdiActivated);

  const CRegistrySettings& reg = app_.Registry();
  const int showCommand = GeneralSettings::WindowPosCode(reg, app_.m_nCmdShow);
  const QRect placement =
      ClampPlacement(QRect(GeneralSettings::WindowLeft(reg), GeneralSettings::WindowTop(reg),
                           GeneralSettings::WindowWidth(reg), GeneralSettings::WindowHeight(reg)),
                     screen);
  resize(placement.size());
  move(placement.topLeft());

  CreateActions();
  CreateMenus();
  CreateToolBar();
  CreateStatusBar();
  setAcceptDrops(true);
  ShowMenuSet(IDR_MENU_NODOC);
  return showCommand;
}

QAction* CMainFrame::MakeAction(int id, const QString& text, const QList<QKeySequence>& keys, bool checkable) {
  auto* action = new QAction(text, this);
  action->setData(id);
  action->setShortcuts(keys);
  action->setCheckable(checkable);
  action->setEnabled(false);
  connect(action, &QAction::triggered, this, [this, id] { RunCommand(id); });
  actions_.insert(id, action);
  addAction(action);  // keys work whichever menu set is shown
  return action;
}

void CMainFrame::CreateActions() {
  using K = QKeySequence;
  MakeAction(ID_FILE_NEW, tr("&New"), {K(Qt::CTRL | Qt::Key_N)});
  MakeAction(ID_FILE_OPENSOURCE, tr("Open &Twain Source"));
  MakeAction(ID_FILE_OPEN, tr("&Open...\tCtrl+O"), {K(Qt::CTRL | Qt::Key_O)});
  MakeAction(ID_FILE_CLOSE, tr("&Close"));
  MakeAction(ID_FILE_SAVE, tr("&Save\tCtrl+S"), {K(Qt::CTRL | Qt::Key_S)});
  MakeAction(ID_FILE_SAVE_AS, tr("Save &As..."));
  MakeAction(ID_FILE_PRINT, tr("&Print...\tCtrl+P"), {K(Qt::CTRL | Qt::Key_P)});
  MakeAction(ID_FILE_PRINT_PREVIEW, tr("Print Pre&view"));
  MakeAction(ID_FILE_PRINT_SETUP, tr("P&rint Setup..."));
  MakeAction(ID_APP_ABOUT, tr("&About Orvax Scan..."));
  MakeAction(ID_APP_EXIT, tr("E&xit"));
  MakeAction(ID_EDIT_UNDO, tr("&Undo\tCtrl+Z"), {K(Qt::CTRL | Qt::Key_Z), K(Qt::ALT | Qt::Key_Backspace)});
  MakeAction(ID_EDIT_REDO, tr("&Redo\tCtrl+Y"), {K(Qt::CTRL | Qt::Key_Y), K(Qt::CTRL | Qt::SHIFT | Qt::Key_Z)});
  MakeAction(ID_EDIT_CUT, tr("Cu&t\tCtrl+X"), {K(Qt::CTRL | Qt::Key_X), K(Qt::SHIFT | Qt::Key_Delete)});
  MakeAction(ID_EDIT_COPY, tr("&Copy\tCtrl+C"), {K(Qt::CTRL | Qt::Key_C), K(Qt::CTRL | Qt::Key_Insert)});
  MakeAction(ID_EDIT_PASTE, tr("&Paste\tCtrl+V"), {K(Qt::CTRL | Qt::Key_V), K(Qt::SHIFT | Qt::Key_Insert)});
  MakeAction(ID_NEXT_PANE, tr("Next Pane"), {K(Qt::Key_F6)});
  MakeAction(ID_PREV_PANE, tr("Previous Pane"), {K(Qt::SHIFT | Qt::Key_F6)});
  MakeAction(ID_VIEW_ZOOMIN, tr("Zoom &In"));
  MakeAction(ID_VIEW_ZOOMOUT, tr("Zoom &Out"));
  MakeAction(ID_TRANSFORM_ROTATECW, tr("Rotate &CW"));
  MakeAction(ID_TRANSFORM_ROTATECCW, tr("Rotate CC&W"));
  MakeAction(ID_TRANSFORM_FLIPH, tr("Flip &Horizontal"));
  MakeAction(ID_TRANSFORM_FLIPV, tr("Flip &Vertical"));
  MakeAction(ID_TRANSFORM_FLIPBOTH, tr("Flip &Both Axes"));
  MakeAction(ID_VIEW_SELECTIONCURSOR, tr("&Selection Cursor"), {}, true);
  MakeAction(ID_VIEW_ZOOMCURSOR, tr("&Zoom Cursor"), {}, true);
  MakeAction(ID_VIEW_TOOLBAR, tr("&Toolbar"), {}, true);
  MakeAction(ID_VIEW_STATUS_BAR, tr("&Status Bar"), {}, true);
  MakeAction(ID_WINDOW_FITTOSCREEN, tr("&Fit To Screen"));
  MakeAction(ID_WINDOW_ACTUALSIZE, tr("&Actual Size"));
  MakeAction(ID_WINDOW_AUTOFIT, tr("Auto Fit &Window To Image"), {}, true);
  MakeAction(ID_WINDOW_CASCADE, tr("&Cascade"));
  MakeAction(ID_WINDOW_TILE_HORZ, tr("&Tile"));
  MakeAction(ID_WINDOW_ARRANGE, tr("&Arrange Icons"));
  MakeAction(ID_SOURCE_DEVICE, tr("&Device..."));
  MakeAction(ID_SOURCE_PREFERENCES, tr("&Preferences..."));
  MakeAction(ID_SOURCE_EJECT, LoadString(IDS_MENU_EJECT));
  MakeAction(ID_SOURCE_SLIDEFEEDER, tr("S&lide Feeder..."));
  for (int i = 0; i < CRegRecentFileList::kSize; ++i) {
    QAction* mru = MakeAction(ID_FILE_MRU_FILE1 + i, QString());
    mru->setVisible(false);
    mruActions_.push_back(mru);
  }
}

void CMainFrame::CreateMenus() {
  for (int set : {IDR_MENU_NODOC, IDR_MENU_DOC}) {
    const bool doc = set == IDR_MENU_DOC;
    QList<QMenu*> menus;
    auto* file = new QMenu(tr("&File"), this);
    AddActions(actions_, file, {ID_FILE_OPENSOURCE, ID_FILE_OPEN});
    if (doc)
      AddActions(actions_, file,
                 {ID_FILE_CLOSE, ID_FILE_SAVE, ID_FILE_SAVE_AS, kSeparator, ID_FILE_PRINT, ID_FILE_PRINT_PREVIEW});
    AddActions(actions_, file, {ID_FILE_PRINT_SETUP, kSeparator, ID_APP_ABOUT, kSeparator});
    for (QAction* mru : mruActions_) file->addAction(mru);
    AddActions(actions_, file, {kSeparator, ID_APP_EXIT});
    fileMenus_.push_back(file);
    menus.push_back(file);

    if (doc) {
      auto* edit = new QMenu(tr("&Edit"), this);
      AddActions(actions_, edit, {ID_EDIT_UNDO, ID_EDIT_REDO, kSeparator, ID_EDIT_CUT, ID_EDIT_COPY, ID_EDIT_PASTE});
      menus.push_back(edit);
    }

    auto* view = new QMenu(tr("&View"), this);
    if (doc) {
      AddActions(actions_, view, {ID_VIEW_ZOOMIN, ID_VIEW_ZOOMOUT});
      AddActions(actions_, view->addMenu(tr("&Transform")),
                 {ID_TRANSFORM_ROTATECW, ID_TRANSFORM_ROTATECCW, ID_TRANSFORM_FLIPH, ID_TRANSFORM_FLIPV,
                  ID_TRANSFORM_FLIPBOTH});
      AddActions(actions_, view, {kSeparator, ID_VIEW_SELECTIONCURSOR, ID_VIEW_ZOOMCURSOR, kSeparator});
    }
    AddActions(actions_, view, {ID_VIEW_TOOLBAR, ID_VIEW_STATUS_BAR});
    menus.push_back(view);

    auto* source = new QMenu(tr("&Orvax Scan"), this);
    AddActions(actions_, source, {ID_SOURCE_DEVICE, ID_SOURCE_PREFERENCES, kSeparator});
    const auto addPopup = [&](const QString& title, int firstId) {
      QMenu* popup = source->addMenu(title);
      popup->setProperty("firstId", firstId);
      allSourcePopups_.push_back(popup);
      return popup;
    };
    addPopup(tr("&Settings"), ID_SETTINGS_FIRST);
    if (doc) {
      // The document's own colour spaces; the document fills this popup.
      QMenu* docSpaces = source->addMenu(tr("&Document Color Space"));
      docSpaces->setProperty("firstId", static_cast<int>(ID_DOCCOLORSPACE_FIRST));
      connect(docSpaces, &QMenu::aboutToShow, this, [this, docSpaces] {
        framework::CMDIChildWnd* child = ActiveChild();
        if (auto* doc = child != nullptr ? qobject_cast<CGessoDoc*>(child->GetActiveDocument()) : nullptr)
          doc->BuildColorSpaceMenu(docSpaces);
        else
          docSpaces->clear();
      });
      connect(docSpaces, &QMenu::triggered, this, [this](QAction* item) { RunCommand(item->data().toInt()); });
    }
    addPopup(tr("S&can Color Space"), ID_COLORSPACE_FIRST);
    addPopup(tr("&Film Type"), ID_FILMTYPE_FIRST);
    AddActions(actions_, source, {kSeparator, ID_SOURCE_EJECT, ID_SOURCE_SLIDEFEEDER});
    menus.push_back(source);

    if (doc) {
      windowMenu_ = new QMenu(tr("&Window"), this);
      AddActions(actions_, windowMenu_,
                 {ID_WINDOW_FITTOSCREEN, ID_WINDOW_ACTUALSIZE, ID_WINDOW_AUTOFIT, kSeparator, ID_WINDOW_CASCADE,
                  ID_WINDOW_TILE_HORZ, ID_WINDOW_ARRANGE});
      windowListSeparator_ = windowMenu_->addSeparator();
      connect(windowMenu_, &QMenu::aboutToShow, this, &CMainFrame::RebuildWindowList);
      menus.push_back(windowMenu_);
    }
    for (QMenu* menu : menus) connect(menu, &QMenu::aboutToShow, this, &CMainFrame::UpdateCommandUI);
    menuSets_.insert(set, menus);
  }
  for (QMenu* popup : allSourcePopups_) connect(popup, &QMenu::aboutToShow, this, &CMainFrame::UpdateCommandUI);
}

QMenu* CMainFrame::SourcePopup(int firstId) const {
  for (QMenu* popup : allSourcePopups_) {
    if (popup->property("firstId").toInt() == firstId && menuSets_.value(menuSet_).contains(
                                                             qobject_cast<QMenu*>(popup->parent())))
      return popup;
  }
  return nullptr;
}

QMenu* CMainFrame::RecentFilesAnchor() const { return fileMenus_.value(menuSet_ == IDR_MENU_DOC ? 1 : 0); }

void CMainFrame::CreateToolBar() {
  QToolBar* bar = addToolBar(tr("Toolbar"));
  bar->setObjectName("AFX_IDW_TOOLBAR");
  bar->setAllowedAreas(Qt::AllToolBarAreas);
  // Freedesktop icon names; the menus show the same pictures.
  const struct {
    int id;
    const char* icon;
  } icons[] = {
      {ID_FILE_OPEN, "document-open"},        {ID_FILE_SAVE, "document-save"},
      {ID_EDIT_COPY, "edit-copy"},            {ID_FILE_PRINT, "document-print"},
      {ID_VIEW_ZOOMCURSOR, "zoom-in"},        {ID_VIEW_SELECTIONCURSOR, "edit-select"},
      {ID_APP_ABOUT, "help-about"},           {ID_FILE_OPENSOURCE, "scanner"},
      {ID_EDIT_UNDO, "edit-undo"},            {ID_EDIT_REDO, "edit-redo"},
      {ID_VIEW_ZOOMIN, "zoom-in"},            {ID_VIEW_ZOOMOUT, "zoom-out"},
      {ID_TRANSFORM_ROTATECW, "object-rotate-right"}, {ID_TRANSFORM_ROTATECCW, "object-rotate-left"},
      {ID_TRANSFORM_FLIPH, "object-flip-horizontal"}, {ID_TRANSFORM_FLIPV, "object-flip-vertical"},
  };
  for (const auto& [id, icon] : icons) actions_[id]->setIcon(ThemeIcon(icon));
  AddActions(actions_, bar,
             {ID_FILE_OPEN, ID_FILE_SAVE, kSeparator, ID_EDIT_COPY, kSeparator, ID_FILE_PRINT, kSeparator,
              ID_VIEW_ZOOMCURSOR, ID_VIEW_SELECTIONCURSOR, kSeparator, ID_APP_ABOUT, ID_FILE_OPENSOURCE});
}

void CMainFrame::CreateStatusBar() {
  QStatusBar* bar = statusBar();
  bar->showMessage(LoadString(AFX_IDS_IDLEMESSAGE));
  progress_ = new CProgressPane;
  bar->addPermanentWidget(progress_);
  numPane_ = new QLabel(QStringLiteral("NUM"));
  numPane_->setObjectName("ID_INDICATOR_NUM");
  bar->addPermanentWidget(numPane_);
}

void CMainFrame::ShowMenuSet(int set) {
  if (set == menuSet_) return;
  menuSet_ = set;
  menuBar()->clear();
  for (QMenu* menu : menuSets_.value(set)) menuBar()->addMenu(menu);
  // A new menu set carries its own data-source popups.
  RebuildSourceMenus();
  RebuildRecentFiles();
  UpdateCommandUI();
}

void CMainFrame::OnMdiActivated(QMdiSubWindow* window) {
  ShowMenuSet(mdi_->subWindowList().isEmpty() ? IDR_MENU_NODOC : IDR_MENU_DOC);
  for (const QMetaObject::Connection& c : titleWatch_) disconnect(c);
  titleWatch_.clear();
  auto* child = qobject_cast<framework::CMDIChildWnd*>(window);
  if (framework::CDocument* doc = child != nullptr ? child->GetActiveDocument() : nullptr) {
    titleWatch_ << connect(doc, &framework::CDocument::titleChanged, this, &CMainFrame::UpdateTitle)
                << connect(doc, &framework::CDocument::modifiedChanged, this, &CMainFrame::UpdateTitle);
    // Maximising and restoring the frame change what the main title shows; it is set again
    // once the frame is done with it.
    const auto later = [this] { QMetaObject::invokeMethod(this, &CMainFrame::UpdateTitle, Qt::QueuedConnection); };
    titleWatch_ << connect(child, &QMdiSubWindow::windowStateChanged, this, later)
                << connect(child, &QWidget::windowTitleChanged, this, later);
  }
  UpdateTitle();
  UpdateCommandUI();
}

void CMainFrame::UpdateTitle() {
  const QString program = LoadString(IDR_MAINFRAME);
  framework::CMDIChildWnd* child = ActiveChild();
  // A frame that is closing stays active until it is gone.
  if (child != nullptr && !child->isVisible()) child = nullptr;
  framework::CDocument* doc = child != nullptr ? child->GetActiveDocument() : nullptr;
  if (doc == nullptr) {
    setWindowTitle(program);
    setWindowModified(false);
    return;
  }
  if (child->isMaximized()) {
    // A maximised frame names itself in the main title, as MDI programs do: the frame
    // appends " - [its title]" to whatever the main title is.
    setWindowModified(false);
    setWindowTitle(program);
    return;
  }
  // "[*]" in a name is the mark's place holder; doubled, it stands for itself.
  QString name = doc->GetTitle();
  name.replace(QStringLiteral("[*]"), QStringLiteral("[*][*]"));
  setWindowTitle(name + QStringLiteral("[*] - ") + program);
  setWindowModified(doc->IsModified());
}

framework::CMDIChildWnd* CMainFrame::ActiveChild() const {
  return mdi_ != nullptr ? qobject_cast<framework::CMDIChildWnd*>(mdi_->activeSubWindow()) : nullptr;
}

void CMainFrame::RebuildWindowList() {
  for (QAction* a : windowListActions_) {
    windowMenu_->removeAction(a);
    a->deleteLater();
  }
  windowListActions_.clear();
  const QList<QMdiSubWindow*> windows = mdi_->subWindowList();
  windowListSeparator_->setVisible(!windows.isEmpty());
  for (int i = 0; i < windows.size(); ++i) {
    QMdiSubWindow* w = windows[i];
    QAction* a = windowMenu_->addAction(NumberedEntry(i + 1, w->windowTitle()));
    a->setCheckable(true);
    a->setChecked(w == mdi_->activeSubWindow());
    connect(a, &QAction::triggered, this, [this, w] { mdi_->setActiveSubWindow(w); });
    windowListActions_.push_back(a);
  }
}

void CMainFrame::RebuildRecentFiles() {
  CRegRecentFileList& list = app_.RecentFiles();
  for (int i = 0; i < CRegRecentFileList::kSize; ++i) {
    const QString shown = list.DisplayName(i);
    mruActions_[i]->setText(NumberedEntry(i + 1, shown));
    mruActions_[i]->setVisible(!shown.isEmpty());
  }
}

void CMainFrame::RebuildSourceMenus() {
  const DataSourceModule& module = app_.Module();
  for (QMenu* popup : allSourcePopups_) {
    const int firstId = popup->property("firstId").toInt();
    const SourceList* list = ListOf(firstId);
    popup->clear();
    const int count = app_.sourceEnabled && module.IsLoaded() ? (*module.*(list->count))() : 0;
    if (count <= 0) {
      QAction* none = popup->addAction(LoadString(IDS_MENU_NONE));
      none->setData(firstId);
      none->setEnabled(false);
      continue;
    }
    for (int i = 0; i < count && firstId + i <= list->lastId; ++i) {
      char text[256] = {};
      int checked = 0;
      const int code = (*module.*(list->item))(i, text, sizeof text, &checked);
      text[sizeof text - 1] = '\0';
      if (code == ds::kItemSeparator) {
        popup->addSeparator();
        continue;
      }
      const int id = firstId + i;
      // The source's texts are shown as they are: "B&W Negative" has no mnemonic.
      QAction* item = popup->addAction(QString::fromLocal8Bit(text).replace(QLatin1Char('&'), QLatin1String("&&")));
      item->setData(id);
      item->setCheckable(checked != 0);
      item->setChecked(checked != 0);
      item->setEnabled(code >= 0);
      connect(item, &QAction::triggered, this, [this, id] { RunCommand(id); });
    }
  }
}

// ---------------------------------------------------------------------------------------
// Command routing: active view, its document, the child frame, this frame, the application.

QList<framework::CCmdTarget*> CMainFrame::CommandChain() {
  QList<framework::CCmdTarget*> chain;
  if (framework::CMDIChildWnd* child = ActiveChild()) {
    if (child->GetActiveView()) chain << child->GetActiveView();
    if (child->GetActiveDocument()) chain << child->GetActiveDocument();
    chain << child;
  }
  chain << this << &app_;
  return chain;
}

void CMainFrame::RunCommand(int id) {
  CCmdUI ui(id);
  const QList<framework::CCmdTarget*> chain = CommandChain();
  // A command runs only when its update rule allows it, as a disabled item cannot be chosen.
  for (framework::CCmdTarget* target : chain) {
    if (target->OnUpdateCommand(ui)) break;
  }
  GreyDuringTransfer(ui);
  if (!ui.handled || !ui.enabled) return;
  for (framework::CCmdTarget* target : chain) {
    if (target->OnCommand(id)) break;
  }
  UpdateCommandUI();
}

void CMainFrame::UpdateCommandUI() {
  const QList<framework::CCmdTarget*> chain = CommandChain();
  QList<QAction*> all = actions_.values();
  for (QMenu* popup : allSourcePopups_) {
    for (QAction* a : popup->actions())
      if (!a->isSeparator()) all << a;
  }
  for (QAction* action : all) {
    const int id = action->data().toInt();
    CCmdUI ui(id);
    for (framework::CCmdTarget* target : chain) {
      if (target->OnUpdateCommand(ui)) break;
    }
    GreyDuringTransfer(ui);
    action->setEnabled(ui.handled && ui.enabled);
    if (ui.checkSet) {
      action->setCheckable(true);
      action->setChecked(ui.checked);
    }
    if (ui.text) action->setText(*ui.text);
  }
}

void CMainFrame::GreyDuringTransfer(CCmdUI& ui) const {
  // Nothing may close a document or the program while a transfer blocks in the source.
  if (inTransfer_ && (ui.m_nID == ID_FILE_CLOSE || ui.m_nID == ID_APP_EXIT)) ui.Enable(false);
}

bool CMainFrame::OnUpdateCommand(CCmdUI& ui) {
  switch (ui.m_nID) {
    case ID_FILE_OPENSOURCE: ui.Enable(twainState_ == TwainState::kPreSession); return true;
    case ID_VIEW_TOOLBAR: {
      auto bars = findChildren<QToolBar*>();
      ui.Enable();
      ui.SetCheck(!bars.isEmpty() && bars.front()->isVisible());
      return true;
    }
    case ID_VIEW_STATUS_BAR: ui.Enable(); ui.SetCheck(statusBar()->isVisible()); return true;
    case ID_WINDOW_CASCADE:
    case ID_WINDOW_TILE_HORZ:
    case ID_WINDOW_ARRANGE: ui.Enable(!mdi_->subWindowList().isEmpty()); return true;
    default: break;
  }
  if (ui.m_nID >= ID_FILE_MRU_FILE1 && ui.m_nID < ID_FILE_MRU_FILE1 + CRegRecentFileList::kSize) {
    ui.Enable(!app_.RecentFiles()[ui.m_nID - ID_FILE_MRU_FILE1].isEmpty());
    return true;
  }
  return false;
}

bool CMainFrame::OnCommand(int id) {
  switch (id) {
    case ID_FILE_OPENSOURCE: OpenSource(); return true;
    case ID_VIEW_TOOLBAR:
      for (QToolBar* bar : findChildren<QToolBar*>()) bar->setVisible(!bar->isVisible());
      return true;
    case ID_VIEW_STATUS_BAR: statusBar()->setVisible(!statusBar()->isVisible()); return true;
    case ID_WINDOW_CASCADE: mdi_->cascadeSubWindows(); return true;
    case ID_WINDOW_TILE_HORZ: mdi_->tileSubWindows(); return true;
    case ID_WINDOW_ARRANGE: {
      // Lines the minimised windows up along the bottom edge.
      int x = 0;
      for (QMdiSubWindow* w : mdi_->subWindowList()) {
        if (!w->isMinimized()) continue;
        w->move(x, mdi_->viewport()->height() - w->height());
        x += w->width();
      }
      return true;
    }
    default: break;
  }
  if (id >= ID_FILE_MRU_FILE1 && id < ID_FILE_MRU_FILE1 + CRegRecentFileList::kSize) {
    const int index = id - ID_FILE_MRU_FILE1;
    const QString path = app_.RecentFiles()[index];
    if (app_.OpenDocumentFile(path) == nullptr) {
      app_.RecentFiles().Remove(index);
      RebuildRecentFiles();
    }
    return true;
  }
  return false;
}

// ---------------------------------------------------------------------------------------
// Messages.

int CMainFrame::OnCopyData(const QByteArray& data) {
  if (data.isEmpty()) return 0;
  const qsizetype end = data.indexOf('\0');
  pendingPath_ = QFile::decodeName(end >= 0 ? data.left(end) : data);
  return 1;
}

win::LRESULT CMainFrame::OnWindowMessage(win::UINT msg, win::WPARAM wParam, win::LPARAM lParam) {
  if (msg == 0) return 0;
  // While the source is enabled it sees every message first; what it claims goes no further.
  if (app_.sourceEnabled && ProcessSourceEvent(msg, wParam, lParam)) return 0;
  if (msg == app_.RefreshMenusMsg()) {
    RebuildSourceMenus();
    UpdateCommandUI();
  } else if (msg == app_.UpdatePrefsMsg()) {
    ApplyColourPreferences();
  } else if (msg == app_.DropFileOpenMsg()) {
    if (!pendingPath_.isEmpty()) {
      const QString path = pendingPath_;
      pendingPath_.clear();
      app_.OpenDocumentFile(path);
    }
  }
  return 0;
}

void CMainFrame::ApplyColourPreferences() {
  // The profiles first: the image library takes them for every transform it builds next.
  QString monitorProfile;
  if (app_.Module().IsLoaded()) {
    ds::CString monitor, printer, cmyk;
    app_.Module()->GetMonitorProfile(&monitor);
    app_.Module()->GetPrinterProfile(&printer);
    app_.Module()->GetCMYKProfile(&cmyk);
    char* monitorPath = const_cast<char*>(monitor.c_str());
    char* printerPath = const_cast<char*>(printer.c_str());
    char* cmykPath = const_cast<char*>(cmyk.c_str());
    TesseraClass::SetMonitorColorSpace(monitorPath);
    TesseraClass::SetPrinterColorSpace(printerPath);
    TesseraClass::SetCMYKColorSpace(cmykPath);
    monitorProfile = QString::fromStdString(monitor.c_str());
  }
  const bool cms = app_.UseCMS();
  QStringList kept;
  for (framework::CDocument* doc : app_.DocManager()->Documents()) {
    auto* image = qobject_cast<CGessoDoc*>(doc);
    if (image == nullptr || image->IsAcquiring()) continue;
    const long status = image->ApplyColourPreferences(cms);
    if (status == TES_ERR_NOT_PERMITTED) {
      kept << image->GetTitle();
    } else if (status != 0) {
      QString text = FormatString1(IDS_ERR_DISPLAYPROFILE, image->GetTitle());
      AfxMessageBox(text.replace(QStringLiteral("%2"), monitorProfile), MB_OK | framework::MB_ICONEXCLAMATION);
    }
  }
  if (!kept.isEmpty())
    AfxMessageBox(FormatString1(IDS_MSG_CMSRESTART, kept.join(QStringLiteral(", "))),
                  MB_OK | framework::MB_ICONINFORMATION);
}

void CMainFrame::changeEvent(QEvent* event) {
  QMainWindow::changeEvent(event);
  if (event->type() == QEvent::ActivationChange && isActiveWindow()) {
    RebuildSourceMenus();
    UpdateCommandUI();
  }
}

void CMainFrame::moveEvent(QMoveEvent* event) {
  QMainWindow::moveEvent(event);
  if (windowState() == Qt::WindowNoState && isVisible())
    decoration_ = geometry().topLeft() - frameGeometry().topLeft();
  KeepOnScreen();
}

void CMainFrame::resizeEvent(QResizeEvent* event) {
  QMainWindow::resizeEvent(event);
  KeepOnScreen();
}

void CMainFrame::KeepOnScreen() {
  // The stored placement was clamped to the screen for the client area alone; once the
  // decoration is known, the whole window is brought within the screen's available area
  // (at a scale factor of 2 a placement stored at 1 would otherwise hang off the bottom).
  if (!keepOnScreenPending_ || !isVisible() || windowState() != Qt::WindowNoState || screen() == nullptr) return;
  const QRect frame = frameGeometry();
  const QRect client = geometry();
  if (frame == client) return;  // not decorated yet
  keepOnScreenPending_ = false;
  const QRect room = screen()->availableGeometry();
  if (room.contains(frame)) return;
  const QMargins decoration(client.left() - frame.left(), client.top() - frame.top(), frame.right() - client.right(),
                            frame.bottom() - client.bottom());
  const QSize size = client.size().boundedTo(room.size().shrunkBy(decoration)).expandedTo(minimumSizeHint());
  const QSize outer = size.grownBy(decoration);
  const QPoint at(std::clamp(frame.left(), room.left(), std::max(room.left(), room.right() + 1 - outer.width())),
                  std::clamp(frame.top(), room.top(), std::max(room.top(), room.bottom() + 1 - outer.height())));
  resize(size);
  move(at);
  // Frames fitted to the larger client are fitted again once the client has its new size.
  QMetaObject::invokeMethod(
      this,
      [this] {
        const QRect client(QPoint(0, 0), mdi_->contentsRect().size());
        for (QMdiSubWindow* w : mdi_->subWindowList()) {
          auto* child = qobject_cast<framework::CMDIChildWnd*>(w);
          if (child == nullptr || child->GetActiveView() == nullptr || child->isMaximized() || child->isMinimized() ||
              client.contains(child->geometry()))
            continue;
          child->GetActiveView()->OnUpdate(nullptr, 1);
        }
      },
      Qt::QueuedConnection);
}

void CMainFrame::dragEnterEvent(QDragEnterEvent* event) {
  if (event->mimeData()->hasUrls()) event->acceptProposedAction();
}

void CMainFrame::dropEvent(QDropEvent* event) {
  for (const QUrl& url : event->mimeData()->urls()) {
    if (url.isLocalFile()) app_.OpenDocumentFile(url.toLocalFile());
  }
  event->acceptProposedAction();
}

void CMainFrame::StorePlacement() {
  if (placementStored_) return;
  placementStored_ = true;
  const int show = isMinimized() ? SW_SHOWMINIMIZED : isMaximized() ? SW_SHOWMAXIMIZED : SW_SHOWNORMAL;
  // The position is the frame's, as move() takes it at the next start; the size is the
  // client's, as resize() takes it. A maximised or minimised window knows only its normal
  // client geometry: its frame lies by the normal decoration further up and left (taking
  // the client's corner would creep down by the title bar on every start).
  const bool normalState = !isMinimized() && !isMaximized();
  const QRect normal = !normalState && normalGeometry().isValid() ? normalGeometry() : geometry();
  const QPoint topLeft = normalState ? pos() : normal.topLeft() - decoration_;
  GeneralSettings::SetPlacement(app_.Registry(), show, topLeft.x(), topLeft.y(), normal.width(), normal.height());
}

void CMainFrame::closeEvent(QCloseEvent* event) {
  if (!app_.exitAllowed || !app_.DocManager()->SaveAllModified()) {
    event->ignore();
    return;
  }
  app_.DocManager()->CloseAllDocuments();
  CloseSource();
  StorePlacement();
  event->accept();
}

}  // namespace orvax::app
