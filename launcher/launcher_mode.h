#pragma once

#include <string>

// Copies QuorlLaunch.exe to QuorlLoader.exe and starts the copy in loader mode.
void RunLauncher(int argc, char* argv[]);

// The loader's parameter string: the launcher's first two arguments (default
// "1" and "0"), then "  loader". An argument that is empty or holds a blank, a
// tab or a double quote is quoted, so the loader receives it whole.
std::wstring BuildLoaderParameters(int argc, char* argv[]);
