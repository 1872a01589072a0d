// atomic_file.cpp - temporary names, rename on success.
#include "atomic_file.h"

#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

PendingFile pendingFile(const std::string& path) {
    size_t slash = path.find_last_of('/');
    std::string folder = slash == std::string::npos ? "" : path.substr(0, slash + 1);
    std::string name = slash == std::string::npos ? path : path.substr(slash + 1);
    size_t dot = name.find_last_of('.');
    std::string stem = dot == std::string::npos || dot == 0 ? name : name.substr(0, dot);
    std::string extension = dot == std::string::npos || dot == 0 ? "" : name.substr(dot);
    return {path, folder + "." + stem + ".partial-" + std::to_string(static_cast<long>(getpid())) + extension};
}

bool commitFile(const PendingFile& f, std::string* error) {
    if (std::rename(f.partialPath.c_str(), f.finalPath.c_str()) == 0) return true;
    *error = "cannot write " + f.finalPath + ": " + std::strerror(errno);
    std::remove(f.partialPath.c_str());
    return false;
}

void discardFile(const PendingFile& f) {
    if (!f.partialPath.empty()) std::remove(f.partialPath.c_str());
}
