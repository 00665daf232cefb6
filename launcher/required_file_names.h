/* The files an installation keeps beside the launcher, in the order the
 * launcher checks them. Plain C, so that the benchmark reads it as it is;
 * the scripts take the quoted names from it. PREFIX is empty for narrow
 * names and L"" for wide ones. */
#ifndef QUORL_LAUNCHER_REQUIRED_FILE_NAMES_H
#define QUORL_LAUNCHER_REQUIRED_FILE_NAMES_H

/* clang-format off */
#define QUORL_REQUIRED_FILE_NAMES(PREFIX) \
    PREFIX "Quorl.exe",                   \
    PREFIX "sqlite3.dll",                 \
    PREFIX "log4cpp.dll",                 \
    PREFIX "mailcore2.dll",               \
    PREFIX "libetpan.dll",                \
    PREFIX "uchardet.dll",                \
    PREFIX "Tolvane.dll",                 \
    PREFIX "ovank.dll"
/* clang-format on */

#endif
