// Telling a directory from a file before a program reads it as one: on
// Linux a directory opens for reading and then reads as an empty file, which
// would pass for an input without any record.
#pragma once

// The words every program uses for a directory given where a file belongs,
// after the path: "F is a directory, not a file".
#define HS_ISDIR_TEXT "is a directory, not a file"

// True when path names a directory (following symbolic links).
bool hs_is_directory(const char *path);
