#include "fileutil/module_dir.h"

#include <windows.h>

#include <algorithm>
#include <vector>

namespace {

// The classic path limit; one spare element keeps a cut path terminated.
constexpr DWORD kPathChars = MAX_PATH;

// What PathRemoveFileSpecW does, by the same steps: cut at the last
// backslash, but keep the one after a drive and the two that open a UNC path.
// shlwapi would bring user32 and the window manager into every start.
void RemoveFileSpec(std::wstring& path) {
    std::wstring::size_type at = 0;
    std::wstring::size_type cut = 0;
    for (int lead = 0; lead < 2 && at < path.size() && path[at] == L'\\'; ++lead) {
        cut = ++at;
    }
    for (; at < path.size(); ++at) {
        if (path[at] == L'\\') {
            cut = at;
        } else if (path[at] == L':') {
            // The character after the colon is stepped over, as the original does.
            cut = ++at;
            if (cut < path.size() && path[cut] == L'\\') {
                ++cut;
            }
        }
    }
    path.resize(std::min(cut, path.size()));
}

}  // namespace

std::wstring GetModuleFilePathW() {
    wchar_t buffer[kPathChars + 1] = {};
    ::GetModuleFileNameW(nullptr, buffer, kPathChars);
    return buffer;
}

std::wstring GetModuleDirW() {
    std::wstring path = GetModuleFilePathW();
    RemoveFileSpec(path);
    return path;
}

const std::string& GetModuleDirA() {
    static const std::string moduleDir = WideToAnsi(GetModuleDirW().c_str());
    return moduleDir;
}

std::string SetCurrentDirToModuleDir() {
    // The wide call reaches the directory even when its name has characters
    // the ANSI code page cannot hold; the narrow text is only for the log.
    ::SetCurrentDirectoryW(GetModuleDirW().c_str());
    return GetModuleDirA();
}

std::string WideToAnsi(const wchar_t* text) {
    const int size = ::WideCharToMultiByte(CP_ACP, 0, text, -1, nullptr, 0, nullptr, nullptr);
    if (size == 0) {
        return std::string();
    }
    std::vector<char> buffer(static_cast<size_t>(size), '\0');
    ::WideCharToMultiByte(CP_ACP, 0, text, -1, buffer.data(), size, nullptr, nullptr);
    return std::string(buffer.data());
}
