// text_file.cpp - the checks before a small text file is parsed.
#include "text_file.h"

#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>

bool readTextFile(const std::string& path, long maxBytes, const char* what, std::string* text,
                  std::string* problem) {
    struct stat facts;
    if (stat(path.c_str(), &facts) != 0) return *problem = std::string("cannot read: ") + std::strerror(errno), false;
    if (S_ISDIR(facts.st_mode)) return *problem = "is a folder", false;
    if (!S_ISREG(facts.st_mode)) return *problem = "is not a regular file", false;
    if (facts.st_size > maxBytes)
        return *problem = "larger than " + std::to_string(maxBytes >> 20) + " MB, not " + what, false;
    if (facts.st_size == 0) return *problem = "empty file", false;
    std::FILE* file = std::fopen(path.c_str(), "rb");
    if (!file) return *problem = std::string("cannot read: ") + std::strerror(errno), false;
    // The file may have changed since: read at most one byte beyond the
    // limit to tell.
    std::string contents(static_cast<size_t>(maxBytes) + 1, '\0');
    size_t read = std::fread(&contents[0], 1, contents.size(), file);
    bool failed = std::ferror(file) != 0;
    std::fclose(file);
    if (failed) return *problem = "cannot read", false;
    if (read > static_cast<size_t>(maxBytes))
        return *problem = "larger than " + std::to_string(maxBytes >> 20) + " MB, not " + what, false;
    if (read == 0) return *problem = "empty file", false;
    contents.resize(read);
    *text = std::move(contents);
    return true;
}

bool nestedTooDeep(const std::string& text, bool xml, int maxDepth, int maxIndent) {
    int depth = 0, deepest = 0;
    for (size_t i = 0; i < text.size(); ++i) {
        if (!xml && (i == 0 || text[i - 1] == '\n')) {
            size_t indentEnd = std::min(text.find_first_not_of(" \t-", i), text.size());
            if (indentEnd - i > static_cast<size_t>(maxIndent)) return true;
        }
        char c = text[i], next = i + 1 < text.size() ? text[i + 1] : '\0';
        if (xml && c == '<') depth += next == '/' ? -1 : next == '?' || next == '!' ? 0 : 1;
        else if (xml && c == '/' && next == '>') --depth;
        else if (!xml && (c == '[' || c == '{')) ++depth;
        else if (!xml && (c == ']' || c == '}')) --depth;
        deepest = std::max(deepest, depth);
    }
    return deepest > maxDepth;
}
