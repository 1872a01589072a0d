// file_length.h - the length of an open file, from its descriptor.
//
// POSIX fstat stands in for the C runtime's _filelength on other systems. Works
// for regular files; pipes and terminals have no length and give -1.
//
// Usage:
//     FILE* file = std::fopen(path, "rb");
//     long long length = fileLength(fileno(file));   // -1 on failure
#ifndef PLATFORM_FILE_LENGTH_H
#define PLATFORM_FILE_LENGTH_H

// Bytes in the open file with this descriptor, or -1 if it has no length.
long long fileLength(int descriptor);

#endif
