// Test controls of the simulated dialog framework. The dialog is headless: it
// keeps each control's state as a window would (visibility, text, check,
// combo items and selection), and DoModal runs its modal loop on the calling
// thread. A test therefore runs the program on a thread of its own and drives
// it from the test thread: every action below is queued to the dialog thread
// and, for the Send/Fire/Click/Press forms, waited for until handled.
// The timeouts only keep a broken program from hanging a test run.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "platform/framework.h"

namespace platform::sim {

inline constexpr int kDialogWaitMs = 20000;

enum class DialogPhase {
    None,          // no dialog yet (or after ResetFramework)
    Initialising,  // window created, OnInitDialog running
    Modal,         // the modal loop answers messages
    Ended,         // the window is destroyed and DoModal has returned or is returning
};

DialogPhase GetDialogPhase();
// Waits until the modal loop runs (true) or the dialog has ended (false).
bool WaitForModalLoop(int timeoutMs = kDialogWaitMs);
// Waits until DoModal has destroyed the window.
bool WaitForDialogEnd(int timeoutMs = kDialogWaitMs);
// The result EndDialog gave (meaningful once ended).
std::intptr_t DialogResult();

// Queues a message for the dialog window without waiting; false when no modal
// loop runs.
bool PostDialogMessage(std::uint32_t message, WParam wParam, LParam lParam);
// Queues a message and waits until the dialog thread has handled it or the
// dialog has ended. False when no modal loop runs, or on timeout (the handler
// is still busy, e.g. behind an open message box).
bool SendDialogMessage(std::uint32_t message, WParam wParam, LParam lParam,
                       int timeoutMs = kDialogWaitMs);
// Waits until every queued message has been handled (or the dialog ended).
bool WaitForIdle(int timeoutMs = kDialogWaitMs);

// One tick of an armed timer; false when the timer is not armed.
bool FireTimer(std::uintptr_t timerId, int timeoutMs = kDialogWaitMs);
// A user's click on a button: only a shown button in a shown dialog can be
// clicked (false otherwise).
bool ClickButton(int controlId, int timeoutMs = kDialogWaitMs);
// Enter and Escape (the kIdOk and kIdCancel commands); only a shown dialog has
// the keyboard.
bool PressEnter(int timeoutMs = kDialogWaitMs);
bool PressEscape(int timeoutMs = kDialogWaitMs);
// The user picks item `index` of a shown combo box.
bool PickComboItem(int controlId, int index);

// Window state, readable from any thread.
WindowHandle DialogWindow();  // the dialog's window handle while it exists
bool DialogExists();
// Shown: visible and not minimised.
bool DialogShown();
std::u16string Caption();
std::vector<std::u16string> CaptionHistory();  // every caption set, in order
struct ShowWindowCall {
    int controlId;  // 0: the dialog itself
    int command;
};
std::vector<ShowWindowCall> ShowWindowCalls();
int ForegroundRequests();
IconHandle WindowIcon(WParam which);  // kIconBig or kIconSmall
std::vector<std::uintptr_t> ArmedTimers();
bool TimerArmed(std::uintptr_t timerId);

bool ControlExists(int controlId);
bool ControlVisible(int controlId);
std::u16string ControlText(int controlId);
WParam ControlCheck(int controlId);
std::vector<std::u16string> ComboItems(int controlId);
int ComboSelection(int controlId);  // -1: none
std::u16string ComboSelectedText(int controlId);

// Forgets every dialog and its history (between tests).
void ResetFramework();

}  // namespace platform::sim
