#pragma once

// Installs a pending update while the client is not running, then starts the client.
void RunLoader(int argc, char* argv[]);
