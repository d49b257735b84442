// The program's dialog resources in one place: dialog template 102 with its
// controls in tab order and the combo lists its DLGINIT gives, plus the ids of
// the icon and bitmap resources. The main dialog hands this template to the
// framework, so every backend builds the same window.
#pragma once

#include <cstdint>

#include "platform/dialog_template.h"

namespace resources {

inline constexpr std::uint32_t IDD_MAIN_DIALOG = 102;
inline constexpr std::int32_t IDI_READY = 128;      // icon: scanner ready (also the window icon)
inline constexpr std::int32_t IDI_NOT_READY = 130;  // icon: scanner not ready
inline constexpr std::uint32_t IDB_LOGO = 136;      // bitmap: 180 x 62, 24 bits per pixel

// Control ids of template 102.
inline constexpr int IDC_SERIAL_GROUP = 1000;
inline constexpr int IDC_PORT_LABEL = 1001;
inline constexpr int IDC_PORT = 1002;
inline constexpr int IDC_DATA_LABEL = 1003;
inline constexpr int IDC_DATA = 1004;
inline constexpr int IDC_STOP_LABEL = 1005;
inline constexpr int IDC_STOP = 1006;
inline constexpr int IDC_BAUDRATE_LABEL = 1007;
inline constexpr int IDC_BAUDRATE = 1008;
inline constexpr int IDC_PARITY_LABEL = 1009;
inline constexpr int IDC_PARITY = 1010;
inline constexpr int IDC_KEYBOARD_GROUP = 1011;
inline constexpr int IDC_KEYBOARD = 1013;
inline constexpr int IDC_ACTIVE = 1015;
inline constexpr int IDC_INACTIVE = 1016;
inline constexpr int IDC_LINE_WAIT_GROUP = 1017;
inline constexpr int IDC_START_STOP = 1018;
inline constexpr int IDC_LOGO = 1021;
inline constexpr int IDC_OK_BUTTON = 1;      // kIdOk
inline constexpr int IDC_CANCEL_BUTTON = 2;  // kIdCancel

extern const platform::DialogTemplate kMainDialogTemplate;

}  // namespace resources
