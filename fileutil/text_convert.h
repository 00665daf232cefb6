#pragma once

#include <string>

// Both conversions first switch the process's LC_CTYPE category to the user's
// default locale and leave it there, so every later runtime call that converts
// text (file names included) uses the same code page.

// Narrow text in the current code page to UTF-16. Input the code page cannot
// convert gives an empty string.
std::wstring StringToWString(std::string text);

// UTF-16 to narrow text in the current code page. A character the code page
// lacks gives an empty string.
std::string WStringToString(std::wstring text);
