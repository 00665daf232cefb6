#include "fake_platform_calls.h"

#include <cstdint>
#include <map>
#include <sstream>

namespace {

fake::Script g_script;
std::vector<std::string> g_calls;
std::map<const void*, std::string> g_handleNames;

// Handle values handed out when the calls are not real.
const auto kFakeLevel = reinterpret_cast<SAFER_LEVEL_HANDLE>(std::uintptr_t{0x1001});
const auto kFakeToken = reinterpret_cast<HANDLE>(std::uintptr_t{0x1002});
const auto kFakeModule = reinterpret_cast<HMODULE>(std::uintptr_t{0x1003});
const auto kFakeBlock = reinterpret_cast<void*>(std::uintptr_t{0x1004});
const auto kFakeProcess = reinterpret_cast<HANDLE>(std::uintptr_t{0x1005});
const auto kFakeThread = reinterpret_cast<HANDLE>(std::uintptr_t{0x1006});

using CreateEnvironmentBlockFn = BOOL(WINAPI*)(LPVOID*, HANDLE, BOOL);
using DestroyEnvironmentBlockFn = BOOL(WINAPI*)(LPVOID);
CreateEnvironmentBlockFn g_realCreateBlock = nullptr;
DestroyEnvironmentBlockFn g_realDestroyBlock = nullptr;

void Record(const std::string& call) {
    g_calls.push_back(call);
}

void Name(const void* handle, const char* name) {
    g_handleNames[handle] = name;
}

std::string NameOf(const void* handle) {
    if (handle == nullptr) {
        return "null";
    }
    const auto found = g_handleNames.find(handle);
    if (found != g_handleNames.end()) {
        return found->second;
    }
    std::ostringstream unknown;
    unknown << "unknown " << handle;
    return unknown.str();
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

std::string SidText(PSID sid) {
    std::ostringstream text;
    text << "S-1-" << static_cast<int>(::GetSidIdentifierAuthority(sid)->Value[5]);
    for (BYTE i = 0; i < *::GetSidSubAuthorityCount(sid); ++i) {
        text << "-" << *::GetSidSubAuthority(sid, i);
    }
    return text.str();
}

template <typename Function>
Function Cast(FARPROC proc) {
    return reinterpret_cast<Function>(reinterpret_cast<void (*)()>(proc));
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
    if (g_script.realCalls) {
        const BOOL created = g_realCreateBlock(block, token, inherit);
        Name(*block, "block");
        return created;
    }
    *block = kFakeBlock;
    return TRUE;
}

BOOL WINAPI RecordingDestroyEnvironmentBlock(LPVOID block) {
    Record("DestroyEnvironmentBlock(" + NameOf(block) + ")");
    return g_script.realCalls ? g_realDestroyBlock(block) : TRUE;
}

HANDLE DuplicateOwnTokenAsPrimary() {
    HANDLE own = nullptr;
    HANDLE primary = nullptr;
    if (::OpenProcessToken(::GetCurrentProcess(), TOKEN_ALL_ACCESS, &own)) {
        ::DuplicateTokenEx(own, TOKEN_ALL_ACCESS, nullptr, SecurityImpersonation, TokenPrimary,
                           &primary);
        ::CloseHandle(own);
    }
    return primary;
}

}  // namespace

namespace fake {

void Start(const Script& script) {
    g_script = script;
    g_calls.clear();
    g_handleNames.clear();
    if (!script.realCalls) {
        g_handleNames = {{kFakeLevel, "level"}, {kFakeToken, "token"},     {kFakeModule, "userenv"},
                         {kFakeBlock, "block"}, {kFakeProcess, "process"}, {kFakeThread, "thread"}};
    }
}

const std::vector<std::string>& Calls() {
    return g_calls;
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
    if (g_script.realCalls) {
        const BOOL created = ::SaferCreateLevel(scopeId, levelId, openFlags, level, reserved);
        Name(*level, "level");
        return created;
    }
    *level = kFakeLevel;
    return TRUE;
}

BOOL SaferComputeTokenFromLevel(SAFER_LEVEL_HANDLE level, HANDLE inToken, PHANDLE outToken,
                                DWORD flags, LPVOID reserved) {
    Record("SaferComputeTokenFromLevel(" + NameOf(level) + ", in=" + NameOf(inToken) +
           ", flags=" + std::to_string(flags) + ", reserved=" + NameOf(reserved) + ")");
    if (g_script.computeTokenFails) {
        *outToken = kFakeToken;
        return FALSE;
    }
    *outToken = g_script.realCalls ? DuplicateOwnTokenAsPrimary() : kFakeToken;
    Name(*outToken, "token");
    return *outToken != nullptr;
}

BOOL SaferCloseLevel(SAFER_LEVEL_HANDLE level) {
    Record("SaferCloseLevel(" + NameOf(level) + ")");
    return g_script.realCalls ? ::SaferCloseLevel(level) : TRUE;
}

BOOL AllocateAndInitializeSid(PSID_IDENTIFIER_AUTHORITY authority, BYTE count, DWORD sub0,
                              DWORD sub1, DWORD sub2, DWORD sub3, DWORD sub4, DWORD sub5,
                              DWORD sub6, DWORD sub7, PSID* sid) {
    Record("AllocateAndInitializeSid(count=" + std::to_string(count) + ")");
    if (g_script.allocateSidFails) {
        return FALSE;
    }
    // The real SID, so that the label can be read back below.
    const BOOL allocated = ::AllocateAndInitializeSid(authority, count, sub0, sub1, sub2, sub3,
                                                      sub4, sub5, sub6, sub7, sid);
    Name(*sid, "sid");
    return allocated;
}

PVOID FreeSid(PSID sid) {
    Record("FreeSid(" + NameOf(sid) + ")");
    return ::FreeSid(sid);
}

BOOL SetTokenInformation(HANDLE token, TOKEN_INFORMATION_CLASS infoClass, LPVOID info,
                         DWORD length) {
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
    if (g_script.loadUserEnvFails) {
        return nullptr;
    }
    if (!g_script.realCalls) {
        return kFakeModule;
    }
    const HMODULE module = ::LoadLibraryExW(name, file, flags);
    Name(module, "userenv");
    return module;
}

FARPROC GetProcAddress(HMODULE module, LPCSTR name) {
    const std::string function = name;
    Record("GetProcAddress(" + NameOf(module) + ", " + function + ")");
    if (g_script.realCalls) {
        const FARPROC real = ::GetProcAddress(module, name);
        if (function == "CreateEnvironmentBlock") {
            g_realCreateBlock = Cast<CreateEnvironmentBlockFn>(real);
        } else if (function == "DestroyEnvironmentBlock") {
            g_realDestroyBlock = Cast<DestroyEnvironmentBlockFn>(real);
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
    Record("CreateProcessAsUserW(" + NameOf(token) + ", app=" + Narrow(applicationName) +
           ", cmd=" + Narrow(commandLine) + ", processAttributes=" + NameOf(processAttributes) +
           ", threadAttributes=" + NameOf(threadAttributes) +
           ", inherit=" + std::to_string(inheritHandles) + ", flags=" + Hex(creationFlags) +
           ", env=" + NameOf(environment) + ", dir=" + Narrow(currentDirectory) +
           ", desktop=" + Narrow(startupInfo->lpDesktop) +
           (startupInfo->cb == sizeof(STARTUPINFOW) && startupZeroElsewhere ? ", startup=plain"
                                                                            : ", startup=odd") +
           ")");
    if (g_script.createProcessFails) {
        return FALSE;
    }
    if (!g_script.realCalls) {
        processInfo->hProcess = kFakeProcess;
        processInfo->hThread = kFakeThread;
        return TRUE;
    }
    const BOOL created = ::CreateProcessAsUserW(
        token, applicationName, commandLine, processAttributes, threadAttributes, inheritHandles,
        creationFlags, environment, currentDirectory, startupInfo, processInfo);
    if (created) {
        Name(processInfo->hProcess, "process");
        Name(processInfo->hThread, "thread");
    }
    return created;
}

BOOL CloseHandle(HANDLE handle) {
    Record("CloseHandle(" + NameOf(handle) + ")");
    return g_script.realCalls ? ::CloseHandle(handle) : TRUE;
}

}  // namespace platform
