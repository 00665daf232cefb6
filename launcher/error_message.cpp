#include "launcher/error_message.h"

#include <windows.h>

#include "process/system_function.h"

void ShowErrorMessage(const wchar_t* text) {
    const auto messageBox =
        GetSystemFunction<decltype(&::MessageBoxW)>(L"user32.dll", "MessageBoxW");
    if (messageBox != nullptr) {
        messageBox(nullptr, text, L"错误", MB_ICONERROR);
    }
}
