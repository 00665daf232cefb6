#include "base/platform.h"

#include <atomic>
#include <string>

namespace platform {

HMODULE LoadFromSystem32(const wchar_t* library, decltype(&::LoadLibraryExW) const load) {
    const HMODULE module = load(library, nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32);
    if (module != nullptr || ::GetLastError() != ERROR_INVALID_PARAMETER) {
        return module;
    }
    wchar_t systemDir[MAX_PATH + 1] = {};
    const UINT length = ::GetSystemDirectoryW(systemDir, MAX_PATH);
    if (length == 0 || length >= MAX_PATH) {
        return nullptr;
    }
    const std::wstring path = std::wstring(systemDir, length) + L"\\" + library;
    return load(path.c_str(), nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
}

namespace {

// The function from the library, or from `fallback` where the library lacks
// it. A library is never freed: that is what pins it for the process. The
// address goes through void (*)(), the one function type that converts to
// any other without a cast-function-type warning.
template <typename Function>
Function Bind(const wchar_t* library, const char* name, const wchar_t* fallback = nullptr) {
    const HMODULE module = LoadFromSystem32(library);
    const FARPROC address = module == nullptr ? nullptr : ::GetProcAddress(module, name);
    if (address == nullptr && fallback != nullptr) {
        return Bind<Function>(fallback, name);
    }
    return reinterpret_cast<Function>(reinterpret_cast<void (*)()>(address));
}

// A function once bound, null where it is missing. Its members start out as
// constants, so a function-local static of it is set up at compile time: a
// static initialised by the bind itself would need the C++ runtime's guard,
// which alone links its once and wait code (some 3 KB of the image that the
// launcher copies at every start). The launcher binds from its one thread;
// should two threads bind at once, both store the same address, and the
// library stays loaded either way.
template <typename Function>
struct CBinding {
    std::atomic<Function> function{nullptr};
    std::atomic<bool> bound{false};
};

template <typename Function>
Function BindOnce(CBinding<Function>& binding, const wchar_t* library, const char* name,
                  const wchar_t* fallback = nullptr) {
    if (!binding.bound.load(std::memory_order_acquire)) {
        binding.function.store(Bind<Function>(library, name, fallback), std::memory_order_relaxed);
        binding.bound.store(true, std::memory_order_release);
    }
    return binding.function.load(std::memory_order_relaxed);
}

}  // namespace

// The macros name each function once, as its accessor and its export.
// NOLINTNEXTLINE(cppcoreguidelines-macro-usage)
#define QUORL_BIND(library, function)                   \
    decltype(&::function) function() {                  \
        static CBinding<decltype(&::function)> binding; \
        return BindOnce(binding, library, #function);   \
    }
// NOLINTNEXTLINE(cppcoreguidelines-macro-usage)
#define QUORL_IMPORTED(function)       \
    decltype(&::function) function() { \
        return &::function;            \
    }

QUORL_BIND(L"kernel32.dll", SetDefaultDllDirectories)
QUORL_BIND(L"shell32.dll", ShellExecuteExW)
QUORL_BIND(L"user32.dll", MessageBoxW)
QUORL_BIND(L"user32.dll", wsprintfW)
QUORL_BIND(L"user32.dll", AllowSetForegroundWindow)
QUORL_BIND(L"userenv.dll", CreateEnvironmentBlock)
QUORL_BIND(L"userenv.dll", DestroyEnvironmentBlock)
QUORL_BIND(L"crypt32.dll", CryptQueryObject)
QUORL_BIND(L"crypt32.dll", CryptMsgGetParam)
QUORL_BIND(L"crypt32.dll", CryptMsgClose)
QUORL_BIND(L"crypt32.dll", CertFindCertificateInStore)
QUORL_BIND(L"crypt32.dll", CertFreeCertificateContext)
QUORL_BIND(L"crypt32.dll", CertDuplicateCertificateContext)
QUORL_BIND(L"crypt32.dll", CertCloseStore)
QUORL_BIND(L"crypt32.dll", CertCompareCertificateName)
QUORL_BIND(L"wintrust.dll", WinVerifyTrust)
QUORL_BIND(L"wintrust.dll", WTHelperProvDataFromStateData)
QUORL_BIND(L"wintrust.dll", WTHelperGetProvSignerFromChain)

QUORL_IMPORTED(SaferCreateLevel)
QUORL_IMPORTED(SaferComputeTokenFromLevel)
QUORL_IMPORTED(SaferCloseLevel)
QUORL_IMPORTED(OpenProcessToken)
QUORL_IMPORTED(CreateRestrictedToken)
QUORL_IMPORTED(GetTokenInformation)
QUORL_IMPORTED(AllocateAndInitializeSid)
QUORL_IMPORTED(FreeSid)
QUORL_IMPORTED(SetTokenInformation)
QUORL_IMPORTED(CreateProcessAsUserW)

// Windows 8 and later, and Wine, export it from kernelbase, which every
// process has loaded already; Windows 7 from shlwapi alone, whose import of
// user32 brings the window manager, so it is asked for only there.
decltype(&::PathRemoveFileSpecW) PathRemoveFileSpecW() {
    static CBinding<decltype(&::PathRemoveFileSpecW)> binding;
    return BindOnce(binding, L"kernelbase.dll", "PathRemoveFileSpecW", L"shlwapi.dll");
}

}  // namespace platform
