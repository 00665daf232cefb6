#include "fake_platform_calls.h"

#include <algorithm>
#include <cstdint>
#include <map>
#include <sstream>
#include <utility>

#include "base/function_address.h"
#include "tests/fixtures/fixture_support.h"

namespace {

using fixture::SidText;

fake::Script g_script;
std::vector<std::string> g_calls;
std::map<const void*, std::string> g_names;
std::vector<std::pair<const void*, std::string>> g_held;
std::vector<std::string> g_badReleases;
std::vector<std::string> g_processTokens;

// Handle values handed out when the calls are not real.
template <typename Handle>
Handle FakeHandle(std::uintptr_t value) {
    return reinterpret_cast<Handle>(value);
}
const auto kFakeLevel = FakeHandle<SAFER_LEVEL_HANDLE>(0x1001);
const auto kFakeSaferToken = FakeHandle<HANDLE>(0x1002);
const auto kFakeModule = FakeHandle<HMODULE>(0x1003);
const auto kFakeBlock = FakeHandle<void*>(0x1004);
const auto kFakeProcess = FakeHandle<HANDLE>(0x1005);
const auto kFakeThread = FakeHandle<HANDLE>(0x1006);
const auto kFakeOwnToken = FakeHandle<HANDLE>(0x1007);
const auto kFakeRestrictedToken = FakeHandle<HANDLE>(0x1008);

using CreateEnvironmentBlockFn = BOOL(WINAPI*)(LPVOID*, HANDLE, BOOL);
using DestroyEnvironmentBlockFn = BOOL(WINAPI*)(LPVOID);
CreateEnvironmentBlockFn g_realCreateBlock = nullptr;
DestroyEnvironmentBlockFn g_realDestroyBlock = nullptr;

void Record(const std::string& call) {
    g_calls.push_back(call);
}

void Acquire(const void* handle, const char* name) {
    g_names[handle] = name;
    g_held.emplace_back(handle, name);
}

std::string NameOf(const void* handle) {
    if (handle == nullptr) {
        return "null";
    }
    if (handle == ::GetCurrentProcess()) {
        return "self";
    }
    const auto found = g_names.find(handle);
    if (found != g_names.end()) {
        return found->second;
    }
    std::ostringstream unknown;
    unknown << "unknown " << handle;
    return unknown.str();
}

void Release(const void* handle) {
    const auto held = std::find_if(g_held.begin(), g_held.end(),
                                   [handle](const auto& entry) { return entry.first == handle; });
    if (held == g_held.end()) {
        g_badReleases.push_back("released unheld " + NameOf(handle));
    } else {
        g_held.erase(held);
    }
}

std::string Narrow(const wchar_t* text) {
    if (text == nullptr) {
        return "null";
    }
    std::string narrow;
    for (; *text != L'\0'; ++text) {
        narrow += *text < 0x80 ? static_cast<char>(*text) : '?';
    }
    return narrow;
}

std::string Hex(DWORD value) {
    std::ostringstream hex;
    hex << "0x" << std::hex << value;
    return hex.str();
}

template <typename Function>
FARPROC AsFarProc(Function function) {
    return reinterpret_cast<FARPROC>(reinterpret_cast<void (*)()>(function));
}

BOOL WINAPI RecordingCreateEnvironmentBlock(LPVOID* block, HANDLE token, BOOL inherit) {
    Record("CreateEnvironmentBlock(" + NameOf(token) + ", inherit=" + std::to_string(inherit) +
           ")");
    if (g_script.createBlockFails) {
        return FALSE;
    }
    const BOOL created = g_script.realCalls ? g_realCreateBlock(block, token, inherit) : TRUE;
    if (!g_script.realCalls) {
        *block = kFakeBlock;
    }
    if (created) {
        Acquire(*block, "block");
    }
    return created;
}

BOOL WINAPI RecordingDestroyEnvironmentBlock(LPVOID block) {
    Record("DestroyEnvironmentBlock(" + NameOf(block) + ")");
    Release(block);
    return g_script.realCalls ? g_realDestroyBlock(block) : TRUE;
}

}  // namespace

