#include "process/client_probe.h"

#include <windows.h>

#include "base/named_mutex.h"

namespace {

constexpr wchar_t kClientMutexPrefix[] = L"__Quorl_Mutex__";
constexpr size_t kClientMutexPrefixLength = (sizeof kClientMutexPrefix / sizeof(wchar_t)) - 1;

}  // namespace

bool IsClientRunning(const std::wstring& suffix) {
    std::wstring name;
    name.reserve(kClientMutexPrefixLength + suffix.size());
    name += kClientMutexPrefix;
    name += suffix;
    // Never made: a client starting at that moment would find its own mutex
    // there already and take itself for a second instance.
    return CNamedMutex(name.c_str(), CNamedMutex::Access::kOpenOnly).Existed();
}
