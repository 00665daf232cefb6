#include "fileutil/module_dir.h"

#include <windows.h>

#include <vector>

#include "base/platform.h"

namespace {

// The classic path limit; one spare element keeps a cut path terminated.
constexpr DWORD kPathChars = MAX_PATH;

}  // namespace

// A path cut to fit the buffer names another file, or none: no path is
// better than a wrong one.
std::wstring GetModuleFilePathW() {
    wchar_t buffer[kPathChars + 1] = {};
    const DWORD length = ::GetModuleFileNameW(nullptr, buffer, kPathChars);
    return length < kPathChars ? std::wstring(buffer, length) : std::wstring();
}

std::wstring GetModuleDirW() {
    std::wstring path = GetModuleFilePathW();
    // Bound, not imported: shlwapi's import brings user32 into every start,
    // and under Wine the window manager with it, before main.
    const auto removeFileSpec = platform::PathRemoveFileSpecW();
    if (removeFileSpec != nullptr) {
        removeFileSpec(path.data());  // FALSE: nothing removed, the path stays
    }
    // PathRemoveFileSpecW ends the text with a NUL but leaves the length alone.
    const std::wstring::size_type end = path.find(L'\0');
    if (end != std::wstring::npos) {
        path.resize(end);
    }
    return path;
}

// Worked out at each call, which start-up makes once: a static copy would need
// the C++ runtime's initialisation guard and the code it links.
std::string GetModuleDirA() {
    return WideToAnsi(GetModuleDirW().c_str());
}

bool SetCurrentDirToModuleDir(std::string& narrowDir) {
    const std::wstring dir = GetModuleDirW();
    narrowDir = GetModuleDirA();
    // The wide call reaches the directory even when its name has characters
    // the ANSI code page cannot hold; the narrow text is only for the log.
    return !dir.empty() && ::SetCurrentDirectoryW(dir.c_str());
}

std::string WideToAnsi(const wchar_t* text) {
    const int size = ::WideCharToMultiByte(CP_ACP, 0, text, -1, nullptr, 0, nullptr, nullptr);
    if (size == 0) {
        return std::string();
    }
    std::vector<char> buffer(static_cast<size_t>(size), '\0');
    ::WideCharToMultiByte(CP_ACP, 0, text, -1, buffer.data(), size, nullptr, nullptr);  // sized
    return std::string(buffer.data());
}
