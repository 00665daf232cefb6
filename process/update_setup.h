#pragma once

// Runs the installer at `path` through the shell and waits for its process to
// end, however long it takes. True after an installer ran and was seen to
// end; false when no installer process was started or the wait failed.
bool RunUpdateSetupAndWait(const wchar_t* path);
