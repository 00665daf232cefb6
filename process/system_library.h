#pragma once

#include <windows.h>

#include <string>

#include "base/scoped_handle.h"
#include "process/platform_calls.h"

struct ModuleTraits {
    using Handle = HMODULE;
    static Handle Invalid() noexcept { return nullptr; }
    // cppcheck-suppress constParameter ; an HMODULE is opaque, not a pointer to data
    static bool IsValid(Handle handle) noexcept { return handle != nullptr; }
    static void Close(Handle handle) noexcept { platform::FreeLibrary(handle); }
};

using CScopedModule = CScopedHandle<ModuleTraits>;

// Loads a DLL that is not a KnownDLL from System32 only, so that a copy
// planted beside the executable is never picked up. Windows 7 without update
// KB2533623 refuses the search flag; there the full path keeps to System32,
// and the library's own imports are looked for beside it. Inline, so that the
// test build of each caller reaches its own stand-in for the platform calls.
inline CScopedModule LoadSystemLibrary(const wchar_t* name) {
    CScopedModule module(platform::LoadLibraryExW(name, nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32));
    if (module.IsValid() || ::GetLastError() != ERROR_INVALID_PARAMETER) {
        return module;
    }
    wchar_t systemDir[MAX_PATH + 1] = {};
    const UINT length = ::GetSystemDirectoryW(systemDir, MAX_PATH);
    if (length == 0 || length >= MAX_PATH) {
        return module;
    }
    const std::wstring path = std::wstring(systemDir, length) + L"\\" + name;
    return CScopedModule(
        platform::LoadLibraryExW(path.c_str(), nullptr, LOAD_WITH_ALTERED_SEARCH_PATH));
}
