#include "base/platform.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

TEST(Platform, BindsEveryFunctionItNamesFromItsLibrary) {
    for (const bool bound :
         {platform::SetDefaultDllDirectories() != nullptr,
          platform::PathRemoveFileSpecW() != nullptr, platform::ShellExecuteExW() != nullptr,
          platform::MessageBoxW() != nullptr, platform::wsprintfW() != nullptr,
          platform::AllowSetForegroundWindow() != nullptr,
          platform::CreateEnvironmentBlock() != nullptr,
          platform::DestroyEnvironmentBlock() != nullptr, platform::CryptQueryObject() != nullptr,
          platform::CryptMsgGetParam() != nullptr, platform::CryptMsgClose() != nullptr,
          platform::CertFindCertificateInStore() != nullptr,
          platform::CertFreeCertificateContext() != nullptr,
          platform::CertDuplicateCertificateContext() != nullptr,
          platform::CertCloseStore() != nullptr, platform::CertCompareCertificateName() != nullptr,
          platform::WinVerifyTrust() != nullptr,
          platform::WTHelperProvDataFromStateData() != nullptr,
          platform::WTHelperGetProvSignerFromChain() != nullptr}) {
        EXPECT_TRUE(bound);
    }
}

std::vector<std::wstring> g_loads;

// As Windows 7 without update KB2533623: the search flag is refused.
HMODULE WINAPI LoadWithoutSearchFlags(LPCWSTR name, HANDLE, DWORD flags) {
    g_loads.push_back(std::wstring(name) + L" " + std::to_wstring(flags));
    if ((flags & LOAD_LIBRARY_SEARCH_SYSTEM32) != 0) {
        ::SetLastError(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    return ::GetModuleHandleW(L"kernel32.dll");
}

TEST(Platform, LoadsByTheSystemPathWhereTheSearchFlagIsRefused) {
    wchar_t systemDir[MAX_PATH + 1] = {};
    ::GetSystemDirectoryW(systemDir, MAX_PATH);
    EXPECT_NE(nullptr, platform::LoadFromSystem32(L"userenv.dll", LoadWithoutSearchFlags));
    // LOAD_WITH_ALTERED_SEARCH_PATH: its own imports are looked for beside it.
    EXPECT_EQ(g_loads, (std::vector<std::wstring>{L"userenv.dll 2048",
                                                  std::wstring(systemDir) + L"\\userenv.dll 8"}));
}

}  // namespace
