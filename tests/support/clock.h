#pragma once

// The clock, and the wait for a condition that no event or handle announces.
// Header-only, so that the fixture programs, which do not link the test
// support, share them too.

#include <windows.h>

#include <cstdint>

namespace test {

// UTC now in 100-ns units since 1601, comparable across processes.
inline std::uint64_t Now() {
    FILETIME now = {};
    ::GetSystemTimeAsFileTime(&now);
    return (static_cast<std::uint64_t>(now.dwHighDateTime) << 32) | now.dwLowDateTime;
}

constexpr std::uint64_t kNowTicksPerMs = 10000;

// Asks `condition` every `pauseMs` until it holds; false when it still did
// not after `timeoutMs`.
template <typename Condition>
bool WaitUntil(Condition condition, DWORD timeoutMs, DWORD pauseMs = 20) {
    const ULONGLONG deadline = ::GetTickCount64() + timeoutMs;
    while (!condition()) {
        if (::GetTickCount64() >= deadline) {
            return false;
        }
        ::Sleep(pauseMs);
    }
    return true;
}

}  // namespace test
