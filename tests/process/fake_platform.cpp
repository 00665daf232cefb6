#include "fake_platform.h"

#include <sddl.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <iterator>
#include <sstream>
#include <utility>

#include "base/platform.h"
#include "tests/fixtures/fixture_support.h"
#include "tests/support/utf8.h"

namespace {

using fixture::SidText;

fake::Script g_script;
std::vector<std::string> g_calls;
// Everything handed out, by name; the kernel handles are checked for being
// open, the rest are held until released.
std::vector<std::pair<HANDLE, std::string>> g_handles;
std::vector<std::pair<const void*, std::string>> g_held;
std::vector<std::string> g_wrong;
HANDLE g_blockToken = nullptr;

void* const kLevel = reinterpret_cast<void*>(std::uintptr_t{0x1001});
void* const kBlock = reinterpret_cast<void*>(std::uintptr_t{0x1004});

bool IsOpen(HANDLE handle) {
    DWORD flags = 0;
    return ::GetHandleInformation(handle, &flags) != FALSE;
}

HANDLE Handed(HANDLE handle, const char* name) {
    g_handles.emplace_back(handle, name);
    return handle;
}

std::string NameOf(HANDLE handle) {
    const auto found = std::find_if(g_handles.rbegin(), g_handles.rend(),
                                    [&](const auto& entry) { return entry.first == handle; });
    return found == g_handles.rend() ? "unknown" : found->second;
}

void Hold(const void* thing, const std::string& name) {
    g_held.emplace_back(thing, name);
}

void Release(const void* thing) {
    const auto held = std::find_if(g_held.begin(), g_held.end(),
                                   [&](const auto& entry) { return entry.first == thing; });
    if (held == g_held.end()) {
        g_wrong.push_back("released unheld");
    } else {
        g_held.erase(held);
    }
}

// A copy of our own token of the given type, standing in for Safer's.
HANDLE CopyOfOwnToken(TOKEN_TYPE type) {
    HANDLE own = nullptr;
    HANDLE copy = nullptr;
    ::OpenProcessToken(::GetCurrentProcess(), TOKEN_ALL_ACCESS, &own);
    ::DuplicateTokenEx(own, TOKEN_ALL_ACCESS, nullptr, SecurityImpersonation, type, &copy);
    ::CloseHandle(own);
    return Handed(copy, "safer token");
}

HANDLE CopyOf(HANDLE pseudo, const char* name) {
    HANDLE copy = nullptr;
    ::DuplicateHandle(::GetCurrentProcess(), pseudo, ::GetCurrentProcess(), &copy, 0, FALSE,
                      DUPLICATE_SAME_ACCESS);
    return Handed(copy, name);
}

BOOL WINAPI FakeSaferCreateLevel(DWORD, DWORD, DWORD, SAFER_LEVEL_HANDLE* level, LPVOID) {
    // A failed call may still scribble on its output.
    *level = static_cast<SAFER_LEVEL_HANDLE>(kLevel);
    if (g_script.createLevelFails) {
        return FALSE;
    }
    Hold(kLevel, "level");
    return TRUE;
}

BOOL WINAPI FakeSaferComputeTokenFromLevel(SAFER_LEVEL_HANDLE, HANDLE, PHANDLE token, DWORD,
                                           LPVOID) {
    if (g_script.computeTokenFails) {
        *token = reinterpret_cast<HANDLE>(std::uintptr_t{0x1002});
        return FALSE;
    }
    *token = CopyOfOwnToken(g_script.saferTokenUnusable ? TokenImpersonation : TokenPrimary);
    return TRUE;
}

BOOL WINAPI FakeSaferCloseLevel(SAFER_LEVEL_HANDLE level) {
    Release(level);
    return TRUE;
}

BOOL WINAPI FakeOpenProcessToken(HANDLE process, DWORD access, PHANDLE token) {
    if (g_script.openTokenFails || !::OpenProcessToken(process, access, token)) {
        return FALSE;
    }
    Handed(*token, "own token");
    return TRUE;
}

BOOL WINAPI FakeCreateRestrictedToken(HANDLE token, DWORD flags, DWORD disableCount,
                                      PSID_AND_ATTRIBUTES disable, DWORD deleteCount,
                                      PLUID_AND_ATTRIBUTES privileges, DWORD restrictCount,
                                      PSID_AND_ATTRIBUTES restrict, PHANDLE restricted) {
    std::string call = "restrict " + NameOf(token) + " deny-only";
    for (DWORD i = 0; i < disableCount; ++i) {
        call += " " + SidText(disable[i].Sid);
    }
    g_calls.push_back(call);
    if (g_script.restrictTokenFails ||
        !::CreateRestrictedToken(token, flags, disableCount, disable, deleteCount, privileges,
                                 restrictCount, restrict, restricted)) {
        return FALSE;
    }
    Handed(*restricted, "restricted token");
    return TRUE;
}

// The script's groups in place of our own token's, each SID in a slot of
// the largest size.
BOOL WINAPI FakeGetTokenInformation(HANDLE token, TOKEN_INFORMATION_CLASS type, LPVOID info,
                                    DWORD length, PDWORD needed) {
    if (type != TokenGroups || (g_script.groups.empty() && !g_script.readGroupsFails)) {
        return ::GetTokenInformation(token, type, info, length, needed);
    }
    std::istringstream texts(g_script.groups);
    const std::vector<std::string> sids{std::istream_iterator<std::string>(texts), {}};
    const DWORD count = static_cast<DWORD>(sids.size());
    const DWORD head = offsetof(TOKEN_GROUPS, Groups) + count * sizeof(SID_AND_ATTRIBUTES);
    *needed = head + count * SECURITY_MAX_SID_SIZE;
    if (g_script.readGroupsFails || length < *needed) {
        ::SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return FALSE;
    }
    auto* groups = static_cast<TOKEN_GROUPS*>(info);
    groups->GroupCount = count;
    for (DWORD i = 0; i < count; ++i) {
        BYTE* const slot = static_cast<BYTE*>(info) + head + i * SECURITY_MAX_SID_SIZE;
        PSID sid = nullptr;
        ::ConvertStringSidToSidA(sids[i].c_str(), &sid);
        ::CopySid(SECURITY_MAX_SID_SIZE, slot, sid);
        ::LocalFree(sid);
        groups->Groups[i] = {slot, SE_GROUP_ENABLED};
    }
    return TRUE;
}

BOOL WINAPI FakeAllocateAndInitializeSid(PSID_IDENTIFIER_AUTHORITY authority, BYTE count, DWORD s0,
                                         DWORD s1, DWORD s2, DWORD s3, DWORD s4, DWORD s5, DWORD s6,
                                         DWORD s7, PSID* sid) {
    if (g_script.allocateSidFails ||
        !::AllocateAndInitializeSid(authority, count, s0, s1, s2, s3, s4, s5, s6, s7, sid)) {
        return FALSE;
    }
    Hold(*sid, SidText(*sid));
    return TRUE;
}

PVOID WINAPI FakeFreeSid(PSID sid) {
    Release(sid);
    return ::FreeSid(sid);
}

BOOL WINAPI FakeSetTokenInformation(HANDLE token, TOKEN_INFORMATION_CLASS type, LPVOID info,
                                    DWORD length) {
    if (type == TokenIntegrityLevel) {
        const auto* label = static_cast<const TOKEN_MANDATORY_LABEL*>(info);
        const bool whole = length == sizeof *label + ::GetLengthSid(label->Label.Sid);
        g_calls.push_back("label " + NameOf(token) + " " + SidText(label->Label.Sid) +
                          (label->Label.Attributes == SE_GROUP_INTEGRITY && whole ? "" : " odd"));
        return !g_script.setLabelFails;
    }
    g_calls.push_back(
        type == TokenOwner
            ? "owner " + NameOf(token) + " " + SidText(static_cast<TOKEN_OWNER*>(info)->Owner)
            : "dacl " + NameOf(token) + " " +
                  fixture::AllowedTrustees(static_cast<TOKEN_DEFAULT_DACL*>(info)->DefaultDacl));
    return !g_script.setDefaultsFails;
}

BOOL WINAPI FakeCreateEnvironmentBlock(LPVOID* block, HANDLE token, BOOL inherit) {
    g_calls.push_back("block " + NameOf(token) + (inherit ? "" : " without our variables"));
    if (g_script.createBlockFails) {
        return FALSE;
    }
    *block = kBlock;
    g_blockToken = token;
    Hold(kBlock, "block");
    return TRUE;
}

BOOL WINAPI FakeDestroyEnvironmentBlock(LPVOID block) {
    if (!IsOpen(g_blockToken)) {
        g_wrong.push_back("block destroyed after its token was closed");
    }
    Release(block);
    return TRUE;
}

BOOL WINAPI FakeCreateProcessAsUserW(HANDLE token, LPCWSTR, LPWSTR commandLine,
                                     LPSECURITY_ATTRIBUTES, LPSECURITY_ATTRIBUTES, BOOL inherit,
                                     DWORD flags, LPVOID block, LPCWSTR directory,
                                     LPSTARTUPINFOW startup, LPPROCESS_INFORMATION child) {
    // The block is wide text, and the process creation must be told so.
    const bool unicode = (flags & CREATE_UNICODE_ENVIRONMENT) != 0;
    const char* environment = block == nullptr ? (unicode ? "odd" : "ours")
                                               : (unicode && block == kBlock ? "block" : "odd");
    g_calls.push_back("start " + NameOf(token) + " env=" + environment +
                      (inherit ? " inheriting" : "") + " dir=" + test::ToUtf8(directory) +
                      " desktop=" + test::ToUtf8(startup->lpDesktop) +
                      " cmd=" + test::ToUtf8(commandLine));
    if (g_script.createProcessFails ||
        (g_script.saferProcessFails && NameOf(token) == "safer token")) {
        ::SetLastError(ERROR_ACCESS_DENIED);
        return FALSE;
    }
    child->dwProcessId = fake::kClientProcessId;
    child->hProcess = CopyOf(::GetCurrentProcess(), "process");
    child->hThread = CopyOf(::GetCurrentThread(), "thread");
    return TRUE;
}

BOOL WINAPI FakeAllowSetForegroundWindow(DWORD processId) {
    g_calls.push_back(processId == ASFW_ANY ? "allow any" : "allow " + std::to_string(processId));
    return TRUE;
}

BOOL WINAPI FakeShellExecuteExW(SHELLEXECUTEINFOW* info) {
    const bool box = (info->fMask & SEE_MASK_FLAG_NO_UI) == 0;
    g_calls.push_back("shell " + test::ToUtf8(info->lpFile) + (box ? " with" : " without") +
                      " a box");
    // An installer that has ended already.
    info->hProcess = Handed(::CreateEventW(nullptr, TRUE, TRUE, nullptr), "installer");
    HANDLE unwaitable = nullptr;
    if (g_script.installerWaitFails) {
        // Without SYNCHRONIZE the wait fails at once.
        ::DuplicateHandle(::GetCurrentProcess(), info->hProcess, ::GetCurrentProcess(), &unwaitable,
                          EVENT_MODIFY_STATE, FALSE, DUPLICATE_CLOSE_SOURCE);
        info->hProcess = Handed(unwaitable, "installer");
    }
    return TRUE;
}

}  // namespace

