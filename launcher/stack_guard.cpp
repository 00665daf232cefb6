// Linked into QuorlLaunch by the GNU toolchains only (cmake/QuorlRelease.cmake),
// in place of the stack protector's runtime, libssp. libssp seeds its guard in a
// constructor through CryptAcquireContextA, which loads the cryptographic provider
// and three DLLs into the launcher and again into the loader at every start: a
// fifth of a start's time under Wine. Seeded here as MSVC seeds its /GS cookie, from
// clocks, ids and an address that differ at every start, nothing is loaded. MSVC
// builds have their own cookie and never compile this file.

#include <windows.h>

#include <cstdint>

extern "C" {

// The compilers' own names, which protected code reads and calls. Seeded below;
// until then the value MSVC starts its cookie with.
// NOLINTNEXTLINE(bugprone-reserved-identifier,cppcoreguidelines-avoid-non-const-global-variables)
std::uintptr_t __stack_chk_guard = 0x00002B992DDFA232;

// Whatever overran the stack may steer it now, so nothing of ours runs again:
// no handler, no destructor, no log line. A debugger hears why.
// NOLINTNEXTLINE(bugprone-reserved-identifier)
[[noreturn]] void __stack_chk_fail() {
    ::OutputDebugStringA("QuorlLaunch: stack smashing detected");
    if (::IsProcessorFeaturePresent(PF_FASTFAIL_AVAILABLE)) {
        // __fastfail, which the mingw-w64 headers lack: the code in rcx.
        __asm__ volatile("int $0x29" : : "c"(FAST_FAIL_STACK_COOKIE_CHECK_FAILURE));
    }
    ::TerminateProcess(::GetCurrentProcess(), STATUS_STACK_BUFFER_OVERRUN);
    __builtin_unreachable();
}

}  // extern "C"

namespace {

// Before every other constructor, and itself unprotected: it changes the value
// that its own check would compare.
__attribute__((constructor(101), no_stack_protector)) void SeedStackGuard() {
    FILETIME now = {};
    ::GetSystemTimeAsFileTime(&now);
    LARGE_INTEGER counter = {};
    ::QueryPerformanceCounter(&counter);
    std::uintptr_t seed = (std::uintptr_t{now.dwHighDateTime} << 32U) ^ now.dwLowDateTime;
    seed ^= static_cast<std::uintptr_t>(counter.QuadPart) ^
            (static_cast<std::uintptr_t>(counter.QuadPart) << 32U);
    seed ^= ::GetCurrentProcessId() ^ (std::uintptr_t{::GetCurrentThreadId()} << 32U);
    // The stack's own place, which address space layout randomisation moves.
    seed ^= reinterpret_cast<std::uintptr_t>(&seed);
    __stack_chk_guard = seed;
}

}  // namespace
