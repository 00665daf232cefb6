#include "launcher/error_message.h"

#include <windows.h>

#include "base/platform.h"

void ShowErrorMessage(const wchar_t* text) {
    const auto messageBox = platform::MessageBoxW();
    if (messageBox != nullptr) {
        // A box without owner from a windowless background process may open
        // behind other windows, where nobody closes it while the loader holds
        // its mutex: system-modal makes it topmost, and it asks for the front.
        // OK, or no box at all (no desktop): either way there is no one else to tell.
        messageBox(nullptr, text, L"错误", MB_ICONERROR | MB_SYSTEMMODAL | MB_SETFOREGROUND);
    }
}
