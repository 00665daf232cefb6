#pragma once

// Runs the loader for three or more arguments (argc >= 4), the launcher
// otherwise. Always returns 0.
int RunMainSequence(int argc, char* argv[]);
