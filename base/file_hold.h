#pragma once

#include <windows.h>

#include <functional>

#include "base/scoped_handle.h"

// Virus scanners, indexers and backup agents open a file for a moment, often
// without sharing: one just written, or a program that has just run. These
// are the errors of such a hold, which ends by itself.
bool IsFileHeld(DWORD error);

// Runs `attempt`, which returns ERROR_SUCCESS or the Windows error of its
// failure, again while that error is a hold: after pauses from 50 ms, doubling
// to at most 500 ms, for 5 s in all. Returns the last attempt's result. Any
// other error returns at once, and a first success costs nothing. `pause`
// sleeps for the given milliseconds.
DWORD RetryWhileFileHeld(const std::function<DWORD()>& attempt,
                         const std::function<void(DWORD)>& pause = ::Sleep);

// An existing file opened with CreateFileW, a hold waited out as above.
// Invalid when it could not be opened.
CScopedKernelHandle OpenFileWhenFree(const wchar_t* path, DWORD access, DWORD share);

// The system's error of the runtime's last failed file call (_fsopen,
// remove, rename), which the runtime keeps beside errno.
DWORD LastRuntimeFileError();

// ERROR_SUCCESS for a runtime file call that returned 0, else its error.
DWORD RuntimeFileResult(int result);
