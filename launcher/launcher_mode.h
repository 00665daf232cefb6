#pragma once

#include <string>

// Copies QuorlLaunch.exe to QuorlLoader.exe and starts the copy in loader
// mode. Starts nothing, and logs so, when the copy cannot be made whole or
// another launcher keeps the build lock too long.
void RunLauncher(int argc, char* argv[]);

// An empty argument, or one with a blank, a tab or a double quote, would be
// lost or split on its way to the loader; it is quoted by the rules that the
// runtime's command-line splitting undoes (backslashes are literal unless they
// precede a double quote). Any other argument passes as it is.
inline std::wstring QuoteArgument(const std::wstring& argument) {
    if (!argument.empty() && argument.find_first_of(L" \t\"") == std::wstring::npos) {
        return argument;
    }
    std::wstring quoted = L"\"";
    std::wstring::size_type backslashes = 0;
    for (const wchar_t c : argument) {
        if (c == L'\\') {
            ++backslashes;
            continue;
        }
        quoted.append(c == L'"' ? (backslashes * 2) + 1 : backslashes, L'\\');
        backslashes = 0;
        quoted += c;
    }
    return quoted.append(backslashes * 2, L'\\') + L'"';
}
