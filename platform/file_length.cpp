// file_length.cpp - fileLength through POSIX fstat (see file_length.h).
#include "file_length.h"

#include <sys/stat.h>

long long fileLength(int descriptor) {
    struct stat status;
    if (descriptor < 0 || fstat(descriptor, &status) != 0) return -1;
    if (!S_ISREG(status.st_mode)) return -1;
    return static_cast<long long>(status.st_size);
}
