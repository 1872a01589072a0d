// csv_fields.cpp - splitting CSV lines, strict numbers, columns by name.
#include "csv_fields.h"

#include <cerrno>
#include <cmath>
#include <cstdlib>

std::vector<std::string> splitCsvFields(const std::string& line) {
    std::vector<std::string> fields;
    size_t start = 0;
    for (;;) {
        size_t comma = line.find(',', start);
        fields.push_back(line.substr(start, comma == std::string::npos ? std::string::npos : comma - start));
        if (comma == std::string::npos) return fields;
        start = comma + 1;
    }
}

bool parseCsvNumber(const std::string& text, double* value) {
    if (text.empty()) return false;
    char* end = nullptr;
    errno = 0;
    double v = std::strtod(text.c_str(), &end);
    if (*end != '\0' || errno == ERANGE || !std::isfinite(v)) return false;
    *value = v;
    return true;
}

int csvColumn(const std::vector<std::string>& header, const char* name) {
    for (size_t i = 0; i < header.size(); ++i)
        if (header[i] == name) return static_cast<int>(i);
    return -1;
}
