// What `listen` needs of the operating system beyond the platform seam:
// Ctrl+C turned into a flag, so that the port is closed on the way out, and
// COMn found where the program finds it. One file per OS implements it.
#pragma once

#include <atomic>

// From now on Ctrl+C (and a console's break or close) sets `stop` instead of
// ending the process.
void CatchInterrupt(std::atomic<bool>* stop);
// COMn resolves as for the program whose settings file is `settingsPath`
// (Linux: a link ports/comN beside it); nothing to do where the system names
// its ports COMn.
void UsePortLinksBeside(const char16_t* settingsPath);
