// The program's dialog resources in one place: dialog template 102 with its
// controls in tab order and the combo lists its DLGINIT gives, plus the ids of
// the icon and bitmap resources. Every backend builds its window from this
// (the win32 one as an in-memory DLGTEMPLATE, the simulator as control state),
// so the dialog looks and behaves the same everywhere.
#pragma once

#include <cstdint>

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
inline constexpr int IDC_OK_BUTTON = 1;      // IDOK
inline constexpr int IDC_CANCEL_BUTTON = 2;  // IDCANCEL

enum class ControlClass { Button, Static, ComboBox };

struct DialogControl {
    int id;
    ControlClass controlClass;
    const char16_t* text;   // null when the control has no text
    std::uint32_t imageId;  // a static picture's bitmap resource; 0 otherwise
    std::uint32_t style;    // full style word, WS_CHILD | WS_VISIBLE | ... as in the template
    std::uint32_t exStyle;
    short x, y, cx, cy;  // dialog units
};

struct ComboList {
    int controlId;
    const char16_t* const* items;
    int count;
};

struct DialogTemplate {
    std::uint32_t id;
    const char16_t* caption;
    std::uint32_t style;
    std::uint32_t exStyle;
    short x, y, cx, cy;  // dialog units
    const char16_t* fontName;
    std::uint16_t pointSize;
    const DialogControl* controls;  // template order, which is the tab order
    int controlCount;
    const ComboList* comboLists;  // in the order the framework adds them
    int comboListCount;
};

extern const DialogTemplate kMainDialogTemplate;

// The dialog template with this id, or null: how the framework finds a
// dialog's template by id, as from the program's resources.
const DialogTemplate* FindDialogTemplate(std::uint32_t id);
// The control with this id in `dialog`, or null.
const DialogControl* FindDialogControl(const DialogTemplate& dialog, int id);
// The combo list of control `id`, or null.
const ComboList* FindComboList(const DialogTemplate& dialog, int id);

}  // namespace resources
