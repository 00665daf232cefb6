#pragma once

#include <string>
#include <vector>

#include "tests/support/test_support.h"

namespace test {

constexpr size_t kStampLength = 22;

// True when the line starts with a "[YYYY.MM.DD HH:MM:SS]:" stamp.
bool HasStamp(const std::string& line);

// Log lines without their stamps; fails the test on a line without one.
std::vector<std::string> Messages(const std::string& logText);

// The files the launcher insists on, in the order it checks them.
extern const wchar_t* const kRequiredFiles[8];

// A temporary installation: root\app (the directory D) holds the launcher and
// the required files.
class CInstallation {
public:
    explicit CInstallation(const std::wstring& appDirName = L"app");

    const std::wstring& Root() const { return m_root.Path(); }
    const std::wstring& AppDir() const { return m_appDir; }
    std::wstring App(const std::wstring& name) const { return m_appDir + L"\\" + name; }
    std::wstring LauncherPath() const { return App(L"QuorlLaunch.exe"); }
    std::wstring LogPath() const { return App(L"logs\\SimpleLogger.log"); }
    std::string LogText() const { return ReadFileBytes(LogPath()); }

    // Runs the launcher with the given (already quoted) arguments. A start that
    // never ran (no output, no log) is tried again: the launcher always writes
    // its directory line first.
    ProcessResult RunLauncher(const std::wstring& arguments, const std::wstring& workDir = L"",
                              DWORD timeoutMs = 30000) const;

private:
    CTempDir m_root;
    std::wstring m_appDir;
};

}  // namespace test
