#pragma once

// Recording stand-ins for the platform calls of the restricted launch. The
// test build of restricted_process.cpp reaches these instead of Windows.

#include <windows.h>
#include <winsafer.h>

#include <string>
#include <vector>

namespace platform {

BOOL SaferCreateLevel(DWORD scopeId, DWORD levelId, DWORD openFlags, SAFER_LEVEL_HANDLE* level,
                      LPVOID reserved);
BOOL SaferComputeTokenFromLevel(SAFER_LEVEL_HANDLE level, HANDLE inToken, PHANDLE outToken,
                                DWORD flags, LPVOID reserved);
BOOL SaferCloseLevel(SAFER_LEVEL_HANDLE level);
BOOL OpenProcessToken(HANDLE process, DWORD access, PHANDLE token);
BOOL CreateRestrictedToken(HANDLE token, DWORD flags, DWORD disableCount,
                           PSID_AND_ATTRIBUTES sidsToDisable, DWORD deleteCount,
                           PLUID_AND_ATTRIBUTES privilegesToDelete, DWORD restrictCount,
                           PSID_AND_ATTRIBUTES sidsToRestrict, PHANDLE newToken);
BOOL AllocateAndInitializeSid(PSID_IDENTIFIER_AUTHORITY authority, BYTE count, DWORD sub0,
                              DWORD sub1, DWORD sub2, DWORD sub3, DWORD sub4, DWORD sub5,
                              DWORD sub6, DWORD sub7, PSID* sid);
PVOID FreeSid(PSID sid);
using ::AddAccessAllowedAce;
using ::GetLengthSid;
using ::InitializeAcl;
BOOL GetTokenInformation(HANDLE token, TOKEN_INFORMATION_CLASS infoClass, LPVOID info, DWORD length,
                         PDWORD returned);
BOOL SetTokenInformation(HANDLE token, TOKEN_INFORMATION_CLASS infoClass, LPVOID info,
                         DWORD length);
HMODULE LoadLibraryExW(LPCWSTR name, HANDLE file, DWORD flags);
FARPROC GetProcAddress(HMODULE module, LPCSTR name);
BOOL FreeLibrary(HMODULE module);
BOOL CreateProcessAsUserW(HANDLE token, LPCWSTR applicationName, LPWSTR commandLine,
                          LPSECURITY_ATTRIBUTES processAttributes,
                          LPSECURITY_ATTRIBUTES threadAttributes, BOOL inheritHandles,
                          DWORD creationFlags, LPVOID environment, LPCWSTR currentDirectory,
                          LPSTARTUPINFOW startupInfo, LPPROCESS_INFORMATION processInfo);
BOOL CloseHandle(HANDLE handle);

}  // namespace platform

namespace fake {

// Which calls fail. With realCalls every call reaches Windows.
struct Script {
    bool createLevelFails = false;
    bool computeTokenFails = false;
    bool saferProcessFails = false;  // process creation refuses the Safer token only
    bool openTokenFails = false;
    bool restrictTokenFails = false;
    bool allocateSidFails = false;  // every SID: the label's and Administrators'
    bool setLabelFails = false;
    bool searchFlagRefused = false;  // as Windows 7 without KB2533623 does
    bool loadUserEnvFails = false;
    bool createBlockFails = false;
    bool createProcessFails = false;
    bool realCalls = false;
    bool saferTokenUnusable = false;  // no token at all, as Wine's Safer stub hands back
    bool setDefaultsFails = false;    // the owner and the default DACL
};

// GetCurrentProcessToken() from Windows 8 on: ours answers for the made-up tokens.
extern const HANDLE kOwnProcessToken;

// Forgets earlier calls and follows the script from now on.
void Start(const Script& script);

// One line per call, handles named by what made them: "level", "safer token",
// "own token", "restricted token", "label sid", "admins sid", "userenv",
// "block", "process", "thread".
const std::vector<std::string>& Calls();

// The names of what was acquired and not yet released, in acquisition order;
// a release of something not held is listed as "released unheld <name>".
std::vector<std::string> Unreleased();

// The token of every process creation that was attempted, by name.
const std::vector<std::string>& ProcessTokens();

}  // namespace fake
