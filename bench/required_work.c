/* The launcher's required work in plain C, with nothing that could be cut:
 * one call per step, no C++ runtime, no strings built. */
#include "required_work.h"

#include <stdio.h>
#include <string.h>
#include <wchar.h>
#include <userenv.h>
#include <winsafer.h>

#include "launcher/required_file_names.h"

static const wchar_t kLog[] = L"logs\\floor.log";

/* The copy's log, like the loader's, stays open until its process ends. */
static HANDLE g_log = INVALID_HANDLE_VALUE;
static HANDLE g_buildMutex = NULL;

static void LogLine(const char* text) {
    char line[256];
    SYSTEMTIME now;
    OVERLAPPED whole = {0};
    LARGE_INTEGER noMove = {0};
    DWORD written = 0;
    int length;
    GetLocalTime(&now);
    length = _snprintf(line, sizeof line - 2, "[%04d.%02d.%02d %02d:%02d:%02d]:%s", now.wYear,
                       now.wMonth, now.wDay, now.wHour, now.wMinute, now.wSecond, text);
    length = length < 0 ? (int)sizeof line - 2 : length;
    printf("%.*s\n", length, line);
    fflush(stdout);
    line[length++] = '\r';
    line[length++] = '\n';
    LockFileEx(g_log, LOCKFILE_EXCLUSIVE_LOCK, 0, MAXDWORD, MAXDWORD, &whole);
    SetFilePointerEx(g_log, noMove, NULL, FILE_END);
    WriteFile(g_log, line, (DWORD)length, &written, NULL);
    UnlockFileEx(g_log, 0, MAXDWORD, MAXDWORD, &whole);
}

/* What start-up does in either mode: System32-only DLLs, the log directory,
 * the working directory, the log and its first line, the existence checks. */
static void StartUp(void) {
    typedef BOOL(WINAPI * SetDefaultDllDirectoriesFn)(DWORD);
    const SetDefaultDllDirectoriesFn setDirectories =
        (SetDefaultDllDirectoriesFn)(void (*)(void))GetProcAddress(
            GetModuleHandleW(L"kernel32.dll"), "SetDefaultDllDirectories");
    wchar_t directory[MAX_PATH + 1];
    char directoryLine[MAX_PATH * 3];
    WIN32_FILE_ATTRIBUTE_DATA data;
    size_t i;
    DWORD length = GetModuleFileNameW(NULL, directory, MAX_PATH);
    if (setDirectories != NULL) {
        setDirectories(LOAD_LIBRARY_SEARCH_SYSTEM32);
    }
    CreateDirectoryW(L"logs", NULL);
    while (length > 0 && directory[--length] != L'\\') {
    }
    directory[length] = L'\0';
    SetCurrentDirectoryW(directory);
    GetFileAttributesExW(kLog, GetFileExInfoStandard, &data);
    g_log = CreateFileW(kLog, GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, NULL, OPEN_ALWAYS,
                        FILE_ATTRIBUTE_NORMAL, NULL);
    WideCharToMultiByte(CP_ACP, 0, directory, -1, directoryLine, sizeof directoryLine, NULL, NULL);
    LogLine(directoryLine);
    for (i = 0; i < sizeof kRequiredFileNames / sizeof kRequiredFileNames[0]; ++i) {
        GetFileAttributesExA(kRequiredFileNames[i], GetFileExInfoStandard, &data);
    }
}

typedef BOOL(WINAPI* AllowSetForegroundWindowFn)(DWORD);

/* The foreground right handed on, user32 bound from System32 as the launcher
 * binds it: the loader, which has no other use for user32, pays for loading it. */
static void AllowToComeToFront(DWORD processId) {
    const HMODULE user32 = LoadLibraryExW(L"user32.dll", NULL, LOAD_LIBRARY_SEARCH_SYSTEM32);
    const AllowSetForegroundWindowFn allow =
        user32 == NULL ? NULL
                       : (AllowSetForegroundWindowFn)(void (*)(void))GetProcAddress(
                             user32, "AllowSetForegroundWindow");
    if (allow != NULL) {
        allow(processId);
    }
}

