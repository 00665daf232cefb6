#pragma once

#include <string>

// Full path of the running executable.
std::wstring GetModuleFilePathW();

// Directory of the running executable, without a trailing backslash unless it
// is a drive root.
std::wstring GetModuleDirW();

// ANSI code page form of GetModuleDirW().
std::string GetModuleDirA();

// Makes the executable's directory the working directory and returns its
// narrow form.
std::string SetCurrentDirToModuleDir();

// Narrows through the ANSI code page; characters the code page lacks become
// its default character.
std::string WideToAnsi(const wchar_t* text);
