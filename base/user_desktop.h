#pragma once

#include <windows.h>

// What a program started on the user's behalf needs from us to come up as the
// user asked and in front.

// The show state this process was started with when it asks for other than a
// normal window (a shortcut's "Run: Minimized" or "Maximized"); SW_SHOWNORMAL
// otherwise. The shell hands SW_SHOWNORMAL to every program it starts without
// another, so a normal window is the same as none.
WORD RequestedShowState();

// Windows lets a process bring a window to the front only when the foreground
// process started it or allowed it: this passes our right on to the process
// `processId`, or with ASFW_ANY to whichever process takes it first. Without
// a right of our own, or without user32, it does nothing.
void AllowToComeToFront(DWORD processId);
