#pragma once

#include <windows.h>

// True when the installer may run as far as signatures go. A running
// executable that carries no signature (a developer build) demands nothing.
// One that carries a signature demands of the installer an Authenticode
// signature that verifies, without network access, and a signer certificate
// with the same subject as its own, so that updates go on across a renewed
// certificate.
// The caller keeps `installer`, an open read handle to the file at
// `installerPath` that shares reading only, until the installer has run:
// the file can then be neither changed nor renamed between the check and
// the run. The signature is read through that handle, once. An invalid
// handle fails the check of a signed executable.
bool InstallerPassesSignatureCheck(HANDLE installer, const wchar_t* installerPath);
