#pragma once
// A file that one writer at a time may hold, across processes: a capture's log file,
// which a second capture (another window, another program) must never empty or write
// over while the first one writes it.

#include <cstdio>

// Opens path as std::fopen does with a writing mode ("wt", "at", "w", "a+", ...), but
// fails, null with nothing changed, while another opener of this function holds the
// file; a "w" mode empties the file only once it is held. Devices (/dev/null) are
// never held, and where the file system has no locks the file opens as with fopen.
// Released by fclose. Any thread.
FILE* OpenExclusiveFile(const char* path, const char* mode);
