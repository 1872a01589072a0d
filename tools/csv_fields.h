// csv_fields.h - the few pieces every reader of the project's CSV files
// (pose logs, ground truth) needs: a line split at its commas, a number read
// strictly, a column found by its header name.
//
// Usage:
//     std::vector<std::string> header = splitCsvFields(firstLine);
//     int f = csvColumn(header, "f");                 // -1: no such column
//     double value;
//     if (f >= 0 && parseCsvNumber(splitCsvFields(line)[f], &value)) use(value);
#ifndef TOOLS_CSV_FIELDS_H
#define TOOLS_CSV_FIELDS_H

#include <string>
#include <vector>

// The fields between commas, empty ones included ("a,,b" gives three).
std::vector<std::string> splitCsvFields(const std::string& line);

// True with the value when the whole text is one finite number.
bool parseCsvNumber(const std::string& text, double* value);

// The index of the first column with this name, or -1.
int csvColumn(const std::vector<std::string>& header, const char* name);

#endif
