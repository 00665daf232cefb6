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
