// The utility's one dialog: the device button with its menu of accepted scanners, the four
// move buttons with press-and-hold repeat, and OK.
#pragma once

#include "buttons.h"
#include "device_manager.h"

#include <QDialog>
#include <QLabel>
#include <QMenu>
#include <QPushButton>
#include <QTimer>

#include <array>
#include <functional>
#include <vector>

namespace larkspur {

class FeederDialog : public QDialog {
  Q_OBJECT
 public:
  explicit FeederDialog(QWidget* parent = nullptr);
  ~FeederDialog() override;

  // Opens the driver and enumerates the scanners. False, after telling the user why, when
  // the dialog has to close instead of being shown.
  bool Start(const std::string& modulePath = DeviceManager::DefaultModulePath());

  // Shows a failure message; by default in a message box.
  std::function<void(const QString&)> showMessage;

  static constexpr int kClientWidth = 284, kClientHeight = 149;
  static constexpr int kRepeatTimerId = 103, kRepeatMs = 500;

  DeviceManager& manager() { return manager_; }
  int selectedIndex() const { return selected_; }
  MoveButton* moveButton(MoveType type) const { return moveButtons_[type]; }
  DeviceButton* deviceButton() const { return deviceButton_; }
  QPushButton* okButton() const { return ok_; }
  QLabel* stripPicture() const { return strip_; }
  QMenu* deviceMenu() const { return deviceMenu_; }
  QMenu* systemMenu() const { return systemMenu_; }
  QTimer* repeatTimer() const { return repeatTimer_; }

  static QDialog* CreateAboutBox(QWidget* parent);

  void done(int result) override;

 protected:
  bool event(QEvent* e) override;
  void contextMenuEvent(QContextMenuEvent* e) override;
  void keyPressEvent(QKeyEvent* e) override;

 private:
  void OnMoveButton(int wParam, int type);
  void OnRepeatTick();
  void MoveOnce();
  void OnDeviceCommand(QAction* action);
  void OnSystemCommand(QAction* action);
  void PlaceControls();

  DeviceManager manager_;
  std::vector<QString> texts_;
  int selected_ = -1;
  int heldType_ = kBack;
  bool firstTick_ = false;
  bool closed_ = false;
  std::array<MoveButton*, 4> moveButtons_{};
  DeviceButton* deviceButton_ = nullptr;
  QPushButton* ok_ = nullptr;
  QLabel* strip_ = nullptr;
  QMenu* deviceMenu_ = nullptr;
  QAction* placeholder_ = nullptr;
  QMenu* systemMenu_ = nullptr;
  QTimer* repeatTimer_ = nullptr;
};

}  // namespace larkspur
