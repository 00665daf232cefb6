#include "launcher/launcher_mode.h"

void RunLauncher(int /*argc*/, char* /*argv*/[]) {}
