#include "tests/scenario/scenario_support.h"

#include <gtest/gtest.h>

#include <algorithm>

#include "tests/fixtures/fixture_support.h"

namespace test {

size_t CountOf(const std::vector<std::string>& messages, const std::string& message) {
    return static_cast<size_t>(std::count(messages.begin(), messages.end(), message));
}

std::vector<std::string> Without(std::vector<std::string> all,
                                 const std::vector<std::string>& some) {
    for (const std::string& message : some) {
        const auto found = std::find(all.begin(), all.end(), message);
        EXPECT_NE(found, all.end()) << "missing: " << message;
        if (found != all.end()) {
            all.erase(found);
        }
    }
    return all;
}

std::wstring EnvironmentTag() {
    return L"scenario-" + std::to_wstring(::GetCurrentProcessId());
}

std::map<std::string, std::string> ExpectClientRanRestricted(const CInstallation& install,
                                                             const std::wstring& fileName,
                                                             const std::string& show) {
    const std::map<std::string, std::string> record = install.ClientRecord();
    EXPECT_FALSE(record.empty()) << "the client never ran";
    if (record.empty()) {
        return record;
    }
    EXPECT_EQ(1u, install.ClientRuns());
    EXPECT_EQ(ToUtf8(install.InRoot(fileName)), record.at("module"));
    EXPECT_EQ(ToUtf8(L"\"..\\" + fileName + L"\""), record.at("commandline"));
    EXPECT_EQ(ToUtf8(install.Root()), record.at("cwd"));
    EXPECT_EQ(ToUtf8(EnvironmentTag()), record.at("tag"));
    EXPECT_EQ(show, record.at("show"));
    // Where we hold Administrators, the client holds it for deny only.
    HANDLE token = nullptr;
    ::OpenProcessToken(::GetCurrentProcess(), TOKEN_QUERY, &token);
    const CScopedKernelHandle ownToken(token);
    const std::string ours = fixture::AdministratorsState(ownToken.Get());
    EXPECT_EQ(ours == "absent" ? "absent" : "deny-only", record.at("admins"));
    // Its objects are open to its user, however elevated the loader was.
    EXPECT_EQ(fixture::UserSid(ownToken.Get()), record.at("user"));
    EXPECT_NE(std::string::npos, record.at("default-dacl").find(record.at("user") + ":"));
    // Only Windows enforces the medium label (and the dropped privileges):
    // under Wine every process runs high, whatever its token says.
    EXPECT_EQ(std::to_string(RunningUnderWine() ? SECURITY_MANDATORY_HIGH_RID
                                                : SECURITY_MANDATORY_MEDIUM_RID),
              record.at("integrity"));
    return record;
}

CInstallation::CInstallation(const std::wstring& appDirName, const std::wstring& launcher)
    : m_appDir(m_root.Path() + L"\\" + appDirName) {
    ::SetEnvironmentVariableW(L"QUORL_FIXTURE_TAG", EnvironmentTag().c_str());
    MakeDirectory(m_appDir);
    CopyFileTo(ProgramPath(launcher), LauncherPath());
    for (const std::string& name : kRequiredFiles) {
        WriteFileBytes(App(FromUtf8(name)), "");
    }
    CopyFileTo(ProgramPath(L"fake_client.exe"), InRoot(L"Quorl.exe"));
}

CInstallation::~CInstallation() {
    WaitForLoader(5000);
    WaitForProcessesNamed(L"setup.exe", 5000);
    WaitForProcessesNamed(L"Quorl.exe", 5000);
}

std::map<std::string, std::string> CInstallation::ClientRecord(DWORD timeoutMs) const {
    const std::wstring path = InRoot(L"client-record.txt");
    WaitUntil([&path] { return FileExists(path); }, timeoutMs);
    return ReadRecord(path);
}

void CInstallation::RenameLauncher(const std::wstring& name) {
    ::MoveFileW(LauncherPath().c_str(), App(name).c_str());
    m_launcherName = name;
}

void CInstallation::AddPendingInstaller(const std::wstring& installer) {
    MakeDirectory(InRoot(L"update"));
    CopyFileTo(ProgramPath(installer), InstallerPath());
}

std::wstring CInstallation::LauncherCommandLine(const std::wstring& arguments) const {
    return QuoteArgument(LauncherPath()) + (arguments.empty() ? L"" : L" " + arguments);
}

ProcessResult CInstallation::RunLauncher(const std::wstring& arguments, const std::wstring& workDir,
                                         DWORD timeoutMs) const {
    return RunProcessThatPrintsFirst(LauncherCommandLine(arguments),
                                     workDir.empty() ? m_appDir : workDir, timeoutMs);
}

}  // namespace test