namespace fake {

void Start(const Script& script) {
    g_script = script;
    g_calls.clear();
    g_handles.clear();
    g_held.clear();
    g_wrong.clear();
    g_blockToken = nullptr;
}

const std::vector<std::string>& Calls() {
    return g_calls;
}

std::vector<std::string> Unreleased() {
    std::vector<std::string> names = g_wrong;
    for (const auto& handle : g_handles) {
        if (IsOpen(handle.first)) {
            names.push_back(handle.second);
        }
    }
    for (const auto& held : g_held) {
        names.push_back(held.second);
    }
    return names;
}

}  // namespace fake

// The accessors of base/platform.h, each answering with its stand-in; the
// userenv pair is missing when the script says the library cannot be bound.
#define QUORL_FAKE(function, present)               \
    decltype(&::function) platform::function() {    \
        return present ? &Fake##function : nullptr; \
    }

QUORL_FAKE(SaferCreateLevel, true)
QUORL_FAKE(SaferComputeTokenFromLevel, true)
QUORL_FAKE(SaferCloseLevel, true)
QUORL_FAKE(OpenProcessToken, true)
QUORL_FAKE(CreateRestrictedToken, true)
QUORL_FAKE(GetTokenInformation, true)
QUORL_FAKE(AllocateAndInitializeSid, true)
QUORL_FAKE(FreeSid, true)
QUORL_FAKE(SetTokenInformation, true)
QUORL_FAKE(CreateProcessAsUserW, true)
QUORL_FAKE(CreateEnvironmentBlock, !g_script.noUserEnv)
QUORL_FAKE(DestroyEnvironmentBlock, !g_script.noUserEnv)
QUORL_FAKE(AllowSetForegroundWindow, true)
QUORL_FAKE(ShellExecuteExW, true)
