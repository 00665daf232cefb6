#pragma once

#include "base/function_address.h"
#include "process/system_library.h"

// A function of a System32 library, found when it is first needed instead of
// imported. Importing shell32 or user32 makes Wine, and Windows less so, set up
// the window manager before main in every process that runs this program; the
// loader, which needs neither but on its rare roads, paid for that on every
// start. The library stays loaded until the process ends, as an import would.
// Null when the library or the function cannot be had.
template <typename Function>
Function GetSystemFunction(const wchar_t* library, const char* name) {
    CScopedModule module = LoadSystemLibrary(library);
    if (!module.IsValid()) {
        return nullptr;
    }
    return AsFunction<Function>(platform::GetProcAddress(module.Release(), name));
}
