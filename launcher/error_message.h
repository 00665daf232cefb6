#pragma once

// The user sees failures only this way: a box without owner window, captioned
// "错误", with the error icon and a single OK button, topmost and in front.
// Returns once it is closed.
void ShowErrorMessage(const wchar_t* text);
