#include "launcher/error_message.h"

#include <windows.h>

#include "base/platform.h"

void ShowErrorMessage(const wchar_t* text) {
    const auto messageBox = platform::MessageBoxW();
    if (messageBox != nullptr) {
        messageBox(nullptr, text, L"错误", MB_ICONERROR);
    }
}
