#pragma once

// The one way to the system beyond kernel32's import table. Each function is
// named once, in platform.cpp; its accessor here returns it typed as the
// system declares it. Bound on first use, from System32 only, and null where
// this Windows lacks it or its library: a library that is not a KnownDLL is
// otherwise looked for beside the executable first, where a per-user
// installation lets the user plant one, and an import of shell32 or user32
// sets up the window manager before main in every process. A library once
// bound stays for the process, as an import would: code it started, a shell
// thread say, may still run in it. The imported advapi32 functions of the
// restricted start pass through here too, so that a test build can link
// stand-ins in place of platform.cpp.

#include <windows.h>
#include <shellapi.h>
#include <shlwapi.h>
#include <userenv.h>
#include <wincrypt.h>
#include <winsafer.h>
#include <wintrust.h>

namespace platform {

// Windows 7 has it only with update KB2533623.
decltype(&::SetDefaultDllDirectories) SetDefaultDllDirectories();
decltype(&::PathRemoveFileSpecW) PathRemoveFileSpecW();

decltype(&::ShellExecuteExW) ShellExecuteExW();
decltype(&::MessageBoxW) MessageBoxW();
decltype(&::AllowSetForegroundWindow) AllowSetForegroundWindow();
decltype(&::wsprintfW) wsprintfW();

decltype(&::CreateEnvironmentBlock) CreateEnvironmentBlock();
decltype(&::DestroyEnvironmentBlock) DestroyEnvironmentBlock();

decltype(&::CryptQueryObject) CryptQueryObject();
decltype(&::CryptMsgGetParam) CryptMsgGetParam();
decltype(&::CryptMsgClose) CryptMsgClose();
decltype(&::CertFindCertificateInStore) CertFindCertificateInStore();
decltype(&::CertFreeCertificateContext) CertFreeCertificateContext();
decltype(&::CertDuplicateCertificateContext) CertDuplicateCertificateContext();
decltype(&::CertCloseStore) CertCloseStore();
decltype(&::CertCompareCertificateName) CertCompareCertificateName();
decltype(&::WinVerifyTrust) WinVerifyTrust();
decltype(&::WTHelperProvDataFromStateData) WTHelperProvDataFromStateData();
decltype(&::WTHelperGetProvSignerFromChain) WTHelperGetProvSignerFromChain();

// Imported: never null.
decltype(&::SaferCreateLevel) SaferCreateLevel();
decltype(&::SaferComputeTokenFromLevel) SaferComputeTokenFromLevel();
decltype(&::SaferCloseLevel) SaferCloseLevel();
decltype(&::OpenProcessToken) OpenProcessToken();
decltype(&::CreateRestrictedToken) CreateRestrictedToken();
decltype(&::GetTokenInformation) GetTokenInformation();
decltype(&::AllocateAndInitializeSid) AllocateAndInitializeSid();
decltype(&::FreeSid) FreeSid();
decltype(&::SetTokenInformation) SetTokenInformation();
decltype(&::CreateProcessAsUserW) CreateProcessAsUserW();

// Loads a library from System32 only. Windows 7 without update KB2533623
// refuses the search flag; there the full path keeps to System32, and the
// library's own imports are looked for beside it. `load` is LoadLibraryExW.
HMODULE LoadFromSystem32(const wchar_t* library,
                         decltype(&::LoadLibraryExW) load = ::LoadLibraryExW);

}  // namespace platform
