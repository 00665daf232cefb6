/* The files an installation keeps beside the launcher, in the order the
 * launcher checks them. Plain C, so that the benchmark reads it as it is;
 * the scripts take the quoted names from it. */
#ifndef QUORL_LAUNCHER_REQUIRED_FILE_NAMES_H
#define QUORL_LAUNCHER_REQUIRED_FILE_NAMES_H

static const char* const kRequiredFileNames[] = {
    "Quorl.exe",    "sqlite3.dll",  "log4cpp.dll", "mailcore2.dll",
    "libetpan.dll", "uchardet.dll", "Tolvane.dll", "ovank.dll",
};

#endif
