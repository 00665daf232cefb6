/* The least that a launcher of this shape can do, in plain C against the
 * system's C runtime DLL: it copies itself and starts the copy through the
 * shell with three arguments; the copy starts ..\floor_end.exe as the loader
 * starts the client, appends the line the benchmark watches for, and ends.
 * Like the launcher, it imports neither shell32 nor user32: the copy needs
 * neither, and the first process loads shell32 for the one call it makes. */
#include <windows.h>

#include <wchar.h>

#ifdef FLOOR_REQUIRED_WORK
#include "required_work.h"
#else
/* The plain floor does none of the launcher's own work. */
#define BeginLauncherWork(copy) (copy)
#define EndLauncherWork() ((void)0)
#define BeginLoaderWork() ((void)0)
static BOOL StartLastProgram(wchar_t* commandLine) {
    STARTUPINFOW startup = {.cb = sizeof startup};
    PROCESS_INFORMATION child;
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

static int StartEndProgram(void) {
    wchar_t commandLine[] = L"\"..\\floor_end.exe\"";
    static const char kLine[] = "exit floor\r\n";
    HANDLE log;
    DWORD written = 0;
    BeginLoaderWork();
    if (!StartLastProgram(commandLine)) {
        return 1;
    }
    log = CreateFileW(L"logs\\floor.log", FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE,
                      NULL, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, NULL);
    if (log == INVALID_HANDLE_VALUE) {
        return 1;
    }
    WriteFile(log, kLine, (DWORD)(sizeof kLine - 1), &written, NULL);
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
    const wchar_t* name;
    HINSTANCE started;
    if (length <= 4 || length >= MAX_PATH || shell32 == NULL) {
        return 1;
    }
    /* Beside the original, so that both starts resolve the same directory. */
    wcsncpy(copy, self, length - 4);
    wcscpy(copy + length - 4, kCopySuffix);
    name = BeginLauncherWork(copy);
    if (!CopyFileW(self, copy, FALSE)) {
        return 1;
    }
    shellExecute = (ShellExecuteFn)(void (*)(void))GetProcAddress(shell32, "ShellExecuteW");
    if (shellExecute == NULL) {
        return 1;
    }
    started = shellExecute(NULL, L"open", name, L"1 0  loader", NULL, SW_SHOWNORMAL);
    EndLauncherWork();
    return (INT_PTR)started > 32 ? 0 : 1;
}

int main(int argc, char* argv[]) {
    (void)argv;
    return argc == COPY_ARG_COUNT ? StartEndProgram() : CopySelfAndStartCopy();
}
