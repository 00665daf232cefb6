#include "launcher/error_message.h"

#include <windows.h>

#include "base/function_address.h"
#include "process/system_library.h"

void ShowErrorMessage(const wchar_t* text) {
    const auto messageBox =
        AsFunction<decltype(&::MessageBoxW)>(GetSystemFunction(L"user32.dll", "MessageBoxW"));
    if (messageBox != nullptr) {
        messageBox(nullptr, text, L"错误", MB_ICONERROR);
    }
}
