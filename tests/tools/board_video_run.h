// board_video_run.h - runs the make_board_video program and reads what it
// writes, for its tests: the truth CSV's rows, pixels of world points through
// a row's camera and lens (OpenCV's projection), and the buildings as the
// viewer draws them, to tell whether they hide a point from a camera.
//
// Usage:
//     int status = runTool("--frames 2 --video " + folder + "/a.avi", &errors);
//     std::vector<Truth> rows = readTruth(truthPathOf(folder + "/a.avi"), &header);
#ifndef TESTS_TOOLS_BOARD_VIDEO_RUN_H
#define TESTS_TOOLS_BOARD_VIDEO_RUN_H

#include <gtest/gtest.h>
#include <opencv2/calib3d.hpp>
#include <sys/wait.h>
#include <unistd.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "tsai.h"

inline const std::string kTool = MAKE_BOARD_VIDEO;
constexpr double kPi = 3.14159265358979323846;

// One row of the truth CSV.
struct Truth {
    int frame;
    double f, R[9], T[3];
    bool covered;
    double fy, cx, cy, k[5];  // the lens: k1 k2 p1 p2 k3
};

struct Vec3 {
    double x, y, z;
};

inline std::string truthPathOf(const std::string& video) { return video.substr(0, video.size() - 4) + "_truth.csv"; }

