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
  // The feeder's position: the steps the selected device's feeder has moved since the
  // dialog started (forward counts up), and the last move.
  QLabel* positionLabel() const { return position_; }
  long position(int index) const { return positions_.at(static_cast<size_t>(index)); }
  QMenu* deviceMenu() const { return deviceMenu_; }
  QMenu* systemMenu() const { return systemMenu_; }
  QTimer* repeatTimer() const { return repeatTimer_; }

  static QDialog* CreateAboutBox(QWidget* parent);
  // How a device is shown in the menu and on its button: the device text's vendor, product
  // and revision, then its target ID and host adapter apart ("ORVAX QV-7100 1.00, ID 0,
  // HA 0"). A text of another form is shown as it is.
  static QString DeviceLabel(const QString& deviceText);
  // The position line: POSITION steps, and the last move (LASTSTEPS forward when positive,
  // back when negative, none when 0) or that it FAILED.
  static QString PositionText(long position, int lastSteps, bool failed);

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
  void ShowPosition();

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
  QLabel* position_ = nullptr;
  std::vector<long> positions_;  // for each accepted device
  int lastSteps_ = 0;            // the selected device's last move, signed
  bool lastFailed_ = false;
  QMenu* deviceMenu_ = nullptr;
  QAction* placeholder_ = nullptr;
  QMenu* systemMenu_ = nullptr;
  QTimer* repeatTimer_ = nullptr;
};

}  // namespace larkspur
