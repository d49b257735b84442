// Problems of our own that a thread meets and the user must hear about,
// without that thread waiting for anyone to answer a box: each is kept here
// and the dialog thread shows it. Fixed storage, no heap: the reception
// thread posts from the middle of a line.
#pragma once

#include <cstddef>

namespace platform {

// One slot each: a kind is kept and shown once per run.
enum class ReportKind {
    kKeyboardOutput,     // no keystroke output could be opened
    kKeystrokesLost,     // the output failed while typing
    kCapsLockUnknown,    // the state of Caps Lock cannot be read
    kCharacterLeftOut,   // a character no key of the layout types
    kSettingsFolder,     // the settings folder or its default copy
    kUnreachableWindow,  // keystrokes cannot reach the focused window
    kNoFocusWindow,      // no window has the focus to take keystrokes
    kSettingsLine,       // a key read from a line that is not its own
    kCount
};

// Any thread. Keeps `text` (cut to fit) unless this kind was already posted
// in this run; true when it was kept.
bool PostReport(ReportKind kind, const char16_t* text);

// The dialog thread: the oldest report not yet taken, copied into `text`;
// false when there is none.
bool TakeReport(char16_t* text, std::size_t capacity);

// The text of the report posted last in this run (a live view shows it);
// false when nothing was posted.
bool LastReport(char16_t* text, std::size_t capacity);

// The end of a run: every kind may be posted again. Only while no other
// thread posts.
void ForgetReports();

}  // namespace platform
