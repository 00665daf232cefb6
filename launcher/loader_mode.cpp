#include "launcher/loader_mode.h"

void RunLoader(int /*argc*/, char* /*argv*/[]) {}
