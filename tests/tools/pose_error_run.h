// pose_error_run.h - runs the pose_error program and reads its --csv line,
// for the tool's tests.
//
// Usage:
//     ToolOutput out = runPoseError("poses.csv truth.csv --csv");
//     double median = figure(out, "board_mean_px_median");
#ifndef TESTS_TOOLS_POSE_ERROR_RUN_H
#define TESTS_TOOLS_POSE_ERROR_RUN_H

#include <sys/wait.h>
#include <unistd.h>

#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <sstream>
#include <string>

struct ToolOutput {
    int status;  // exit status; -1 when the program did not exit normally
    std::string out, err;
    std::map<std::string, double> figures;  // the --csv line, by column name
};

inline std::string readWholeFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// Header line and value line of --csv output, by column; empty when the
// output is not two lines of equal field counts.
inline std::map<std::string, double> parseFigures(const std::string& out) {
    std::istringstream lines(out);
    std::string header, values, extra;
    std::map<std::string, double> figures;
    if (!std::getline(lines, header) || !std::getline(lines, values) || std::getline(lines, extra)) return figures;
    std::istringstream names(header), numbers(values);
    std::string name, number;
    while (std::getline(names, name, ',')) {
        if (!std::getline(numbers, number, ',')) return {};
        figures[name] = std::strtod(number.c_str(), nullptr);
    }
    return figures;
}

inline ToolOutput runPoseError(const std::string& arguments) {
    namespace fs = std::filesystem;
    std::string stem = (fs::temp_directory_path() / ("pose_error_run_" + std::to_string(getpid()))).string();
    std::string command = std::string(POSE_ERROR) + " " + arguments + " >" + stem + ".out 2>" + stem + ".err";
    int status = std::system(command.c_str());
    ToolOutput r;
    r.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    r.out = readWholeFile(stem + ".out");
    r.err = readWholeFile(stem + ".err");
    fs::remove(stem + ".out");
    fs::remove(stem + ".err");
    r.figures = parseFigures(r.out);
    return r;
}

// A figure of the --csv line; NaN when the column is missing.
inline double figure(const ToolOutput& r, const std::string& name) {
    auto it = r.figures.find(name);
    return it == r.figures.end() ? NAN : it->second;
}

#endif
