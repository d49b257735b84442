// The reception thread: reads the scanner's bytes one at a time, translates
// them through the keyboard table, buffers a line and types it as key events.
#pragma once

#include <atomic>
#include <cstdint>

#include "platform/services.h"

// What the reception thread needs from the program that runs it, handed down
// because this layer cannot name the one above: the flags it obeys and where
// it reports whether the port is open, and each line it could not type
// because the focused window belongs to `program`, a program that keystrokes
// cannot reach, or (program null) because no window has the focus (the link
// null: said nowhere).
struct ReceptionLinks {
    std::atomic<std::int32_t>* running;   // 0 stops reception
    std::atomic<std::int32_t>* lineWait;  // 0 types every byte at once
    void (*reportPortStatus)(bool ready);
    void (*reportUnreachableWindow)(const char16_t* program);
};

// Connects reception to the program's words; called before a thread starts.
// Until then it runs on flags of its own, which the caller cannot set again
// after a stop, and reports nowhere: a caller that sets flags must connect.
void ConnectReception(const ReceptionLinks& links);

// Entry of the reception thread (parameter unused); exit code 0 on every path.
std::uint32_t ReceptionThreadProc(void* parameter);

// Quit: ends the reception thread wherever it stands (typing, waiting,
// retrying, showing its message box) within about a second. It sends no
// further key event except releases of modifiers still pressed, clears the
// running flag and closes the port, then releases the thread handle (do not
// use it afterwards). Safe with no thread (kNoThread). Meant for the end of
// the program: a later Start must call AwaitReceptionThreadEnd first.
void QuitReception(platform::ThreadHandle thread);

// Stop's step right after it has cleared the running flag: returns once the
// reception thread can press no further key. The thread stops typing at its
// next key event and releases the keys it holds as it ends.
void WaitUntilTypingStopped();

// Whether `thread` has ended (kNoThread counts as ended). Start uses this to
// make sure there is never more than one reception thread.
bool ReceptionThreadEnded(platform::ThreadHandle thread);

// Start's first step, before it sets the running flag and creates the new
// thread: clears the running flag, closes the port, and waits until `thread`
// has ended (a line being typed stops at its next key event; an open-failure
// box it shows is dismissed, so Start never blocks on it). Then releases the
// thread handle.
// Safe with kNoThread.
void AwaitReceptionThreadEnd(platform::ThreadHandle thread);
