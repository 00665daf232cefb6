#pragma once

#include <string>
#include <vector>

// Appends to `list` the path of every plain file in `directory` whose name
// matches `pattern`, in enumeration order; the path is `directory` followed
// directly by the name, so `directory` should end with a separator. "." and
// ".." and subdirectories are never listed. Depth 1 searches `directory`
// alone, 0 nothing; each further level descends into the subdirectories
// whose names match `pattern`.
void FindFiles(std::wstring directory, std::vector<std::wstring>& list, std::wstring pattern,
               int depth);
