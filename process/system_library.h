#pragma once

#include <windows.h>

#include <string>

#include "process/platform_calls.h"

// Loads a DLL that is not a KnownDLL from System32 only, so that a copy
// planted beside the executable is never picked up. Windows 7 without update
// KB2533623 refuses the search flag; there the full path keeps to System32,
// and the library's own imports are looked for beside it. Inline, so that the
// test build of each caller reaches its own stand-in for the platform calls.
inline HMODULE LoadSystemLibrary(const wchar_t* name) {
    const HMODULE module = platform::LoadLibraryExW(name, nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32);
    if (module != nullptr || ::GetLastError() != ERROR_INVALID_PARAMETER) {
        return module;
    }
    wchar_t systemDir[MAX_PATH + 1] = {};
    const UINT length = ::GetSystemDirectoryW(systemDir, MAX_PATH);
    if (length == 0 || length >= MAX_PATH) {
        return nullptr;
    }
    const std::wstring path = std::wstring(systemDir, length) + L"\\" + name;
    return platform::LoadLibraryExW(path.c_str(), nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
}
