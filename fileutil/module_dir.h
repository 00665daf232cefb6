#pragma once

#include <string>

// Full path of the running executable; empty when it does not fit the
// classic path limit.
std::wstring GetModuleFilePathW();

// Directory of the running executable, without a trailing backslash unless it
// is a drive root.
std::wstring GetModuleDirW();

// ANSI code page form of GetModuleDirW().
std::string GetModuleDirA();

// Makes the executable's directory the working directory; false when there
// is none to be had or it cannot be entered. `narrowDir` gets its narrow form
// either way, for the log.
bool SetCurrentDirToModuleDir(std::string& narrowDir);

// Narrows through the ANSI code page; characters the code page lacks become
// its default character.
std::string WideToAnsi(const wchar_t* text);
