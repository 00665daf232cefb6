#pragma once

// Copies QuorlLaunch.exe to QuorlLoader.exe and starts the copy in loader mode.
void RunLauncher(int argc, char* argv[]);
