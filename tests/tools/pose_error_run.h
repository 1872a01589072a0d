// pose_error_run.h - runs the pose_error program and reads its --csv line,
// and writes hand-made cameras as pose logs and truths, for the tool's tests.
//
// Most cameras here look straight down the board's normal from 20 units
// (R = I, the board centre (3.5, 2.5) on the optical axis): every board
// corner then lies at depth 20, and a building corner of height h at depth
// 20 - h (the tallest, predio1, at 14).
//
// Usage:
//     ToolOutput out = runPoseError("poses.csv truth.csv --csv");
//     double median = figure(out, "board_mean_px_median");
#ifndef TESTS_TOOLS_POSE_ERROR_RUN_H
#define TESTS_TOOLS_POSE_ERROR_RUN_H

#include <gtest/gtest.h>
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
#include <vector>

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

// ---------------------------------------------------------------- hand-made files

constexpr double kPi = 3.14159265358979323846;
constexpr double kF = 600.0;               // pixels
constexpr double kFrontalDepth = 20.0;     // world units, board plane
constexpr double kTallestBuilding = 6.0;   // world units, predio1
constexpr double kBoardCentre[2] = {3.5, 2.5};
constexpr double kExact = 1e-9;

struct Cam {
    double f, R[9], T[3];
};

inline Cam frontal() {
    return {kF, {1, 0, 0, 0, 1, 0, 0, 0, 1}, {-kBoardCentre[0], -kBoardCentre[1], kFrontalDepth}};
}

// R about a unit axis by an angle (Rodrigues), times R0.
inline void turn(const double* axis, double degrees, double* R) {
    double a = degrees * kPi / 180, c = std::cos(a), s = std::sin(a), x = axis[0], y = axis[1], z = axis[2];
    const double Q[9] = {c + x * x * (1 - c),     x * y * (1 - c) - z * s, x * z * (1 - c) + y * s,
                         y * x * (1 - c) + z * s, c + y * y * (1 - c),     y * z * (1 - c) - x * s,
                         z * x * (1 - c) - y * s, z * y * (1 - c) + x * s, c + z * z * (1 - c)};
    double out[9];
    for (int r = 0; r < 3; ++r)
        for (int col = 0; col < 3; ++col)
            out[3 * r + col] = Q[3 * r] * R[col] + Q[3 * r + 1] * R[3 + col] + Q[3 * r + 2] * R[6 + col];
    for (int i = 0; i < 9; ++i) R[i] = out[i];
}

// The frontal camera turned about the board's x axis and y axis through the
// board centre, still looking at it from 20 units: a general view.
inline Cam tilted(double aboutXDeg, double aboutYDeg) {
    Cam c = frontal();
    const double xAxis[3] = {1, 0, 0}, yAxis[3] = {0, 1, 0};
    turn(xAxis, aboutXDeg, c.R);
    turn(yAxis, aboutYDeg, c.R);
    // T = d e3 - R G: the target G on the optical axis at depth d.
    const double G[3] = {kBoardCentre[0], kBoardCentre[1], 0};
    for (int r = 0; r < 3; ++r)
        c.T[r] = (r == 2 ? kFrontalDepth : 0.0) - (c.R[3 * r] * G[0] + c.R[3 * r + 1] * G[1] + c.R[3 * r + 2] * G[2]);
    return c;
}

inline double distance(const Cam& c) { return std::hypot(c.T[0], c.T[1], c.T[2]); }

inline std::string cameraFields(const Cam& c) {
    char text[512];
    std::snprintf(text, sizeof text, "%.17g,%.17g,%.17g,%.17g,%.17g,%.17g,%.17g,%.17g,%.17g,%.17g,%.17g,%.17g,%.17g",
                  c.f, c.R[0], c.R[1], c.R[2], c.R[3], c.R[4], c.R[5], c.R[6], c.R[7], c.R[8], c.T[0], c.T[1],
                  c.T[2]);
    return text;
}

inline const char* const kTruthHeader = "frame,f,r1,r2,r3,r4,r5,r6,r7,r8,r9,tx,ty,tz,board_covered\n";
inline const char* const kPosesHeader = "frame,found,f,r1,r2,r3,r4,r5,r6,r7,r8,r9,tx,ty,tz,rms_px,ms_track\n";

inline std::string truthText(const std::vector<Cam>& cams) {
    std::string text = kTruthHeader;
    for (size_t i = 0; i < cams.size(); ++i) text += std::to_string(i) + "," + cameraFields(cams[i]) + ",0\n";
    return text;
}

// One row per camera; `found` empty means found in every frame.
inline std::string posesText(const std::vector<Cam>& cams, const std::vector<bool>& found = {}) {
    std::string text = kPosesHeader;
    for (size_t i = 0; i < cams.size(); ++i) {
        bool f = found.empty() || found[i];
        text += std::to_string(i) + "," + (f ? "1," : "0,") + cameraFields(cams[i]) + (f ? ",0.1" : ",nan") + ",1.5\n";
    }
    return text;
}

class PoseError : public ::testing::Test {
protected:
    void SetUp() override {
        char pattern[] = "/tmp/pose_error_test_XXXXXX";
        ASSERT_NE(mkdtemp(pattern), nullptr);
        dir = pattern;
        poses = dir + "/poses.csv";
        truth = dir + "/truth.csv";
    }
    void TearDown() override { std::filesystem::remove_all(dir); }

    void write(const std::string& path, const std::string& text) {
        std::ofstream(path, std::ios::binary) << text;
    }
    ToolOutput measure(const std::vector<Cam>& estimates, const std::vector<Cam>& trueCams,
                       const std::vector<bool>& found = {}, const std::string& options = "") {
        write(poses, posesText(estimates, found));
        write(truth, truthText(trueCams));
        ToolOutput r = runPoseError(poses + " " + truth + " --csv " + options);
        EXPECT_EQ(r.status, 0) << r.err;
        EXPECT_FALSE(r.figures.empty()) << r.out;
        return r;
    }

    std::string dir, poses, truth;
};

#endif
