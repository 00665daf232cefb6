/* The launcher's required work in plain C, with nothing that could be cut:
 * one wide call per step, no C++ runtime, no strings built. */
#include "required_work.h"

#include <stdio.h>
#include <string.h>
#include <time.h>
#include <wchar.h>
#include <userenv.h>
#include <winsafer.h>

#include "launcher/required_file_names.h"

static const wchar_t kLogDirectory[] = L"logs";
static const wchar_t kLog[] = L"logs\\floor.log";
static const wchar_t* const kRequiredFiles[] = {QUORL_REQUIRED_FILE_NAMES(L"")};

/* The copy's log, like the loader's, stays open until its process ends. */
static HANDLE g_log = INVALID_HANDLE_VALUE;
static HANDLE g_buildMutex = NULL;

static void LogLine(const char* text) {
    char line[256];
    OVERLAPPED whole;
    LARGE_INTEGER noMove;
    DWORD written = 0;
    const __time64_t now = _time64(NULL);
    const struct tm* local = _localtime64(&now);
    size_t length = local != NULL ? strftime(line, sizeof line, "[%Y.%m.%d %X]:", local) : 0;
    const int added = _snprintf(line + length, sizeof line - length - 2, "%s", text);
    length = added < 0 ? sizeof line - 2 : length + (size_t)added;
    fwrite(line, 1, length, stdout);
    fputc('\n', stdout);
    fflush(stdout);
    line[length++] = '\r';
    line[length++] = '\n';
    ZeroMemory(&whole, sizeof whole);
    noMove.QuadPart = 0;
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
    CreateDirectoryW(kLogDirectory, NULL);
    while (length > 0 && directory[length - 1] != L'\\') {
        --length;
    }
    directory[length > 0 ? length - 1 : 0] = L'\0';
    SetCurrentDirectoryW(directory);
    GetFileAttributesExW(kLog, GetFileExInfoStandard, &data);
    g_log = CreateFileW(kLog, GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, NULL, OPEN_ALWAYS,
                        FILE_ATTRIBUTE_NORMAL, NULL);
    WideCharToMultiByte(CP_ACP, 0, directory, -1, directoryLine, sizeof directoryLine, NULL, NULL);
    LogLine(directoryLine);
    for (i = 0; i < sizeof kRequiredFiles / sizeof kRequiredFiles[0]; ++i) {
        GetFileAttributesExW(kRequiredFiles[i], GetFileExInfoStandard, &data);
    }
}

void BeginLauncherWork(const wchar_t* copy) {
    StartUp();
    LogLine("start Quorl Launch...");
    LogLine("build Quorl Loader...");
    g_buildMutex = CreateMutexW(NULL, FALSE, L"QuorlFloorBuild");
    WaitForSingleObject(g_buildMutex, INFINITE);
    DeleteFileW(copy);
}

const wchar_t* NameForShell(const wchar_t* copy) {
    const wchar_t* const slash = wcsrchr(copy, L'\\');
    return slash != NULL ? slash + 1 : copy;
}

void EndLauncherWork(void) {
    ReleaseMutex(g_buildMutex);
    CloseHandle(g_buildMutex);
    LogLine("exit Quorl Launch");
    CloseHandle(g_log);
}

void BeginLoaderWork(void) {
    WIN32_FILE_ATTRIBUTE_DATA data;
    WIN32_FIND_DATAW entry;
    HANDLE search;
    HANDLE clientMutex;
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
    clientMutex = CreateMutexW(NULL, FALSE, L"__QuorlFloor_Mutex__50051");
    CloseHandle(clientMutex);
    LogLine("check Quorl.exe OK exec it");
}

/* Only what the loader spends on Safer before it falls back: under Wine the
 * token is refused by its type. */
static void TrySaferLevel(void) {
    SAFER_LEVEL_HANDLE level = NULL;
    HANDLE token = NULL;
    TOKEN_TYPE type = TokenImpersonation;
    DWORD size = 0;
    if (!SaferCreateLevel(SAFER_SCOPEID_USER, SAFER_LEVELID_NORMALUSER, SAFER_LEVEL_OPEN, &level,
                          NULL)) {
        return;
    }
    if (SaferComputeTokenFromLevel(level, NULL, &token, 0, NULL) &&
        GetTokenInformation(token, TokenType, &type, sizeof type, &size) && type == TokenPrimary) {
        CloseHandle(token);
    }
    SaferCloseLevel(level);
}

