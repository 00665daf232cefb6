#pragma once

#include <windows.h>

#include "base/scoped_handle.h"
#include "process/platform_calls.h"

using CScopedModule = CScopedNullable<HMODULE, platform::FreeLibrary>;

// Loads a DLL that is not a KnownDLL from System32 only, so that a copy
// planted beside the executable is never picked up. Defined out of line: the
// test build of the restricted launch compiles it again against its stand-ins
// for the platform calls.
CScopedModule LoadSystemLibrary(const wchar_t* name);

// A function of a System32 library, looked up when it is first needed instead
// of imported: importing shell32 or user32 sets up the window manager before
// main in every process (dearly under Wine), for calls made only on some
// roads. The library then stays for the rest of the process, as an import
// would: code it started, a shell thread say, may still run in it after the
// call has returned. Null when the library or the function cannot be had.
FARPROC GetSystemFunction(const wchar_t* library, const char* name);
