#pragma once

#include <windows.h>

// Starts the command line under the Safer normal-user token lowered to medium
// integrity, on the interactive desktop, with "..\" as its working directory.
// The buffer must be writable: process creation may change it. True when the
// process was created; no handle to it is kept.
bool StartRestrictedProcess(wchar_t* commandLine);

// Labels the token medium integrity (S-1-16-8192). The caller keeps the token.
bool SetMediumIntegrity(HANDLE token);
