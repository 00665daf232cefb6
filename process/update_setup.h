#pragma once

// Runs "..\update\setup.exe" through the shell and waits for its process to
// end, however long it takes. True after an installer ran and ended, false
// when no installer process was started.
bool RunUpdateSetupAndWait();
