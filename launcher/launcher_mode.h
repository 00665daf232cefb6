#pragma once

// Copies QuorlLaunch.exe to QuorlLoader.exe and starts the copy in loader
// mode. Starts nothing, and logs so, when the copy cannot be made whole or
// another launcher keeps the build lock too long.
void RunLauncher(int argc, char* argv[]);