static void SetDefaultsAndLabel(HANDLE own, HANDLE restricted) {
    SID_IDENTIFIER_AUTHORITY labelAuthority = {SECURITY_MANDATORY_LABEL_AUTHORITY};
    SID localSystem = {SID_REVISION, 1, {SECURITY_NT_AUTHORITY}, {SECURITY_LOCAL_SYSTEM_RID}};
    struct {
        TOKEN_USER user;
        BYTE sid[SECURITY_MAX_SID_SIZE];
    } user;
    DWORD dacl[128];
    TOKEN_OWNER owner;
    TOKEN_DEFAULT_DACL defaultDacl;
    TOKEN_MANDATORY_LABEL label;
    PSID medium = NULL;
    DWORD size = 0;
    if (GetTokenInformation(own, TokenUser, &user, sizeof user, &size)) {
        owner.Owner = user.user.User.Sid;
        SetTokenInformation(restricted, TokenOwner, &owner, sizeof owner);
        InitializeAcl((PACL)dacl, sizeof dacl, ACL_REVISION);
        AddAccessAllowedAce((PACL)dacl, ACL_REVISION, GENERIC_ALL, user.user.User.Sid);
        AddAccessAllowedAce((PACL)dacl, ACL_REVISION, GENERIC_ALL, &localSystem);
        defaultDacl.DefaultDacl = (PACL)dacl;
        SetTokenInformation(restricted, TokenDefaultDacl, &defaultDacl, sizeof defaultDacl);
    }
    if (AllocateAndInitializeSid(&labelAuthority, 1, SECURITY_MANDATORY_MEDIUM_RID, 0, 0, 0, 0, 0,
                                 0, 0, &medium)) {
        label.Label.Sid = medium;
        label.Label.Attributes = SE_GROUP_INTEGRITY;
        SetTokenInformation(restricted, TokenIntegrityLevel, &label,
                            (DWORD)sizeof label + GetLengthSid(medium));
        FreeSid(medium);
    }
}

static HANDLE MakeRestrictedToken(void) {
    SID_IDENTIFIER_AUTHORITY ntAuthority = {SECURITY_NT_AUTHORITY};
    SID_AND_ATTRIBUTES denyOnly;
    PSID administrators = NULL;
    HANDLE own = NULL;
    HANDLE restricted = NULL;
    if (!OpenProcessToken(GetCurrentProcess(),
                          TOKEN_ASSIGN_PRIMARY | TOKEN_DUPLICATE | TOKEN_QUERY | TOKEN_IMPERSONATE |
                              TOKEN_ADJUST_DEFAULT,
                          &own)) {
        return NULL;
    }
    if (AllocateAndInitializeSid(&ntAuthority, 2, SECURITY_BUILTIN_DOMAIN_RID,
                                 DOMAIN_ALIAS_RID_ADMINS, 0, 0, 0, 0, 0, 0, &administrators)) {
        denyOnly.Sid = administrators;
        denyOnly.Attributes = 0;
        if (CreateRestrictedToken(own, DISABLE_MAX_PRIVILEGE, 1, &denyOnly, 0, NULL, 0, NULL,
                                  &restricted)) {
            SetDefaultsAndLabel(own, restricted);
        }
        FreeSid(administrators);
    }
    CloseHandle(own);
    return restricted;
}

typedef BOOL(WINAPI* CreateEnvironmentBlockFn)(LPVOID*, HANDLE, BOOL);
typedef BOOL(WINAPI* DestroyEnvironmentBlockFn)(LPVOID);

BOOL StartLastProgram(wchar_t* commandLine) {
    wchar_t desktop[] = L"winsta0\\default";
    STARTUPINFOW startup;
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
        ZeroMemory(&startup, sizeof startup);
        startup.cb = sizeof startup;
        startup.lpDesktop = desktop;
        created = CreateProcessAsUserW(
            token, NULL, commandLine, NULL, NULL, FALSE,
            CREATE_UNICODE_ENVIRONMENT | NORMAL_PRIORITY_CLASS | CREATE_NEW_CONSOLE, block, L"..\\",
            &startup, &child);
        destroy(block);
    }
    if (created) {
        CloseHandle(child.hProcess);
        CloseHandle(child.hThread);
        LogLine("exec Quorl.exe with a restricted token");
    }
    CloseHandle(token);
    FreeLibrary(userEnv);
    return created;
}
