// How a dialog template is described to the framework: its controls in tab
// order and the lists its combo boxes start with. Each backend builds its
// window from such a description (the win32 one as an in-memory DLGTEMPLATE,
// the simulator as control state); the program hands its dialog the template.
#pragma once

#include <cstdint>

namespace platform {

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

// The combo list of control `id`, or null.
const ComboList* FindComboList(const DialogTemplate& dialog, int id);

}  // namespace platform
