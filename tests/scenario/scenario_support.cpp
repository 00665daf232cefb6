#include "tests/scenario/scenario_support.h"

#include <gtest/gtest.h>

#include <regex>

namespace test {

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

const wchar_t* const kRequiredFiles[8] = {
    L"Quorl.exe",    L"sqlite3.dll",  L"log4cpp.dll", L"mailcore2.dll",
    L"libetpan.dll", L"uchardet.dll", L"Tolvane.dll", L"ovank.dll",
};

CInstallation::CInstallation(const std::wstring& appDirName)
    : m_appDir(m_root.Path() + L"\\" + appDirName) {
    MakeDirectory(m_appDir);
    CopyFileTo(ProgramPath(L"QuorlLaunch.exe"), LauncherPath());
    for (const wchar_t* name : kRequiredFiles) {
        WriteFileBytes(App(name), "");
    }
}

ProcessResult CInstallation::RunLauncher(const std::wstring& arguments,
                                         const std::wstring& workDir, DWORD timeoutMs) const {
    const std::wstring commandLine =
        QuoteArgument(LauncherPath()) + (arguments.empty() ? L"" : L" " + arguments);
    ProcessResult result;
    for (int attempt = 0; attempt < 3; ++attempt) {
        result = RunProcess(commandLine, workDir.empty() ? m_appDir : workDir, timeoutMs);
        if (!result.output.empty() || result.exitCode == 0) {
            break;
        }
    }
    return result;
}

}  // namespace test
