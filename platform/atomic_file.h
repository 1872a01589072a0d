// atomic_file.h - files written under a temporary name beside their final
// one and renamed only once complete, so that a failed or interrupted run
// leaves nothing new under the final name (an earlier file stays as it was).
//
// The temporary name is ".NAME.partial-PID.EXT" in the same folder: the same
// file system for the rename, hidden from a folder's listing, the extension
// kept for writers that pick the format by it (OpenCV's video and picture
// writers), the process's number so that two runs never share one.
//
// Usage:
//     PendingFile f = pendingFile("out/poses.csv");
//     write(f.partialPath);
//     if (!commitFile(f, &error)) fail(error);   // or discardFile(f)
#ifndef PLATFORM_ATOMIC_FILE_H
#define PLATFORM_ATOMIC_FILE_H

#include <string>

struct PendingFile {
    std::string finalPath;
    std::string partialPath;
};

PendingFile pendingFile(const std::string& path);

// Renames the partial file to its final name; false, with the partial file
// removed and one line in *error, when that fails.
bool commitFile(const PendingFile& file, std::string* error);

// Removes the partial file, if any.
void discardFile(const PendingFile& file);

#endif