// Runs the tool with the given arguments; returns its exit status and what
// it wrote on standard error.
inline int runTool(const std::string& arguments, std::string* errors = nullptr) {
    std::string errorFile = std::filesystem::temp_directory_path() / ("board_video_err_" + std::to_string(getpid()));
    std::string command = kTool + " " + arguments + " >/dev/null 2>" + errorFile;
    int status = std::system(command.c_str());
    std::ifstream in(errorFile);
    if (errors) errors->assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    std::filesystem::remove(errorFile);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

inline std::vector<Truth> readTruth(const std::string& path, std::string* header) {
    std::vector<Truth> rows;
    std::ifstream in(path);
    std::string line;
    std::getline(in, *header);
    while (std::getline(in, line)) {
        Truth t;
        int covered = -1;
        int n = std::sscanf(line.c_str(),
                            "%d,%lf,%lf,%lf,%lf,%lf,%lf,%lf,%lf,%lf,%lf,%lf,%lf,%lf,%d,%lf,%lf,%lf,%lf,%lf,%lf,%lf,%lf",
                            &t.frame, &t.f, &t.R[0], &t.R[1], &t.R[2], &t.R[3], &t.R[4], &t.R[5], &t.R[6], &t.R[7],
                            &t.R[8], &t.T[0], &t.T[1], &t.T[2], &covered, &t.fy, &t.cx, &t.cy, &t.k[0], &t.k[1], &t.k[2],
                            &t.k[3], &t.k[4]);
        EXPECT_EQ(n, 23) << line;
        EXPECT_TRUE(covered == 0 || covered == 1) << line;
        t.covered = covered == 1;
        rows.push_back(t);
    }
    return rows;
}

// ---- the buildings, as the viewer draws them: corner tables in the board
// frame (x, y, z) = world (X, -Z, Y), five faces split into fans.

constexpr double kBuildings[2][8][3] = {
    {{2.0, 0.0, 8.2}, {2.0, 6.0, 8.2}, {2.0, 6.0, 12.4}, {2.0, 0.0, 12.4},
     {7.2, 0.0, 8.2}, {7.2, 6.0, 8.2}, {7.0, 6.0, 12.4}, {7.0, 0.0, 12.4}},
    {{11.0, 0.0, 1.0}, {11.0, 4.0, 1.0}, {11.0, 4.0, 5.0}, {11.0, 0.0, 5.0},
     {15.4, 0.0, 1.4}, {15.2, 4.0, 1.3}, {15.3, 4.0, 5.4}, {15.4, 0.0, 5.4}}};
constexpr int kFaces[5][4] = {{0, 1, 2, 3}, {0, 1, 5, 4}, {4, 5, 6, 7}, {3, 2, 6, 7}, {1, 2, 6, 5}};

inline Vec3 sub(Vec3 a, Vec3 b) { return {a.x - b.x, a.y - b.y, a.z - b.z}; }
inline double dot(Vec3 a, Vec3 b) { return a.x * b.x + a.y * b.y + a.z * b.z; }
inline Vec3 cross(Vec3 a, Vec3 b) { return {a.y * b.z - a.z * b.y, a.z * b.x - a.x * b.z, a.x * b.y - a.y * b.x}; }
inline Vec3 buildingCorner(int building, int corner) {
    const double* p = kBuildings[building][corner];
    return {p[0], p[2], -p[1]};
}

// Whether the open segment a-b crosses triangle (p, q, r).
inline bool segmentCrossesTriangle(Vec3 a, Vec3 b, Vec3 p, Vec3 q, Vec3 r) {
    Vec3 d = sub(b, a), e1 = sub(q, p), e2 = sub(r, p), h = cross(d, e2);
    double det = dot(e1, h);
    if (std::fabs(det) < 1e-12) return false;
    Vec3 s = sub(a, p), g = cross(s, e1);
    double u = dot(s, h) / det, v = dot(d, g) / det, along = dot(e2, g) / det;
    return u >= 0 && v >= 0 && u + v <= 1 && along > 1e-9 && along < 1 - 1e-9;
}

inline Vec3 cameraCentre(const Truth& t) {  // C = -R^T T
    const double* R = t.R;
    return {-(R[0] * t.T[0] + R[3] * t.T[1] + R[6] * t.T[2]), -(R[1] * t.T[0] + R[4] * t.T[1] + R[7] * t.T[2]),
            -(R[2] * t.T[0] + R[5] * t.T[1] + R[8] * t.T[2])};
}

inline bool hiddenByBuilding(const Truth& t, Vec3 point) {
    Vec3 centre = cameraCentre(t);
    for (int b = 0; b < 2; ++b)
        for (const int* f : kFaces) {
            Vec3 c0 = buildingCorner(b, f[0]), c1 = buildingCorner(b, f[1]);
            Vec3 c2 = buildingCorner(b, f[2]), c3 = buildingCorner(b, f[3]);
            if (segmentCrossesTriangle(centre, point, c0, c1, c2) || segmentCrossesTriangle(centre, point, c0, c2, c3))
                return true;
        }
    return false;
}

inline std::vector<cv::Point3d> boardCorners(int columns, int rows) {
    std::vector<cv::Point3d> corners;
    for (int k = 0; k < columns * rows; ++k) corners.push_back({double(k % columns), double(k / columns), 0.0});
    return corners;
}

// Pixels of world points through a truth row's camera and lens, by OpenCV's
// own projection.
inline std::vector<cv::Point2d> projectThroughLens(const Truth& t, const std::vector<cv::Point3d>& points,
                                            bool withDistortion = true) {
    cv::Mat R(3, 3, CV_64F, const_cast<double*>(t.R)), rvec;
    cv::Rodrigues(R, rvec);
    cv::Mat tvec(3, 1, CV_64F, const_cast<double*>(t.T));
    cv::Mat K = (cv::Mat_<double>(3, 3) << t.f, 0, t.cx, 0, t.fy, t.cy, 0, 0, 1);
    cv::Mat D = withDistortion ? cv::Mat(1, 5, CV_64F, const_cast<double*>(t.k)) : cv::Mat::zeros(1, 5, CV_64F);
    std::vector<cv::Point2d> pixels;
    cv::projectPoints(points, rvec, tvec, K, D, pixels);
    return pixels;
}

// A temporary folder shared by the tests of one suite.
inline std::string makeScratchFolder() {
    char pattern[] = "/tmp/board_video_test_XXXXXX";
    return mkdtemp(pattern) ? pattern : "";
}

#endif