const wchar_t* BeginLauncherWork(const wchar_t* copy) {
    const wchar_t* const slash = wcsrchr(copy, L'\\');
    StartUp();
    LogLine("start Quorl Launch...");
    LogLine("build Quorl Loader...");
    g_buildMutex = CreateMutexW(NULL, FALSE, L"QuorlFloorBuild");
    WaitForSingleObject(g_buildMutex, INFINITE);
    DeleteFileW(copy);
    return slash != NULL ? slash + 1 : copy;
}

void EndLauncherWork(void) {
    /* The floor's shell start names no process; the grant costs the same. */
    AllowToComeToFront(ASFW_ANY);
    ReleaseMutex(g_buildMutex);
    CloseHandle(g_buildMutex);
    LogLine("exit Quorl Launch");
    CloseHandle(g_log);
}

void BeginLoaderWork(void) {
    WIN32_FILE_ATTRIBUTE_DATA data;
    WIN32_FIND_DATAW entry;
    HANDLE search;
    StartUp();
    /* Held until the process ends, as the loader holds its own. */
    CreateMutexW(NULL, FALSE, L"QuorlFloorLoader");
    LogLine("start Quorl Loader...");
    GetFileAttributesExW(L"..\\update\\setup.exe", GetFileExInfoStandard, &data);
    LogLine("setup.exe not found, check Quorl.exe...");
    search = FindFirstFileW(L"..\\*floor*.exe", &entry);
    if (search != INVALID_HANDLE_VALUE) {
        while (FindNextFileW(search, &entry)) {
        }
        FindClose(search);
    }
    GetFileAttributesExW(L"..\\floor_end.exe", GetFileExInfoStandard, &data);
    CloseHandle(CreateMutexW(NULL, FALSE, L"__QuorlFloor_Mutex__50051"));
    LogLine("check Quorl.exe OK exec it");
}

/* Only what the loader spends on Safer before it falls back: under Wine the
 * token is refused by its type. */
static void TrySaferLevel(void) {
    SAFER_LEVEL_HANDLE level = NULL;
    HANDLE token = NULL;
    TOKEN_TYPE type = TokenImpersonation;
    DWORD size = 0;
    if (SaferCreateLevel(SAFER_SCOPEID_USER, SAFER_LEVELID_NORMALUSER, SAFER_LEVEL_OPEN, &level,
                         NULL)) {
        if (SaferComputeTokenFromLevel(level, NULL, &token, 0, NULL) &&
            GetTokenInformation(token, TokenType, &type, sizeof type, &size) &&
            type == TokenPrimary) {
            CloseHandle(token);
        }
        SaferCloseLevel(level);
    }
}

/* Built in place: the cheapest way to the SIDs the token needs. */
static SID g_localSystem = {SID_REVISION, 1, {SECURITY_NT_AUTHORITY}, {SECURITY_LOCAL_SYSTEM_RID}};
static SID g_mediumLabel = {
    SID_REVISION, 1, {SECURITY_MANDATORY_LABEL_AUTHORITY}, {SECURITY_MANDATORY_MEDIUM_RID}};

/* The normal-user level made by hand: Administrators for deny only, no
 * privileges, the user as owner, a default DACL that grants the user and
 * SYSTEM, the medium label. */
