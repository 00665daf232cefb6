#pragma once

// Runs "..\update\setup.exe" through the shell and waits for its process to
// end, however long it takes. Returns 0 after an installer ran and ended, and
// 1 when no installer process was started.
int RunUpdateSetupAndWait();
