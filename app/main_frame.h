// The main window: MDI client, toolbar, status bar with the progress pane, the two menu
// sets, command routing and enabling, the data source's menus, the registered messages and
// the TWAIN session, whose opening, closing, negotiation and transfers are in
// twain_session.cpp.
#pragma once

#include "framework/cmd_target.h"
#include "twain.h"
#include "twain_session.h"
#include "win/module_loader.h"
#include "win/qt/message_window.h"

#include <QMainWindow>
#include <QMap>

#include <vector>

class QAction;
class QLabel;
class QMdiArea;
class QMdiSubWindow;
class QMenu;

namespace orvax::framework {
class CMDIChildWnd;
}

namespace orvax::app {

class CProgressPane;
class CScanApp;

class CMainFrame : public QMainWindow, public framework::CCmdTarget {
  Q_OBJECT
 public:
  explicit CMainFrame(CScanApp& app);
  ~CMainFrame() override;

  // Creation: placement from the registry (clamped to SCREEN), toolbar and status bar.
  // Returns the show command to show the window with.
  int LoadFrame(const QSize& screen);
  // The window placement read from the registry and clamped to a screen of SCREEN.
  static QRect ClampPlacement(QRect stored, const QSize& screen);

  QMdiArea* MdiArea() const { return mdi_; }
  win::HWND Handle() { return messages_.handle(); }
  win::MessageWindow& MessageQueue() { return messages_; }
  CProgressPane* ProgressPane() const { return progress_; }
  framework::CMDIChildWnd* ActiveChild() const;
  // The title: the active document's name with its modified mark, then the program's name;
  // the program's name alone without a document.
  void UpdateTitle();

  // Commands: the action of ID (null for ids without one), running and updating them.
  QAction* Action(int id) const { return actions_.value(id); }
  void RunCommand(int id);
  void UpdateCommandUI();
  // Which menu set is shown: IDR_MENU_NODOC or IDR_MENU_DOC.
  int CurrentMenuSet() const { return menuSet_; }
  QMenu* SourcePopup(int firstId) const;
  QMenu* RecentFilesAnchor() const;

  // Deletes and refills the Settings, Scan Color Space and Film Type popups.
  void RebuildSourceMenus();
  void RebuildRecentFiles();

  // The hand-over of a second instance, like WM_COPYDATA: keeps the zero-terminated path
  // in DATA as the pending path. Returns 1 when DATA is not empty, else 0.
  int OnCopyData(const QByteArray& data);
  const QString& PendingPath() const { return pendingPath_; }

  // TWAIN session (twain_session.cpp).
  TwainState SessionState() const { return twainState_; }
  void OpenSource();
  void CloseSource();
  // Where acquired images go (the image document's factory, or a test's).
  void SetAcquisitionFactory(AcquisitionFactory factory) { acquisitionFactory_ = std::move(factory); }
  // True when the source was set to memory transfers, false for native ones.
  bool MemoryTransfer() const { return memoryXfer_; }
  // Offers a window message to the enabled source; true when the source claimed it.
  bool ProcessSourceEvent(win::UINT msg, win::WPARAM wParam, win::LPARAM lParam);
  // Transfers one image; true when the source has more pending.
  bool TransferImage();
  bool InTransfer() const { return inTransfer_; }

  bool OnCommand(int id) override;
  bool OnUpdateCommand(framework::CCmdUI& ui) override;

 protected:
  void closeEvent(QCloseEvent* event) override;
  void changeEvent(QEvent* event) override;
  void moveEvent(QMoveEvent* event) override;
  void resizeEvent(QResizeEvent* event) override;
  void dragEnterEvent(QDragEnterEvent* event) override;
  void dropEvent(QDropEvent* event) override;

 private:
  win::LRESULT OnWindowMessage(win::UINT msg, win::WPARAM wParam, win::LPARAM lParam);
  // Who is offered a command, in order: the active view, its document, the child frame,
  // this frame, the application.
  QList<framework::CCmdTarget*> CommandChain();
  // "OrvaxUpdatePrefsMsg": the data source's profiles go to the image library, and every
  // open document follows colour management on or off, the profiles and the gamma.
  void ApplyColourPreferences();
  void CreateActions();
  void CreateMenus();
  void CreateToolBar();
  void CreateStatusBar();
  void ShowMenuSet(int set);
  void OnMdiActivated(QMdiSubWindow* window);
  void RebuildWindowList();
  void StorePlacement();
  QAction* MakeAction(int id, const QString& text, const QList<QKeySequence>& keys = {}, bool checkable = false);
  uint16_t Dsm(twain::TW_IDENTITY* dest, uint32_t dg, uint16_t dat, uint16_t msg, void* data);
  uint16_t ConditionCode(twain::TW_IDENTITY* dest);
  void NegotiateCapabilities();
  uint16_t SetCapability(uint16_t capId, uint16_t conType, void* container);
  std::vector<int> GetCapability(uint16_t capId, int* current);
  void SetTransferring(bool on);
  void GreyDuringTransfer(framework::CCmdUI& ui) const;

  CScanApp& app_;
  win::MessageWindow messages_;
  QMdiArea* mdi_ = nullptr;
  CProgressPane* progress_ = nullptr;
  QLabel* numPane_ = nullptr;
  QMap<int, QAction*> actions_;
  QMap<int, QList<QMenu*>> menuSets_;
  QMap<int, QMenu*> sourcePopups_;  // by first id, one per menu set
  QList<QMenu*> allSourcePopups_;
  QList<QMenu*> fileMenus_;
  QList<QAction*> mruActions_;
  QMenu* windowMenu_ = nullptr;
  QAction* windowListSeparator_ = nullptr;
  QList<QAction*> windowListActions_;
  int menuSet_ = 0;
  QString pendingPath_;
  bool placementStored_ = false;
  // The active document's title and modified mark, and the active frame's state, followed
  // by the main title.
  QList<QMetaObject::Connection> titleWatch_;
  // The window manager's decoration above and left of the client area, as last seen in the
  // normal state (a maximised window may have none).
  QPoint decoration_;
  // Set until the window, decoration included, has been brought within the screen's
  // available area once: the decoration is known only after the window manager took it.
  bool keepOnScreenPending_ = true;
  void KeepOnScreen();

  TwainState twainState_ = TwainState::kPreSession;
  win::HMODULE dsm_ = nullptr;
  twain::DSMENTRYPROC dsmEntry_ = nullptr;
  twain::TW_IDENTITY source_{};
  bool memoryXfer_ = false;
  bool inTransfer_ = false;
  AcquisitionFactory acquisitionFactory_;
};

}  // namespace orvax::app
