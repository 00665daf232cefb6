#pragma once

#include <windows.h>

// An address from GetProcAddress as the function type it really has, null
// when the export is missing. Through void (*)(): the one function type that
// converts to any other without a cast-function-type warning.
template <typename Function>
Function AsFunction(FARPROC address) noexcept {
    return reinterpret_cast<Function>(reinterpret_cast<void (*)()>(address));
}
