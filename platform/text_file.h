// text_file.h - reading a small text file a user names (a camera file, a
// scene), whatever it is: a folder, a device, a pipe or a file far larger
// than such a file can be is refused with a reason before it is read, and
// a text nested deeper than such a file needs is told apart before a
// recursive parser overflows its stack on it.
//
// Usage:
//     std::string text, problem;
//     if (!readTextFile(path, 1 << 20, "a scene file", &text, &problem)) fail(path + ": " + problem);
//     if (nestedTooDeep(text, false, 32, 256)) fail(path + ": nested too deeply");
#ifndef PLATFORM_TEXT_FILE_H
#define PLATFORM_TEXT_FILE_H

#include <string>

// The whole of a regular file of 1 to maxBytes bytes. False with a reason:
// "cannot read: <why>", "is a folder", "is not a regular file", "empty file"
// or "larger than N MB, not <what>" (maxBytes a whole number of MB).
bool readTextFile(const std::string& path, long maxBytes, const char* what, std::string* text,
                  std::string* problem);

// Whether the text opens more than maxDepth levels, or indents a line by
// more than maxIndent characters. XML: elements open minus elements closed.
// YAML and JSON: brackets open minus closed, and each line's indentation and
// leading "- " (block nesting).
bool nestedTooDeep(const std::string& text, bool xml, int maxDepth, int maxIndent);

#endif
