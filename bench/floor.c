/* The least that a launcher of this shape can do, in plain C against the
 * system's C runtime DLL: it copies itself with CopyFileW and starts the copy
 * through the shell with three arguments; the copy starts floor_end.exe, one
 * directory up, as the loader starts the client (quoted path, working
 * directory ..\), appends one line where the benchmark watches for it, as the
 * loader writes its last log line, and ends without waiting. Like the
 * launcher, it imports neither shell32 nor user32: the copy needs neither, and
 * the first process loads shell32 for the one call it makes. */
#include <windows.h>

#include <wchar.h>

#ifdef FLOOR_REQUIRED_WORK
#include "required_work.h"
#else
/* The plain floor does none of the launcher's own work. */
static void BeginLauncherWork(const wchar_t* copy) {
    (void)copy;
}
static void EndLauncherWork(void) {}
static void BeginLoaderWork(void) {}
static const wchar_t* NameForShell(const wchar_t* copy) {
    return copy;
}
static BOOL StartLastProgram(wchar_t* commandLine) {
    STARTUPINFOW startup;
    PROCESS_INFORMATION child;
    ZeroMemory(&startup, sizeof startup);
    startup.cb = sizeof startup;
    if (!CreateProcessW(NULL, commandLine, NULL, NULL, FALSE, NORMAL_PRIORITY_CLASS, NULL, L"..\\",
                        &startup, &child)) {
        return FALSE;
    }
    CloseHandle(child.hProcess);
    CloseHandle(child.hThread);
    return TRUE;
}
#endif

/* Program name plus three arguments marks the copy, as it marks the loader. */
#define COPY_ARG_COUNT 4

static const wchar_t kCopySuffix[] = L"_copy.exe";
static const wchar_t kCopyParameters[] = L"1 0  loader";
static const wchar_t kEndProgram[] = L"\"..\\floor_end.exe\"";
static const wchar_t kEndLog[] = L"logs\\floor.log";
static const char kEndLine[] = "exit floor ";

/* The line ends in the performance counter's reading as it is written, so that
 * the benchmark can tell how late it saw the line: "exit floor 123456\r\n". */
static DWORD FormatEndLine(char* line) {
    char digits[24];
    int count = 0;
    DWORD length = sizeof kEndLine - 1;
    LARGE_INTEGER now;
    ULONGLONG value;
    QueryPerformanceCounter(&now);
    value = (ULONGLONG)now.QuadPart;
    do {
        digits[count++] = (char)('0' + value % 10);
        value /= 10;
    } while (value != 0);
    CopyMemory(line, kEndLine, length);
    while (count > 0) {
        line[length++] = digits[--count];
    }
    line[length++] = '\r';
    line[length++] = '\n';
    return length;
}

static int StartEndProgram(void) {
    wchar_t commandLine[sizeof kEndProgram / sizeof kEndProgram[0]];
    HANDLE log;
    char line[sizeof kEndLine + 24];
    DWORD written = 0;
    wcscpy(commandLine, kEndProgram);
    BeginLoaderWork();
    if (!StartLastProgram(commandLine)) {
        return 1;
    }
    log = CreateFileW(kEndLog, FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE, NULL,
                      OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, NULL);
    if (log == INVALID_HANDLE_VALUE) {
        return 1;
    }
    WriteFile(log, line, FormatEndLine(line), &written, NULL);
    CloseHandle(log);
    return 0;
}

typedef HINSTANCE(WINAPI* ShellExecuteFn)(HWND, LPCWSTR, LPCWSTR, LPCWSTR, LPCWSTR, INT);

static int CopySelfAndStartCopy(void) {
    wchar_t self[MAX_PATH + 1];
    wchar_t copy[MAX_PATH + sizeof kCopySuffix / sizeof kCopySuffix[0]];
    const DWORD length = GetModuleFileNameW(NULL, self, MAX_PATH);
    /* Left loaded until the process ends, a moment later. */
    const HMODULE shell32 = LoadLibraryW(L"shell32.dll");
    ShellExecuteFn shellExecute;
    HINSTANCE started;
    if (length <= 4 || length >= MAX_PATH || shell32 == NULL) {
        return 1;
    }
    /* Beside the original, so that both starts resolve the same directory. */
    wcsncpy(copy, self, length - 4);
    wcscpy(copy + length - 4, kCopySuffix);
    BeginLauncherWork(copy);
    if (!CopyFileW(self, copy, FALSE)) {
        return 1;
    }
    shellExecute = (ShellExecuteFn)(void (*)(void))GetProcAddress(shell32, "ShellExecuteW");
    if (shellExecute == NULL) {
        return 1;
    }
    started = shellExecute(NULL, L"open", NameForShell(copy), kCopyParameters, NULL, SW_SHOWNORMAL);
    EndLauncherWork();
    return (INT_PTR)started > 32 ? 0 : 1;
}

int main(int argc, char* argv[]) {
    (void)argv;
    return argc == COPY_ARG_COUNT ? StartEndProgram() : CopySelfAndStartCopy();
}
