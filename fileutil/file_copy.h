#pragma once

#include <string>

// Copies the bytes of `source` over `destination` (narrow names), creating or
// truncating the destination. Both files stay open to other processes while
// the copy runs. Reports nothing: a destination that cannot be opened is left
// as it was, and an unreadable source leaves the destination holding what was
// copied before the failure, possibly nothing.
void CopyFileBytes(std::string source, std::string destination);
