#pragma once

#include <string>

// Creates every missing directory along a narrow path ("/" or "\"). False at
// the first element that is neither a directory nor creatable.
bool CreateDirectoryPath(std::string path);

// True when a file or a directory exists at the narrow path.
bool PathExists(std::string path);

// Clears the file's read-only attribute; true when it had one and has it no
// longer. Its other attributes stay.
bool ClearReadOnlyAttribute(const wchar_t* path);

// Copy of the path with every "/" turned into "\".
std::string NormalizePathSeparators(std::string path);

// Replaces every occurrence of `from` in `text`; the inserted text is never
// searched again. An empty `from` leaves the text unchanged.
void ReplaceAll(std::string& text, const std::string& from, const std::string& to);
