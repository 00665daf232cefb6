#include "base/named_mutex.h"

#include <sddl.h>

namespace {

// SYSTEM and Administrators may do anything with it. Every interactive user's
// process, elevated or not, may wait on it and give it back once it owns it,
// as launchers started by a setup and by the user must, but neither read nor
// change its DACL or owner (0x1f0001: MUTEX_ALL_ACCESS; 0x100001: what we use).
const wchar_t kSharedMutexSddl[] = L"D:(A;;0x1f0001;;;SY)(A;;0x1f0001;;;BA)(A;;0x100001;;;IU)";
// No more than we use: asking for all access, as CreateMutexW does, fails on
// one that a process with other rights made.
constexpr DWORD kUsedAccess = SYNCHRONIZE | MUTEX_MODIFY_STATE;

using CScopedDescriptor = CScopedNullable<PSECURITY_DESCRIPTOR, ::LocalFree>;

HANDLE CreateSharedMutex(const wchar_t* name) {
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    // Without it (out of memory), the mutex gets our token's default DACL as before.
    ::ConvertStringSecurityDescriptorToSecurityDescriptorW(kSharedMutexSddl, SDDL_REVISION_1,
                                                           &descriptor, nullptr);
    const CScopedDescriptor freed(descriptor);
    SECURITY_ATTRIBUTES attributes = {sizeof attributes, descriptor, FALSE};
    return ::CreateMutexExW(&attributes, name, 0, kUsedAccess);
}

}  // namespace

CNamedMutex::CNamedMutex(const wchar_t* name, Access access)
    : m_mutex(access == Access::kCreate ? CreateSharedMutex(name)
                                        : ::OpenMutexW(SYNCHRONIZE, FALSE, name)) {
    // Read straight after the call: the owner's constructor and the freed
    // descriptor keep the last error.
    const DWORD error = ::GetLastError();
    m_existed = m_mutex.IsValid() ? access == Access::kOpenOnly || error == ERROR_ALREADY_EXISTS
                                  : error == ERROR_ACCESS_DENIED;
}

CNamedMutex::~CNamedMutex() {
    // Kept, it is the system's to give back; owned, this thread's to release.
    if (m_owned && m_mutex.IsValid()) {
        ::ReleaseMutex(m_mutex.Get());
    }
}

bool CNamedMutex::Lock(DWORD timeoutMs, DWORD* status) {
    const DWORD wait = ::WaitForSingleObject(m_mutex.Get(), timeoutMs);
    m_owned = wait == WAIT_OBJECT_0 || wait == WAIT_ABANDONED;
    if (status != nullptr) {
        *status = wait;
    }
    return m_owned;
}
