#include "launcher/error_message.h"

#include <windows.h>

void ShowErrorMessage(const wchar_t* text) {
    ::MessageBoxW(nullptr, text, L"错误", MB_ICONERROR);
}
