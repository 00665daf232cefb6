#pragma once

#include <string>
#include <vector>

// The client among the paths that the search for "*quorl*.exe" found, each a
// directory followed by a file name: the one named "Quorl.exe" in any case,
// else the first. Empty when nothing was found.
std::wstring ChooseClient(const std::vector<std::wstring>& found);
