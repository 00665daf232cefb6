#include "tests/scenario/scenario_support.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <regex>

#include "tests/fixtures/fixture_support.h"

namespace test {

const wchar_t* const kRequiredFiles[8] = {
    L"Quorl.exe",    L"sqlite3.dll",  L"log4cpp.dll", L"mailcore2.dll",
    L"libetpan.dll", L"uchardet.dll", L"Tolvane.dll", L"ovank.dll",
};

bool HasStamp(const std::string& line) {
    static const std::regex stamp(R"(\[\d{4}\.\d{2}\.\d{2} \d{2}:\d{2}:\d{2}\]:)");
    return line.size() >= kStampLength && std::regex_match(line.substr(0, kStampLength), stamp);
}

std::vector<std::string> Messages(const std::string& logText) {
    std::vector<std::string> messages;
    for (const std::string& line : SplitCrLfLines(logText)) {
        EXPECT_TRUE(HasStamp(line)) << "line without stamp: " << line;
        messages.push_back(line.size() >= kStampLength ? line.substr(kStampLength) : line);
    }
    return messages;
}

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
                                                             const std::wstring& fileName) {
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
    for (const wchar_t* name : kRequiredFiles) {
        WriteFileBytes(App(name), "");
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
    const ULONGLONG deadline = ::GetTickCount64() + timeoutMs;
    while (!FileExists(path) && ::GetTickCount64() < deadline) {
        ::Sleep(20);
    }
    return ReadRecord(path);
}

size_t CInstallation::ClientRuns() const {
    return ReadFileBytes(InRoot(L"client-record.txt.runs")).size();
}

void CInstallation::RenameLauncher(const std::wstring& name) {
    ::MoveFileW(LauncherPath().c_str(), App(name).c_str());
    m_launcherName = name;
}

bool CInstallation::WaitForLogMessage(const std::string& message, DWORD timeoutMs) const {
    const ULONGLONG deadline = ::GetTickCount64() + timeoutMs;
    while (CountOf(LogMessages(), message) == 0) {
        if (::GetTickCount64() >= deadline) {
            return false;
        }
        ::Sleep(20);
    }
    return true;
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
    ProcessResult result;
    for (int attempt = 0; attempt < 3; ++attempt) {
        result = RunProcess(LauncherCommandLine(arguments), workDir.empty() ? m_appDir : workDir,
                            timeoutMs);
        if (!result.output.empty() || result.exitCode == 0) {
            break;
        }
    }
    return result;
}

bool CInstallation::WaitForLoader(DWORD timeoutMs) const {
    return WaitForProcessesNamed(L"QuorlLoader.exe", timeoutMs);
}

CBoxWatcher::CBoxWatcher(const std::wstring& caption, const std::wstring& recordPath)
    : m_recordPath(recordPath),
      m_process(QuoteArgument(ProgramPath(L"box_watcher.exe")) + L" " + QuoteArgument(caption) +
                    L" " + QuoteArgument(recordPath) + L" 20000",
                L"") {}

bool CBoxWatcher::Closed(std::string& caption, std::string& text) {
    if (m_process.Wait(30000).exitCode != 0) {
        return false;
    }
    const std::map<std::string, std::string> record = ReadRecord(m_recordPath);
    caption = record.count("caption") ? record.at("caption") : "";
    text = record.count("text") ? record.at("text") : "";
    return true;
}

}  // namespace test
