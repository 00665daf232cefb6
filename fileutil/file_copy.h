#pragma once

#include <string>

// Copies the bytes of `source` over `destination` (narrow names), creating or
// truncating the destination. Both files stay open to other processes while
// the copy runs. True only when the whole source reached the destination: the
// source was read to its end, every byte was written and the destination was
// closed without error. A destination that cannot be opened is left as it
// was; otherwise a failed copy leaves in it what was written before the
// failure, possibly nothing.
bool CopyFileBytes(std::string source, std::string destination);
