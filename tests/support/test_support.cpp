#include "tests/support/test_support.h"

#include <sddl.h>
#include <shellapi.h>
#include <tlhelp32.h>
#include <winternl.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <regex>
#include <sstream>

namespace test {

namespace {

// Unique across the processes of a run, and across runs that reuse a process id.
std::wstring UniqueName(const wchar_t* what) {
    static unsigned counter = 0;
    std::wostringstream name;
    name << L"quorl-test-" << what << L"-" << ::GetCurrentProcessId() << L"-" << ::GetTickCount()
         << L"-" << ++counter;
    return name.str();
}

std::wstring UniqueTempPath(const wchar_t* what) {
    wchar_t tempDir[MAX_PATH + 1] = {};
    ::GetTempPathW(MAX_PATH, tempDir);
    return tempDir + UniqueName(what);
}

}  // namespace

std::wstring ProgramDir() {
    wchar_t path[MAX_PATH + 1] = {};
    ::GetModuleFileNameW(nullptr, path, MAX_PATH);
    const std::wstring program = path;
    return program.substr(0, program.find_last_of(L'\\'));
}

std::wstring ProgramPath(const std::wstring& fileName) {
    return ProgramDir() + L"\\" + fileName;
}

CTempDir::CTempDir() : m_path(UniqueTempPath(L"dir")) {
    std::filesystem::create_directories(m_path);
}

CTempDir::~CTempDir() {
    std::error_code ignored;
    std::filesystem::remove_all(m_path, ignored);
}

CCurrentDirScope::CCurrentDirScope(const std::wstring& dir) {
    wchar_t previous[MAX_PATH + 1] = {};
    ::GetCurrentDirectoryW(MAX_PATH, previous);
    m_previous = previous;
    ::SetCurrentDirectoryW(dir.c_str());
}

CCurrentDirScope::~CCurrentDirScope() {
    ::SetCurrentDirectoryW(m_previous.c_str());
}

std::string ReadFileBytes(const std::wstring& path) {
    std::ifstream in(std::filesystem::path(path), std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void WriteFileBytes(const std::wstring& path, const std::string& bytes) {
    std::ofstream out(std::filesystem::path(path), std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

bool FileExists(const std::wstring& path) {
    const DWORD attributes = ::GetFileAttributesW(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0;
}

bool DirectoryExists(const std::wstring& path) {
    const DWORD attributes = ::GetFileAttributesW(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

void MakeDirectory(const std::wstring& path) {
    std::filesystem::create_directories(path);
}

void CopyFileTo(const std::wstring& from, const std::wstring& to) {
    ::CopyFileW(from.c_str(), to.c_str(), FALSE);
}

std::vector<std::string> SplitCrLfLines(const std::string& text) {
    std::vector<std::string> lines;
    for (std::string::size_type start = 0; start < text.size();) {
        const std::string::size_type end = std::min(text.find("\r\n", start), text.size());
        lines.push_back(text.substr(start, end - start));
        start = end + 2;
    }
    return lines;
}

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

CChildProcess::CChildProcess(const std::wstring& commandLine, const std::wstring& workDir,
                             int showState)
    : m_outputPath(UniqueTempPath(L"out")) {
    SECURITY_ATTRIBUTES inheritable = {sizeof inheritable, nullptr, TRUE};
    CScopedKernelHandle output(::CreateFileW(m_outputPath.c_str(), GENERIC_WRITE,
                                             FILE_SHARE_READ | FILE_SHARE_WRITE, &inheritable,
                                             CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
    STARTUPINFOW startup = {};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdOutput = output.Get();
    startup.hStdError = output.Get();
    if (showState >= 0) {
        startup.dwFlags |= STARTF_USESHOWWINDOW;
        startup.wShowWindow = static_cast<WORD>(showState);
    }
    PROCESS_INFORMATION info = {};
    std::wstring buffer = commandLine;
    if (::CreateProcessW(nullptr, &buffer[0], nullptr, nullptr, TRUE, 0, nullptr,
                         workDir.empty() ? nullptr : workDir.c_str(), &startup, &info)) {
        m_process.Reset(info.hProcess);
        const CScopedKernelHandle thread(info.hThread);
    }
}

CChildProcess::~CChildProcess() {
    if (m_process.IsValid()) {
        Wait(0);
    }
    ::DeleteFileW(m_outputPath.c_str());
}

ProcessResult CChildProcess::Wait(DWORD timeoutMs) {
    ProcessResult result;
    if (!m_process.IsValid()) {
        return result;
    }
    if (::WaitForSingleObject(m_process.Get(), timeoutMs) == WAIT_OBJECT_0) {
        result.finished = true;
        ::GetExitCodeProcess(m_process.Get(), &result.exitCode);
    } else {
        ::TerminateProcess(m_process.Get(), 99);
        ::WaitForSingleObject(m_process.Get(), 5000);
    }
    m_process.Reset();
    result.output = ReadFileBytes(m_outputPath);
    return result;
}

ProcessResult RunProcess(const std::wstring& commandLine, const std::wstring& workDir,
                         DWORD timeoutMs) {
    CChildProcess child(commandLine, workDir);
    return child.Wait(timeoutMs);
}

ProcessResult RunProcessThatPrintsFirst(const std::wstring& commandLine,
                                        const std::wstring& workDir, DWORD timeoutMs) {
    ProcessResult result = RunProcess(commandLine, workDir, timeoutMs);
    for (int start = 1; start < 3 && result.output.empty() && result.exitCode != 0; ++start) {
        result = RunProcess(commandLine, workDir, timeoutMs);
    }
    return result;
}

CHolder::CHolder(const std::wstring& name, const std::wstring& options, DWORD ms)
    : m_readyName(UniqueName(L"ready")),
      m_quitName(UniqueName(L"quit")),
      m_ready(::CreateEventW(nullptr, TRUE, FALSE, m_readyName.c_str())),
      m_quit(::CreateEventW(nullptr, TRUE, FALSE, m_quitName.c_str())),
      m_child(QuoteArgument(ProgramPath(L"holder.exe")) + L" " + QuoteArgument(name) + L" " +
                  options + L" --ready " + m_readyName + L" --quit " + m_quitName + L" --ms " +
                  std::to_wstring(ms),
              L"") {}

bool CHolder::WaitUntilHeld() {
    return m_child.Started() && ::WaitForSingleObject(m_ready.Get(), 20000) == WAIT_OBJECT_0;
}

ProcessResult CHolder::Quit() {
    ::SetEvent(m_quit.Get());
    return m_child.Wait(20000);
}

ProcessResult CHolder::Kill() {
    return m_child.Wait(0);
}

std::map<std::string, std::string> ReadRecord(const std::wstring& path) {
    std::map<std::string, std::string> record;
    for (const std::string& line : SplitCrLfLines(ReadFileBytes(path))) {
        const std::string::size_type equals = line.find('=');
        if (equals != std::string::npos) {
            record[line.substr(0, equals)] = line.substr(equals + 1);
        }
    }
    return record;
}

CScopedKernelHandle CreateMutexUnder(const wchar_t* sddl, const wchar_t* name, bool owned) {
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    EXPECT_TRUE(::ConvertStringSecurityDescriptorToSecurityDescriptorW(sddl, SDDL_REVISION_1,
                                                                       &descriptor, nullptr));
    SECURITY_ATTRIBUTES attributes = {sizeof attributes, descriptor, FALSE};
    CScopedKernelHandle mutex(::CreateMutexW(&attributes, owned, name));
    ::LocalFree(descriptor);
    return mutex;
}

bool RunningUnderWine() {
    return ::GetProcAddress(::GetModuleHandleW(L"ntdll.dll"), "wine_get_version") != nullptr;
}

std::vector<DWORD> ProcessIdsNamed(const std::wstring& exeName) {
    std::vector<DWORD> ids;
    CScopedKernelHandle snapshot(::CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0));
    PROCESSENTRY32W entry = {};
    entry.dwSize = sizeof entry;
    for (BOOL more = ::Process32FirstW(snapshot.Get(), &entry); more;
         more = ::Process32NextW(snapshot.Get(), &entry)) {
        if (::lstrcmpiW(entry.szExeFile, exeName.c_str()) == 0) {
            ids.push_back(entry.th32ProcessID);
        }
    }
    return ids;
}

bool WaitForProcessesNamed(const std::wstring& exeName, DWORD timeoutMs) {
    const ULONGLONG deadline = ::GetTickCount64() + timeoutMs;
    bool allEnded = true;
    for (DWORD id : ProcessIdsNamed(exeName)) {
        CScopedKernelHandle process(::OpenProcess(SYNCHRONIZE | PROCESS_TERMINATE, FALSE, id));
        if (!process.IsValid()) {
            continue;
        }
        const ULONGLONG now = ::GetTickCount64();
        const DWORD left = now < deadline ? static_cast<DWORD>(deadline - now) : 0;
        if (::WaitForSingleObject(process.Get(), left) != WAIT_OBJECT_0) {
            allEnded = false;
            ::TerminateProcess(process.Get(), 99);
            ::WaitForSingleObject(process.Get(), 5000);
        }
    }
    return allEnded;
}

template <typename Function>
Function NtdllFunction(const char* name) {
    const FARPROC address = ::GetProcAddress(::GetModuleHandleW(L"ntdll.dll"), name);
    return reinterpret_cast<Function>(reinterpret_cast<void (*)()>(address));
}

std::wstring CommandLineOf(DWORD processId) {
    using QueryFunction = NTSTATUS(NTAPI*)(HANDLE, PROCESSINFOCLASS, PVOID, ULONG, PULONG);
    const auto query = NtdllFunction<QueryFunction>("NtQueryInformationProcess");
    CScopedKernelHandle process(
        ::OpenProcess(PROCESS_QUERY_INFORMATION | PROCESS_VM_READ, FALSE, processId));
    PROCESS_BASIC_INFORMATION basic = {};
    if (!process.IsValid() || query == nullptr ||
        query(process.Get(), ProcessBasicInformation, &basic, sizeof basic, nullptr) != 0) {
        return std::wstring();
    }
    PEB peb = {};
    RTL_USER_PROCESS_PARAMETERS parameters = {};
    if (!::ReadProcessMemory(process.Get(), basic.PebBaseAddress, &peb, sizeof peb, nullptr) ||
        !::ReadProcessMemory(process.Get(), peb.ProcessParameters, &parameters, sizeof parameters,
                             nullptr)) {
        return std::wstring();
    }
    std::wstring commandLine(parameters.CommandLine.Length / sizeof(wchar_t), L'\0');
    if (!commandLine.empty() &&
        !::ReadProcessMemory(process.Get(), parameters.CommandLine.Buffer, &commandLine[0],
                             parameters.CommandLine.Length, nullptr)) {
        return std::wstring();
    }
    return commandLine;
}

namespace {

// SystemExtendedHandleInformation, which winternl.h does not declare.
constexpr ULONG kExtendedHandleInformation = 64;
struct HandleEntry {
    PVOID object;
    ULONG_PTR processId;
    ULONG_PTR handle;
    ULONG access;
    USHORT creatorBackTraceIndex;
    USHORT objectTypeIndex;
    ULONG attributes;
    ULONG reserved;
};
struct HandleTable {
    ULONG_PTR count;
    ULONG_PTR reserved;
    HandleEntry entries[1];
};

DWORD CountOwnEntriesInSystemHandleTable() {
    using QueryFunction = NTSTATUS(NTAPI*)(ULONG, PVOID, ULONG, PULONG);
    const auto query = NtdllFunction<QueryFunction>("NtQuerySystemInformation");
    constexpr NTSTATUS kInfoLengthMismatch = static_cast<NTSTATUS>(0xC0000004L);
    std::vector<char> buffer(1 << 16);
    NTSTATUS status = kInfoLengthMismatch;
    while (query != nullptr && status == kInfoLengthMismatch) {
        buffer.resize(buffer.size() * 2);
        status = query(kExtendedHandleInformation, buffer.data(), static_cast<ULONG>(buffer.size()),
                       nullptr);
    }
    if (query == nullptr || status != 0) {
        return 0;
    }
    const auto* table = reinterpret_cast<const HandleTable*>(buffer.data());
    DWORD count = 0;
    for (ULONG_PTR i = 0; i < table->count; ++i) {
        count += table->entries[i].processId == ::GetCurrentProcessId() ? 1 : 0;
    }
    return count;
}

}  // namespace

DWORD OwnHandleCount() {
    DWORD count = 0;
    ::GetProcessHandleCount(::GetCurrentProcess(), &count);
    return count != 0 ? count : CountOwnEntriesInSystemHandleTable();
}

std::vector<std::wstring> SplitCommandLine(const std::wstring& commandLine) {
    std::vector<std::wstring> arguments;
    int count = 0;
    if (wchar_t** argv = ::CommandLineToArgvW(commandLine.c_str(), &count)) {
        arguments.assign(argv, argv + count);
        ::LocalFree(argv);
    }
    return arguments;
}

CBoxWatcher::CBoxWatcher(const std::wstring& caption, const std::wstring& recordPath)
    : m_recordPath(recordPath),
      m_process(QuoteArgument(ProgramPath(L"box_watcher.exe")) + L" " + QuoteArgument(caption) +
                    L" " + QuoteArgument(recordPath) + L" 20000",
                L"") {}

Box CBoxWatcher::Closed() {
    Box box;
    if (m_process.Wait(30000).exitCode == 0) {
        std::map<std::string, std::string> record = ReadRecord(m_recordPath);
        const DWORD exStyle = std::strtoul(record["exstyle"].c_str(), nullptr, 10);
        box = {true, record["caption"], record["text"], (exStyle & WS_EX_TOPMOST) != 0};
    }
    return box;
}

}  // namespace test
