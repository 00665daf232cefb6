#pragma once

#include <windows.h>

#include <map>
#include <string>
#include <vector>

#include "base/scoped_handle.h"
#include "launcher/launcher_mode.h"
#include "tests/support/clock.h"
#include "tests/support/utf8.h"

namespace test {

// Directory of the running test program; fixtures and QuorlLaunch.exe lie beside it.
std::wstring ProgramDir();
std::wstring ProgramPath(const std::wstring& fileName);

// A fresh directory under the temporary directory, removed with its content.
class CTempDir {
public:
    CTempDir();
    ~CTempDir();
    CTempDir(const CTempDir&) = delete;
    CTempDir& operator=(const CTempDir&) = delete;

    const std::wstring& Path() const { return m_path; }
    // Path of a name inside the directory.
    std::wstring operator/(const std::wstring& name) const { return m_path + L"\\" + name; }

private:
    std::wstring m_path;
};

// Makes a directory the working directory for one scope.
class CCurrentDirScope {
public:
    explicit CCurrentDirScope(const std::wstring& dir);
    ~CCurrentDirScope();
    CCurrentDirScope(const CCurrentDirScope&) = delete;
    CCurrentDirScope& operator=(const CCurrentDirScope&) = delete;

private:
    std::wstring m_previous;
};

std::string ReadFileBytes(const std::wstring& path);
void WriteFileBytes(const std::wstring& path, const std::string& bytes);
bool FileExists(const std::wstring& path);
bool DirectoryExists(const std::wstring& path);
void MakeDirectory(const std::wstring& path);
void CopyFileTo(const std::wstring& from, const std::wstring& to);

// Splits text at CR LF; a trailing CR LF gives no empty last element.
std::vector<std::string> SplitCrLfLines(const std::string& text);

// Every log line starts with a "[YYYY.MM.DD HH:MM:SS]:" stamp.
constexpr size_t kStampLength = 22;
bool HasStamp(const std::string& line);

// Log lines, or the same lines as a process wrote them to standard output,
// without their stamps; fails the test on a line without one.
std::vector<std::string> Messages(const std::string& logText);

// The launcher's own quoting, which CommandLineToArgvW undoes.
using ::QuoteArgument;

struct ProcessResult {
    bool finished = false;  // false: killed at the time limit
    DWORD exitCode = 0;
    std::string output;  // standard output, as the process wrote it
};

// A started program whose standard output goes to a temporary file, with the
// show state a shortcut would give it (-1: none).
class CChildProcess {
public:
    CChildProcess(const std::wstring& commandLine, const std::wstring& workDir, int showState = -1);
    ~CChildProcess();
    CChildProcess(const CChildProcess&) = delete;
    CChildProcess& operator=(const CChildProcess&) = delete;

    bool Started() const { return m_process.IsValid(); }
    HANDLE Handle() const { return m_process.Get(); }
    // Waits up to the limit, kills the process after it, and collects the output.
    ProcessResult Wait(DWORD timeoutMs);

private:
    std::wstring m_outputPath;
    CScopedKernelHandle m_process;
};

// holder.exe in another process, holding a named mutex or a file until
// Quit() or `ms` have passed; `options` as holder.exe takes them: "--deny",
// "--file --share read", and the like.
class CHolder {
public:
    CHolder(const std::wstring& name, const std::wstring& options, DWORD ms = 60000);
    bool WaitUntilHeld();
    ProcessResult Quit();
    // Ends the holder as a crash would, abandoning the mutex.
    ProcessResult Kill();

private:
    std::wstring m_readyName;
    std::wstring m_quitName;
    CScopedKernelHandle m_ready;
    CScopedKernelHandle m_quit;
    CChildProcess m_child;
};

ProcessResult RunProcess(const std::wstring& commandLine, const std::wstring& workDir,
                         DWORD timeoutMs = 30000);

// RunProcess for a program that writes to standard output before it can fail.
// Now and then Wine gives up on a start before the program runs: no output and
// a failing exit code. Such a start, which never ran, is made again, three
// times in all; any result of a program that ran is returned as it came.
ProcessResult RunProcessThatPrintsFirst(const std::wstring& commandLine,
                                        const std::wstring& workDir, DWORD timeoutMs = 30000);

// A fixture's record: "key=value" lines ending in CR LF. Empty when there is none.
std::map<std::string, std::string> ReadRecord(const std::wstring& path);

bool RunningUnderWine();

// A mutex made under the descriptor `sddl`, as a process with other rights makes it.
CScopedKernelHandle CreateMutexUnder(const wchar_t* sddl, const wchar_t* name, bool owned);

// Ids of the running processes whose executable has this file name.
std::vector<DWORD> ProcessIdsNamed(const std::wstring& exeName);

// Waits until no process of that name runs; true when they all ended within
// the limit. The ones left are killed, so that no test leaves one behind.
bool WaitForProcessesNamed(const std::wstring& exeName, DWORD timeoutMs);

// Another process's command line, read from its process parameters.
std::wstring CommandLineOf(DWORD processId);

// Handles this process has open. Wine's GetProcessHandleCount reports none,
// so there this process's entries in the system handle table are counted.
DWORD OwnHandleCount();

// Splits a command line into arguments as CommandLineToArgvW does.
std::vector<std::wstring> SplitCommandLine(const std::wstring& commandLine);

struct Box {
    bool closed = false;  // false: no box appeared
    std::string caption;
    std::string text;
    bool topmost = false;
};

// The message-box watcher, started before the box is due.
class CBoxWatcher {
public:
    CBoxWatcher(const std::wstring& caption, const std::wstring& recordPath);
    // Waits for the watcher, which closes the box it found.
    Box Closed();

private:
    std::wstring m_recordPath;
    CChildProcess m_process;
};

}  // namespace test
