#include "process/client_probe.h"

#include <windows.h>

#include "base/named_mutex.h"

namespace {

constexpr wchar_t kClientMutexPrefix[] = L"__Quorl_Mutex__";
constexpr size_t kClientMutexPrefixLength = sizeof kClientMutexPrefix / sizeof(wchar_t) - 1;

}  // namespace

bool IsClientRunning(const std::wstring& suffix) {
    std::wstring name;
    name.reserve(kClientMutexPrefixLength + suffix.size());
    name += kClientMutexPrefix;
    name += suffix;
    // Closed again before returning: the probe never keeps the mutex.
    return CNamedMutex(name.c_str(), CNamedMutex::Access::kCreate).Existed();
}