namespace fake {

const HANDLE kOwnProcessToken = FakeHandle<HANDLE>(static_cast<std::uintptr_t>(-4));

void Start(const Script& script) {
    g_script = script;
    g_calls.clear();
    g_names.clear();
    g_held.clear();
    g_badReleases.clear();
    g_processTokens.clear();
}

const std::vector<std::string>& Calls() {
    return g_calls;
}

std::vector<std::string> Unreleased() {
    std::vector<std::string> names = g_badReleases;
    for (const auto& held : g_held) {
        names.push_back(held.second);
    }
    return names;
}

const std::vector<std::string>& ProcessTokens() {
    return g_processTokens;
}

}  // namespace fake

namespace platform {

BOOL SaferCreateLevel(DWORD scopeId, DWORD levelId, DWORD openFlags, SAFER_LEVEL_HANDLE* level,
                      LPVOID reserved) {
    Record("SaferCreateLevel(scope=" + std::to_string(scopeId) + ", level=" + Hex(levelId) +
           ", flags=" + std::to_string(openFlags) + ", reserved=" + NameOf(reserved) + ")");
    if (g_script.createLevelFails) {
        // A failed call may still scribble on its output.
        *level = kFakeLevel;
        return FALSE;
    }
    const BOOL created = g_script.realCalls
                             ? ::SaferCreateLevel(scopeId, levelId, openFlags, level, reserved)
                             : TRUE;
    if (!g_script.realCalls) {
        *level = kFakeLevel;
    }
    if (created) {
        Acquire(*level, "level");
    }
    return created;
}

BOOL SaferComputeTokenFromLevel(SAFER_LEVEL_HANDLE level, HANDLE inToken, PHANDLE outToken,
                                DWORD flags, LPVOID reserved) {
    Record("SaferComputeTokenFromLevel(" + NameOf(level) + ", in=" + NameOf(inToken) +
           ", flags=" + std::to_string(flags) + ", reserved=" + NameOf(reserved) + ")");
    if (g_script.computeTokenFails) {
        *outToken = kFakeSaferToken;
        return FALSE;
    }
    const BOOL computed =
        g_script.realCalls ? ::SaferComputeTokenFromLevel(level, inToken, outToken, flags, reserved)
                           : TRUE;
    if (!g_script.realCalls) {
        *outToken = kFakeSaferToken;
    }
    if (computed) {
        Acquire(*outToken, "safer token");
    }
    return computed;
}

BOOL SaferCloseLevel(SAFER_LEVEL_HANDLE level) {
    Record("SaferCloseLevel(" + NameOf(level) + ")");
    Release(level);
    return g_script.realCalls ? ::SaferCloseLevel(level) : TRUE;
}

BOOL OpenProcessToken(HANDLE process, DWORD access, PHANDLE token) {
    Record("OpenProcessToken(" + NameOf(process) + ", access=" + Hex(access) + ")");
    if (g_script.openTokenFails) {
        return FALSE;
    }
    const BOOL opened = g_script.realCalls ? ::OpenProcessToken(process, access, token) : TRUE;
    if (!g_script.realCalls) {
        *token = kFakeOwnToken;
    }
    if (opened) {
        Acquire(*token, "own token");
    }
    return opened;
}

BOOL CreateRestrictedToken(HANDLE token, DWORD flags, DWORD disableCount,
                           PSID_AND_ATTRIBUTES sidsToDisable, DWORD deleteCount,
                           PLUID_AND_ATTRIBUTES privilegesToDelete, DWORD restrictCount,
                           PSID_AND_ATTRIBUTES sidsToRestrict, PHANDLE newToken) {
    std::string denyOnly;
    for (DWORD i = 0; i < disableCount; ++i) {
        denyOnly += (i == 0 ? "" : " ") + SidText(sidsToDisable[i].Sid) + ":" +
                    Hex(sidsToDisable[i].Attributes);
    }
    Record("CreateRestrictedToken(" + NameOf(token) + ", flags=" + Hex(flags) + ", deny-only=[" +
           denyOnly + "], delete=" + std::to_string(deleteCount) +
           ", restrict=" + std::to_string(restrictCount) + ")");
    if (g_script.restrictTokenFails) {
        return FALSE;
    }
    const BOOL created =
        g_script.realCalls
            ? ::CreateRestrictedToken(token, flags, disableCount, sidsToDisable, deleteCount,
                                      privilegesToDelete, restrictCount, sidsToRestrict, newToken)
            : TRUE;
    if (!g_script.realCalls) {
        *newToken = kFakeRestrictedToken;
    }
    if (created) {
        Acquire(*newToken, "restricted token");
    }
    return created;
}

BOOL AllocateAndInitializeSid(PSID_IDENTIFIER_AUTHORITY authority, BYTE count, DWORD sub0,
                              DWORD sub1, DWORD sub2, DWORD sub3, DWORD sub4, DWORD sub5,
                              DWORD sub6, DWORD sub7, PSID* sid) {
    Record("AllocateAndInitializeSid(count=" + std::to_string(count) + ")");
    if (g_script.allocateSidFails) {
        return FALSE;
    }
    // The real SID, so that the calls that use it can be read back.
    const BOOL allocated = ::AllocateAndInitializeSid(authority, count, sub0, sub1, sub2, sub3,
                                                      sub4, sub5, sub6, sub7, sid);
    if (allocated) {
        Acquire(*sid, SidText(*sid) == "S-1-5-32-544" ? "admins sid" : "label sid");
    }
    return allocated;
}

PVOID FreeSid(PSID sid) {
    Record("FreeSid(" + NameOf(sid) + ")");
    Release(sid);
    return ::FreeSid(sid);
}

BOOL GetTokenInformation(HANDLE token, TOKEN_INFORMATION_CLASS infoClass, LPVOID info, DWORD length,
                         PDWORD returned) {
    Record("GetTokenInformation(" + NameOf(token) + ", class=" + std::to_string(infoClass) + ")");
    const bool unusable = g_script.saferTokenUnusable && NameOf(token) == "safer token";
    return !unusable && ::GetTokenInformation(g_script.realCalls ? token : fake::kOwnProcessToken,
                                              infoClass, info, length, returned);
}

BOOL SetTokenInformation(HANDLE token, TOKEN_INFORMATION_CLASS infoClass, LPVOID info,
                         DWORD length) {
    if (infoClass != TokenIntegrityLevel) {
        Record(
            "SetTokenInformation(" + NameOf(token) + ", class=" + std::to_string(infoClass) + ", " +
            (infoClass == TokenOwner
                 ? SidText(static_cast<TOKEN_OWNER*>(info)->Owner)
                 : fixture::AllowedTrustees(static_cast<TOKEN_DEFAULT_DACL*>(info)->DefaultDacl)) +
            ")");
        return !g_script.setDefaultsFails &&
               (!g_script.realCalls || ::SetTokenInformation(token, infoClass, info, length));
    }
    const auto* label = static_cast<const TOKEN_MANDATORY_LABEL*>(info);
    const DWORD expectedLength =
        static_cast<DWORD>(sizeof *label) + ::GetLengthSid(label->Label.Sid);
    Record("SetTokenInformation(" + NameOf(token) + ", class=" + std::to_string(infoClass) +
           ", sid=" + SidText(label->Label.Sid) + ", attributes=" + Hex(label->Label.Attributes) +
           (length == expectedLength ? ", length=label+sid)" : ", length=wrong)"));
    if (g_script.setLabelFails) {
        return FALSE;
    }
    return g_script.realCalls ? ::SetTokenInformation(token, infoClass, info, length) : TRUE;
}

HMODULE LoadLibraryExW(LPCWSTR name, HANDLE file, DWORD flags) {
    Record("LoadLibraryExW(" + Narrow(name) + ", file=" + NameOf(file) + ", flags=" + Hex(flags) +
           ")");
    if (g_script.searchFlagRefused && (flags & LOAD_LIBRARY_SEARCH_SYSTEM32) != 0) {
        ::SetLastError(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    if (g_script.loadUserEnvFails) {
        ::SetLastError(ERROR_MOD_NOT_FOUND);
        return nullptr;
    }
    const HMODULE module = g_script.realCalls ? ::LoadLibraryExW(name, file, flags) : kFakeModule;
    if (module != nullptr) {
        Acquire(module, "userenv");
    }
    return module;
}

FARPROC GetProcAddress(HMODULE module, LPCSTR name) {
    const std::string function = name;
    Record("GetProcAddress(" + NameOf(module) + ", " + function + ")");
    if (g_script.realCalls) {
        const FARPROC real = ::GetProcAddress(module, name);
        if (function == "CreateEnvironmentBlock") {
            g_realCreateBlock = AsFunction<CreateEnvironmentBlockFn>(real);
        } else if (function == "DestroyEnvironmentBlock") {
            g_realDestroyBlock = AsFunction<DestroyEnvironmentBlockFn>(real);
        }
    }
    if (function == "CreateEnvironmentBlock") {
        return AsFarProc(&RecordingCreateEnvironmentBlock);
    }
    if (function == "DestroyEnvironmentBlock") {
        return AsFarProc(&RecordingDestroyEnvironmentBlock);
    }
    return nullptr;
}

BOOL FreeLibrary(HMODULE module) {
    Record("FreeLibrary(" + NameOf(module) + ")");
    Release(module);
    return g_script.realCalls ? ::FreeLibrary(module) : TRUE;
}

BOOL CreateProcessAsUserW(HANDLE token, LPCWSTR applicationName, LPWSTR commandLine,
                          LPSECURITY_ATTRIBUTES processAttributes,
                          LPSECURITY_ATTRIBUTES threadAttributes, BOOL inheritHandles,
                          DWORD creationFlags, LPVOID environment, LPCWSTR currentDirectory,
                          LPSTARTUPINFOW startupInfo, LPPROCESS_INFORMATION processInfo) {
    const bool startupZeroElsewhere =
        startupInfo->dwFlags == 0 && startupInfo->lpTitle == nullptr &&
        startupInfo->hStdOutput == nullptr && startupInfo->wShowWindow == 0;
    g_processTokens.push_back(NameOf(token));
    Record("CreateProcessAsUserW(" + NameOf(token) + ", app=" + Narrow(applicationName) +
           ", cmd=" + Narrow(commandLine) + ", processAttributes=" + NameOf(processAttributes) +
           ", threadAttributes=" + NameOf(threadAttributes) +
           ", inherit=" + std::to_string(inheritHandles) + ", flags=" + Hex(creationFlags) +
           ", env=" + NameOf(environment) + ", dir=" + Narrow(currentDirectory) +
           ", desktop=" + Narrow(startupInfo->lpDesktop) +
           (startupInfo->cb == sizeof(STARTUPINFOW) && startupZeroElsewhere ? ", startup=plain"
                                                                            : ", startup=odd") +
           ")");
    if (g_script.createProcessFails ||
        (g_script.saferProcessFails && NameOf(token) == "safer token")) {
        ::SetLastError(ERROR_ACCESS_DENIED);
        return FALSE;
    }
    const BOOL created =
        g_script.realCalls
            ? ::CreateProcessAsUserW(token, applicationName, commandLine, processAttributes,
                                     threadAttributes, inheritHandles, creationFlags, environment,
                                     currentDirectory, startupInfo, processInfo)
            : TRUE;
    if (!g_script.realCalls) {
        processInfo->hProcess = kFakeProcess;
        processInfo->hThread = kFakeThread;
    }
    if (created) {
        Acquire(processInfo->hProcess, "process");
        Acquire(processInfo->hThread, "thread");
    }
    return created;
}

BOOL CloseHandle(HANDLE handle) {
    Record("CloseHandle(" + NameOf(handle) + ")");
    Release(handle);
    return g_script.realCalls ? ::CloseHandle(handle) : TRUE;
}

}  // namespace platform
