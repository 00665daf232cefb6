#pragma once

// The platform calls of the restricted launch, reached through one namespace
// so that a test build can put recording stand-ins in their place. The
// shipped build maps every name straight to the Windows function.

#include <windows.h>
#include <winsafer.h>

#ifdef QUORL_FAKE_PLATFORM_CALLS
#include "fake_platform_calls.h"
#else
namespace platform {
using ::AddAccessAllowedAce;
using ::AllocateAndInitializeSid;
using ::CloseHandle;
using ::CreateProcessAsUserW;
using ::CreateRestrictedToken;
using ::FreeLibrary;
using ::FreeSid;
using ::GetLengthSid;
using ::GetProcAddress;
using ::GetTokenInformation;
using ::InitializeAcl;
using ::LoadLibraryExW;
using ::OpenProcessToken;
using ::SaferCloseLevel;
using ::SaferComputeTokenFromLevel;
using ::SaferCreateLevel;
using ::SetTokenInformation;
}  // namespace platform
#endif
