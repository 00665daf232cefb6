#pragma once

#include <string>

// True while a process holds the client mutex "__Quorl_Mutex__" + suffix.
// The probe neither makes nor keeps the mutex.
bool IsClientRunning(const std::wstring& suffix);
