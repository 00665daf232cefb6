/* The work that the launcher must do beyond the floor's, done the cheapest way
 * in plain C: the floor built with it measures what no cut could go below
 * without dropping required work. */
#ifndef QUORL_BENCH_REQUIRED_WORK_H
#define QUORL_BENCH_REQUIRED_WORK_H

#include <windows.h>

/* Before the copy: the log and its first lines, the existence checks, the build
 * mutex, the removal of the old copy. Returns the copy's bare name for the
 * shell, which then searches for it as it does for the launcher's loader. */
const wchar_t* BeginLauncherWork(const wchar_t* copy);
/* After the shell has started the copy: the foreground right handed on, the
 * mutex released, the last line. */
void EndLauncherWork(void);
/* The loader's steps before the client: the log and its lines, the checks, the
 * loader mutex, the update check, the client search and probe. */
void BeginLoaderWork(void);
/* The last program started as the loader starts the client: the Safer attempt,
 * the restricted token, the user's environment block, CreateProcessAsUserW,
 * the foreground right handed on. */
BOOL StartLastProgram(wchar_t* commandLine);

#endif
