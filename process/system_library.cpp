#include "process/system_library.h"

#include <string>

CScopedModule LoadSystemLibrary(const wchar_t* name) {
    CScopedModule module(platform::LoadLibraryExW(name, nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32));
    // Windows 7 without update KB2533623 refuses the search flag; there the
    // full path keeps to System32, and the library's own imports are looked
    // for beside it.
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

FARPROC GetSystemFunction(const wchar_t* library, const char* name) {
    const CScopedModule loaded = LoadSystemLibrary(library);
    HMODULE pinned = nullptr;
    if (!loaded.IsValid() ||
        !::GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_PIN, library, &pinned)) {
        return nullptr;
    }
    return platform::GetProcAddress(pinned, name);
}
