/* The work that the launcher must do beyond the floor's, done the cheapest way
 * in plain C: the floor built with it measures what no cut could go below
 * without dropping required work. */
#ifndef QUORL_BENCH_REQUIRED_WORK_H
#define QUORL_BENCH_REQUIRED_WORK_H

#include <windows.h>

/* Before the copy: the log with its first three lines, the eight existence
 * checks, the build mutex and the removal of the old copy. */
void BeginLauncherWork(const wchar_t* copy);
/* The copy's bare file name: the launcher names its loader relative to the
 * working directory, which costs the shell a search of its own. */
const wchar_t* NameForShell(const wchar_t* copy);
/* After the shell has started the copy: the mutex released, the last line. */
void EndLauncherWork(void);
/* The loader's steps before the client: the log and its lines, the checks, the
 * loader mutex, the update check, the client search and probe. */
void BeginLoaderWork(void);
/* The last program started as the loader starts the client: the Safer attempt, the
 * restricted token with the user's defaults and the medium label, the user's
 * environment block from userenv.dll, CreateProcessAsUserW. */
BOOL StartLastProgram(wchar_t* commandLine);

#endif
