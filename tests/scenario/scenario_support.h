#pragma once

#include <iterator>
#include <map>
#include <string>
#include <vector>

#include "launcher/required_file_names.h"
#include "tests/support/test_support.h"

namespace test {

// The launcher signed by "Quorl Test Publisher", beside installers signed as
// their names say (signed\setup-same.exe, ...): made on the host by the
// CTest fixture sign_programs.sh, absent where it cannot run.
constexpr wchar_t kSignedLauncher[] = L"signed\\QuorlLaunch.exe";
constexpr char kNoSignedPrograms[] =
    "no signed programs: the CTest fixture sign_programs.sh makes them";

// The files the launcher insists on, in the order it checks them.
const std::vector<std::string> kRequiredFiles(std::begin(kRequiredFileNames),
                                              std::end(kRequiredFileNames));

// Three arguments: the loader at once, in the process the test started.
constexpr wchar_t kLoaderArguments[] = L"1 0 loader";

// How often a message occurs.
size_t CountOf(const std::vector<std::string>& messages, const std::string& message);

// `all` without the first occurrence of each of `some`'s messages: separates
// one process's lines from a log that several processes wrote.
std::vector<std::string> Without(std::vector<std::string> all,
                                 const std::vector<std::string>& some);

// A temporary installation laid out as shipped: root\app (the directory D)
// holds the launcher and the required files, root holds the client
// (the fake client as "Quorl.exe"). Processes it started are ended with it.
// Programs are named as for test::ProgramPath: signed\QuorlLaunch.exe, say.
class CInstallation {
public:
    explicit CInstallation(const std::wstring& appDirName = L"app",
                           const std::wstring& launcher = L"QuorlLaunch.exe");
    ~CInstallation();
    CInstallation(const CInstallation&) = delete;
    CInstallation& operator=(const CInstallation&) = delete;

    const std::wstring& Root() const { return m_root.Path(); }
    const std::wstring& AppDir() const { return m_appDir; }
    std::wstring App(const std::wstring& name) const { return m_appDir + L"\\" + name; }
    std::wstring InRoot(const std::wstring& name) const { return m_root / name; }
    std::wstring LauncherPath() const { return App(m_launcherName); }
    // Renames the launcher file; RunLauncher then starts it under that name.
    void RenameLauncher(const std::wstring& name);
    std::wstring LogPath() const { return App(L"logs\\SimpleLogger.log"); }
    std::string LogText() const { return ReadFileBytes(LogPath()); }
    std::vector<std::string> LogMessages() const { return Messages(LogText()); }
    // Waits until the log holds the message; false if it did not within the limit.
    bool WaitForLogMessage(const std::string& message, DWORD timeoutMs = 30000) const {
        return WaitUntil([&] { return CountOf(LogMessages(), message) != 0; }, timeoutMs);
    }
    std::string DirectoryLine() const { return ToUtf8(m_appDir); }
    std::string LoaderCopy() const { return ReadFileBytes(App(L"QuorlLoader.exe")); }
    // True when the loader copy is byte for byte the launcher.
    bool LoaderCopyIsWhole() const { return ReadFileBytes(LauncherPath()) == LoaderCopy(); }

    // The fake client's record once it has run; empty when it has not within the limit.
    std::map<std::string, std::string> ClientRecord(DWORD timeoutMs = 10000) const;
    // How often a fake client in root has run.
    size_t ClientRuns() const { return ReadFileBytes(InRoot(L"client-record.txt.runs")).size(); }

    // An installer as root\update\setup.exe, the fake one unless named.
    void AddPendingInstaller(const std::wstring& installer = L"fake_setup.exe");
    std::wstring InstallerPath() const { return InRoot(L"update\\setup.exe"); }
    std::wstring InstallerRecordPath() const { return InRoot(L"update\\setup-record.txt"); }

    // Runs the launcher with the given (already quoted) arguments, in AppDir()
    // unless told; it always writes its directory line first, so a start that
    // Wine gave up on is made again (test::RunProcessThatPrintsFirst).
    ProcessResult RunLauncher(const std::wstring& arguments, const std::wstring& workDir = L"",
                              DWORD timeoutMs = 30000) const;
    std::wstring LauncherCommandLine(const std::wstring& arguments) const;

    // Waits for the loader that a launcher started to end; false if it had not
    // ended within the limit (it is then killed).
    bool WaitForLoader(DWORD timeoutMs = 30000) const {
        return WaitForProcessesNamed(L"QuorlLoader.exe", timeoutMs);
    }

private:
    CTempDir m_root;
    std::wstring m_appDir;
    std::wstring m_launcherName = L"QuorlLaunch.exe";
};

// What every installation sets in this process's environment, for the launcher,
// its loader and so the client to inherit.
std::wstring EnvironmentTag();

// The client `fileName` in root ran exactly once, as the loader starts it: the
// quoted relative path as its whole command line, root as its working
// directory, Administrators for deny only, the loader's environment, and the
// show state `show` ("none": as the loader was given none). Returns its record.
std::map<std::string, std::string> ExpectClientRanRestricted(
    const CInstallation& install, const std::wstring& fileName = L"Quorl.exe",
    const std::string& show = "none");

}  // namespace test
