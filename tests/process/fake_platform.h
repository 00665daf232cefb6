#pragma once

// Stand-ins for the entries of base/platform.h that the restricted start and
// the installer's start reach, linked in place of platform.cpp. Tokens,
// processes and threads are real handles (of our own process), so that what
// was left open can be read back.

#include <windows.h>

#include <string>
#include <vector>

namespace fake {

// Which calls fail.
struct Script {
    bool createLevelFails = false;
    bool computeTokenFails = false;
    bool saferTokenUnusable = false;  // an impersonation token, as good as none
    bool saferProcessFails = false;   // process creation refuses the Safer token only
    bool openTokenFails = false;
    bool restrictTokenFails = false;
    bool readGroupsFails = false;
    std::string groups;  // our own token's groups, SIDs apart by blanks; empty: the real ones
    bool allocateSidFails = false;  // every SID: the label's and Administrators'
    bool setLabelFails = false;
    bool setDefaultsFails = false;  // the owner and the default DACL
    bool noUserEnv = false;         // userenv.dll could not be bound
    bool createBlockFails = false;
    bool createProcessFails = false;
    bool installerWaitFails = false;  // the installer's handle cannot be waited on
};

// The id of every process that the stand-in creation makes.
constexpr DWORD kClientProcessId = 4242;

// Forgets earlier calls and follows the script from now on.
void Start(const Script& script);

// What the start did that matters, one line each, handles named by what made
// them ("safer token", "own token", "restricted token", "block"):
// "restrict own token deny-only S-1-5-32-544", "label <token>", "owner <token> <sid>",
// "dacl <token> <sid>:<access> ...", "block <token>",
// "start <token> env=<block|ours> dir=<dir> desktop=<desktop> cmd=<command line>",
// "allow <process id|any>", "shell <file> with|without a box".
const std::vector<std::string>& Calls();

// What is still held, and anything released wrongly: a block destroyed after
// its token was closed, or a release of something never handed out.
std::vector<std::string> Unreleased();

}  // namespace fake