static HANDLE MakeRestrictedToken(void) {
    BYTE administrators[SECURITY_MAX_SID_SIZE];
    DWORD size = sizeof administrators;
    SID_AND_ATTRIBUTES denyOnly;
    struct {
        TOKEN_USER user;
        BYTE sid[SECURITY_MAX_SID_SIZE];
    } user;
    DWORD dacl[128];
    TOKEN_OWNER owner;
    TOKEN_DEFAULT_DACL defaultDacl;
    TOKEN_MANDATORY_LABEL label;
    HANDLE own = NULL;
    HANDLE restricted = NULL;
    if (!OpenProcessToken(GetCurrentProcess(),
                          TOKEN_ASSIGN_PRIMARY | TOKEN_DUPLICATE | TOKEN_QUERY | TOKEN_IMPERSONATE |
                              TOKEN_ADJUST_DEFAULT,
                          &own)) {
        return NULL;
    }
    denyOnly.Sid = administrators;
    denyOnly.Attributes = 0;
    if (!CreateWellKnownSid(WinBuiltinAdministratorsSid, NULL, administrators, &size) ||
        !CreateRestrictedToken(own, DISABLE_MAX_PRIVILEGE, 1, &denyOnly, 0, NULL, 0, NULL,
                               &restricted)) {
        CloseHandle(own);
        return NULL;
    }
    if (GetTokenInformation(own, TokenUser, &user, sizeof user, &size)) {
        owner.Owner = user.user.User.Sid;
        SetTokenInformation(restricted, TokenOwner, &owner, sizeof owner);
        InitializeAcl((PACL)dacl, sizeof dacl, ACL_REVISION);
        AddAccessAllowedAce((PACL)dacl, ACL_REVISION, GENERIC_ALL, user.user.User.Sid);
        AddAccessAllowedAce((PACL)dacl, ACL_REVISION, GENERIC_ALL, &g_localSystem);
        defaultDacl.DefaultDacl = (PACL)dacl;
        SetTokenInformation(restricted, TokenDefaultDacl, &defaultDacl, sizeof defaultDacl);
    }
    label.Label.Sid = &g_mediumLabel;
    label.Label.Attributes = SE_GROUP_INTEGRITY;
    SetTokenInformation(restricted, TokenIntegrityLevel, &label,
                        (DWORD)sizeof label + GetLengthSid(&g_mediumLabel));
    CloseHandle(own);
    return restricted;
}

typedef BOOL(WINAPI* CreateEnvironmentBlockFn)(LPVOID*, HANDLE, BOOL);
typedef BOOL(WINAPI* DestroyEnvironmentBlockFn)(LPVOID);

BOOL StartLastProgram(wchar_t* commandLine) {
    wchar_t desktop[] = L"winsta0\\default";
    STARTUPINFOW startup = {.cb = sizeof startup, .lpDesktop = desktop};
    PROCESS_INFORMATION child;
    void* block = NULL;
    BOOL created = FALSE;
    HANDLE token;
    HMODULE userEnv;
    CreateEnvironmentBlockFn create;
    DestroyEnvironmentBlockFn destroy;
    TrySaferLevel();
    token = MakeRestrictedToken();
    if (token == NULL) {
        return FALSE;
    }
    userEnv = LoadLibraryExW(L"userenv.dll", NULL, LOAD_LIBRARY_SEARCH_SYSTEM32);
    if (userEnv == NULL) {
        CloseHandle(token);
        return FALSE;
    }
    create =
        (CreateEnvironmentBlockFn)(void (*)(void))GetProcAddress(userEnv, "CreateEnvironmentBlock");
    destroy = (DestroyEnvironmentBlockFn)(void (*)(void))GetProcAddress(userEnv,
                                                                        "DestroyEnvironmentBlock");
    if (create != NULL && destroy != NULL && create(&block, token, TRUE)) {
        created = CreateProcessAsUserW(
            token, NULL, commandLine, NULL, NULL, FALSE,
            CREATE_UNICODE_ENVIRONMENT | NORMAL_PRIORITY_CLASS | CREATE_NEW_CONSOLE, block, L"..\\",
            &startup, &child);
        destroy(block);
    }
    if (created) {
        AllowToComeToFront(child.dwProcessId);
        CloseHandle(child.hProcess);
        CloseHandle(child.hThread);
        LogLine("exec Quorl.exe with a restricted token");
    }
    CloseHandle(token);
    FreeLibrary(userEnv);
    return created;
}
