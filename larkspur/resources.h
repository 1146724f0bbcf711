// The utility's numbered resources: strings, bitmaps, control and command identifiers. The
// bitmaps are drawn in code.
#pragma once

#include <QIcon>
#include <QPixmap>
#include <QString>

namespace larkspur {

// Strings.
constexpr int IDS_ABOUTBOX = 101;
constexpr int IDS_NO_FEEDER = 103;
constexpr int IDS_CANNOT_OPEN_DRIVER = 104;
constexpr int IDS_POSITION = 105;         // the feeder's position, in steps from where it started
constexpr int IDS_MOVED_FORWARD = 106;    // behind it: the last move
constexpr int IDS_MOVED_BACK = 107;
constexpr int IDS_MOVE_FAILED = 108;
constexpr int IDS_DEVICE_LABEL = 109;     // a device in the menu and on its button
QString LoadString(int id);

inline const QString kAboutTitle = QStringLiteral("ﾊﾞｰｼﾞｮﾝ情報 Larkspur");
inline const QString kAboutLine = QStringLiteral("Larkspur Version 1.0.0.3000");
inline const QString kAppTitle = QStringLiteral("Larkspur");

// Controls.
constexpr int IDC_BACK = 1001;
constexpr int IDC_FAST_BACK = 1002;
constexpr int IDC_FAST_FORWARD = 1003;
constexpr int IDC_FORWARD = 1004;
constexpr int IDC_DEVICE = 1006;

// Commands.
constexpr int IDM_ABOUTBOX = 16;
constexpr int IDM_DEVICE_FIRST = 20001;
constexpr int IDR_DEVICE_MENU = 130;

// Bitmaps: the up and down faces of each button.
constexpr int IDB_BACK_UP = 131, IDB_BACK_DOWN = 132;
constexpr int IDB_FAST_BACK_UP = 133, IDB_FAST_BACK_DOWN = 134;
constexpr int IDB_FORWARD_UP = 135, IDB_FORWARD_DOWN = 136;
constexpr int IDB_FAST_FORWARD_UP = 137, IDB_FAST_FORWARD_DOWN = 139;
constexpr int IDB_DEVICE_UP = 151, IDB_DEVICE_DOWN = 152;
constexpr int IDB_STRIP = 160;  // the picture behind the move buttons

// Sizes of the drawn bitmaps.
constexpr int kMoveButtonWidth = 32, kMoveButtonHeight = 28;
constexpr int kDeviceButtonWidth = 244, kDeviceButtonHeight = 26;
constexpr int kStripWidth = 156, kStripHeight = 32;

QPixmap LoadBitmap(int id);
QIcon AppIcon();

}  // namespace larkspur
