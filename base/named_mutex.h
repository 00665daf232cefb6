#pragma once

#include <windows.h>

#include <cstdint>

#include "base/scoped_handle.h"

// A named mutex, and whether it was there before us: a mutex that a process
// with more rights than ours made may be denied to us, which proves just as
// well that it exists. Owned, it is given back when this ends.
class CNamedMutex {
public:
    enum class Access : std::uint8_t {
        kCreate,    // made when missing, open to every interactive user's process, not taken
        kOpenOnly,  // never made: asking must not stand in for its owner
    };

    CNamedMutex(const wchar_t* name, Access access);
    ~CNamedMutex();
    CNamedMutex(const CNamedMutex&) = delete;
    CNamedMutex& operator=(const CNamedMutex&) = delete;

    bool Existed() const noexcept { return m_existed; }
    bool IsValid() const noexcept { return m_mutex.IsValid(); }

    // Waits up to `timeoutMs` to own it; `status`, when given, gets the wait's result, which
    // tells a lock held elsewhere (WAIT_TIMEOUT) from a failed wait. An owner that ended
    // without giving it back (WAIT_ABANDONED) leaves it to us all the same.
    bool Lock(DWORD timeoutMs, DWORD* status = nullptr);

    // Held, never closed: the system releases it when the process ends.
    void KeepUntilProcessEnds() noexcept { m_mutex.Release(); }

private:
    CScopedKernelHandle m_mutex;
    bool m_existed = false;
    bool m_owned = false;
};
