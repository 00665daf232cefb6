#pragma once

#include <windows.h>

#include <cstdint>

// Which token a restricted start used, or that none could start the program.
enum class RestrictedStart : std::uint8_t {
    kNotStarted,
    kSaferLevel,          // the token of the Safer normal-user level
    kOwnTokenRestricted,  // our own token, its administrative groups deny-only, no privileges
};

// Starts the command line with reduced rights, on the interactive desktop,
// with "..\" as its working directory: under the Safer normal-user token, or,
// where Safer yields no token that a process can be created with, under a
// restricted copy of our own token that, like Safer's, makes the user the
// owner of new objects and grants them to the user and SYSTEM. Both are
// labelled medium integrity. Never starts the program unrestricted. The
// program gets the show state we were asked for and may come to the front. A
// brief hold of the program's file by another process is waited out. The
// buffer must be writable: process creation may change it. No handle to the
// process is kept.
RestrictedStart StartRestrictedProcess(wchar_t* commandLine);

// Labels the token medium integrity (S-1-16-8192). The caller keeps the token.
bool SetMediumIntegrity(HANDLE token);
