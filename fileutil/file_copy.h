#pragma once

#include <windows.h>

#include <string>

// Copies the bytes of `source` over `destination` (narrow names), creating or
// truncating the destination. Both files stay open to other processes while
// the copy runs. ERROR_SUCCESS only when the whole source reached the
// destination: the source was read to its end, every byte was written and the
// destination was closed without error. A file that cannot be opened gives
// the system's error of the open (the destination's when both fail), a failed
// read ERROR_READ_FAULT, a failed write ERROR_WRITE_FAULT. A destination that
// cannot be opened is left as it was; otherwise a failed copy leaves in it
// what was written before the failure, possibly nothing.
DWORD CopyFileBytes(std::string source, std::string destination);

// True when both files (narrow names) could be read to their ends and hold
// the same bytes. Other processes may read and write them meanwhile.
bool FilesHaveSameBytes(const std::string& first, const std::string& second);
