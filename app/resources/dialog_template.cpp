// Dialog template 102 and its combo lists: the one description of the main
// dialog that every backend builds its window from.
#include "app/resources/dialog_template.h"

#include <iterator>

#include "settings/general_settings.h"

namespace resources {
namespace {

using platform::ComboList;
using platform::DialogControl;
using platform::DialogTemplate;
using C = platform::ControlClass;

// Style words exactly as the dialog has always had them; the comment names
// the bits (WS_CHILD 0x40000000, WS_VISIBLE 0x10000000, WS_DISABLED
// 0x08000000, WS_VSCROLL 0x00200000, WS_GROUP 0x00020000, WS_TABSTOP 0x00010000).
constexpr DialogControl kControls[] = {
    // id, class, text, image, style, exStyle, x, y, cx, cy
    {IDC_PORT_LABEL, C::Static, u"Port", 0, 0x50000000u, 0, 22, 12, 15, 10},  // SS_LEFT
    {IDC_PORT, C::ComboBox, nullptr, 0, 0x50210103u, 0, 17, 22, 23, 31},  // dropdown list, sorted
    {IDC_DATA_LABEL, C::Static, u"Data", 0, 0x50020000u, 0, 48, 12, 20, 10},
    {IDC_DATA, C::ComboBox, nullptr, 0, 0x50210003u, 0, 46, 22, 23, 31},
    {IDC_STOP_LABEL, C::Static, u"Stop", 0, 0x50020000u, 0, 79, 12, 17, 9},
    {IDC_STOP, C::ComboBox, nullptr, 0, 0x50210003u, 0, 75, 22, 24, 31},
    {IDC_BAUDRATE_LABEL, C::Static, u"Baudrate", 0, 0x50020000u, 0, 63, 36, 31, 9},
    {IDC_BAUDRATE, C::ComboBox, nullptr, 0, 0x50210003u, 0, 59, 46, 40, 42},
    {IDC_PARITY_LABEL, C::Static, u"Parity", 0, 0x50020000u, 0, 26, 36, 20, 9},
    {IDC_PARITY, C::ComboBox, nullptr, 0, 0x50210003u, 0, 17, 46, 37, 43},
    {IDC_START_STOP, C::Button, u"Start", 0, 0x50010000u, 0, 24, 97, 70, 15},   // push button
    {IDC_KEYBOARD, C::ComboBox, nullptr, 0, 0x50210103u, 0, 17, 75, 83, 35},    // sorted
    {IDC_SERIAL_GROUP, C::Button, u"Serial", 0, 0x50000007u, 0, 9, 2, 98, 61},  // group box
    {IDC_KEYBOARD_GROUP, C::Button, u"Keyboard", 0, 0x50000007u, 0, 9, 64, 98, 28},
    // Hidden by the template and never shown: line-wait mode stays on.
    {IDC_ACTIVE, C::Button, u"Active", 0, 0x40020009u, 0, 11, 105, 38, 13},  // auto radio
    {IDC_INACTIVE, C::Button, u"Inactive", 0, 0x40020009u, 0, 56, 105, 41, 13},
    {IDC_LINE_WAIT_GROUP, C::Button, u"Waiting for CR/LF", 0, 0x40000007u, 0, 7, 93, 103, 25},
    {IDC_OK_BUTTON, C::Button, u"Button1", 0, 0x40010000u, 0, 59, 62, 33, 12},
    {IDC_CANCEL_BUTTON, C::Button, u"Button1", 0, 0x40010000u, 0, 90, 7, 11, 7},
    // The logo overlaps the settings; SS_BITMAP, disabled.
    {IDC_LOGO, C::Static, nullptr, IDB_LOGO, 0x5800000Eu, 0, 7, 39, 110, 35},
};

constexpr int Count(const auto& list) {
    return static_cast<int>(std::size(list));
}

// Each list offers exactly what the general settings accept.
constexpr ComboList kComboLists[] = {
    {IDC_DATA, kDataBitsTexts, Count(kDataBitsTexts)},
    {IDC_STOP, kStopBitsTexts, Count(kStopBitsTexts)},
    {IDC_BAUDRATE, kBaudRateTexts, Count(kBaudRateTexts)},
    {IDC_PARITY, kParityTexts, Count(kParityTexts)},
};

}  // namespace

// WS_POPUP | WS_VISIBLE | WS_CAPTION | WS_SYSMENU | DS_MODALFRAME | DS_SETFONT;
// extended: WS_EX_CAPTIONOKBTN (OK in the caption) | 0x00040000.
const DialogTemplate kMainDialogTemplate = {
    IDD_MAIN_DIALOG,
    u"QuorvelCE",
    0x90C800C0u,
    0x80040000u,
    0,
    0,
    117,
    121,
    u"System",
    8,
    kControls,
    Count(kControls),
    kComboLists,
    Count(kComboLists),
};

}  // namespace resources
