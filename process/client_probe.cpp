#include "process/client_probe.h"

#include <windows.h>

#include "base/scoped_handle.h"

namespace {

constexpr wchar_t kClientMutexPrefix[] = L"__Quorl_Mutex__";
constexpr size_t kClientMutexPrefixLength = sizeof kClientMutexPrefix / sizeof(wchar_t) - 1;

}  // namespace

bool IsClientRunning(const std::wstring& suffix) {
    std::wstring name;
    name.reserve(kClientMutexPrefixLength + suffix.size());
    name += kClientMutexPrefix;
    name += suffix;

    // The handle owner keeps the last error when it closes, so the read below
    // belongs to CreateMutexW whatever happens to the handle.
    const CScopedKernelHandle mutex(::CreateMutexW(nullptr, FALSE, name.c_str()));
    const DWORD error = ::GetLastError();
    if (error == ERROR_ALREADY_EXISTS) {
        return true;
    }
    // A client running with more rights than ours may deny us its mutex; the
    // refusal still proves that the mutex exists.
    return !mutex.IsValid() && error == ERROR_ACCESS_DENIED;
}
