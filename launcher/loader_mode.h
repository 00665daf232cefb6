#pragma once

// Installs a pending update while the client is not running, then starts the client.
void RunLoader(int argc, char* argv[]);

// True while a loader holds the loader mutex, one that runs with more rights
// than ours included.
bool IsLoaderRunning();
