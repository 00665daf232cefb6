#include "base/named_mutex.h"

CNamedMutex::CNamedMutex(const wchar_t* name, Access access)
    : m_mutex(access == Access::kCreate ? ::CreateMutexW(nullptr, FALSE, name)
                                        : ::OpenMutexW(SYNCHRONIZE, FALSE, name)) {
    // Read straight after the call: the owner's constructor makes no call.
    const DWORD error = ::GetLastError();
    m_existed = m_mutex.IsValid() ? access == Access::kOpenOnly || error == ERROR_ALREADY_EXISTS
                                  : error == ERROR_ACCESS_DENIED;
}

CNamedMutex::~CNamedMutex() {
    if (m_owned) {
        ::ReleaseMutex(m_mutex.Get());
    }
}

bool CNamedMutex::Lock(DWORD timeoutMs) {
    const DWORD wait = ::WaitForSingleObject(m_mutex.Get(), timeoutMs);
    m_owned = wait == WAIT_OBJECT_0 || wait == WAIT_ABANDONED;
    return m_owned;
}
