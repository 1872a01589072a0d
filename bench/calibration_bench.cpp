// calibration_bench.cpp - speed and accuracy of the coplanar calibration
// against OpenCV's pose estimators and single-view calibration.
//
// Speed: one call on the same 48 noisy board corners (Google Benchmark).
// Accuracy: an 8 x 6 board from 200 random plausible poses (board 200-450 px
// wide inside a 640 x 480 image, tilts 10-60 degrees, rolls within 45) with
// Gaussian corner noise of 0, 0.25, 0.5 and 1 px; medians of the rotation
// error, the translation error in % of the distance, the focal error in %
// and the reprojection RMS against the noisy corners.
//
// Usage: build/bin/calibration_bench [--benchmark_min_time=0.5]
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <map>
#include <random>
#include <string>
#include <vector>

#include <opencv2/calib3d.hpp>

#include "support/synthetic_view.h"
#include "tsai.h"

namespace {

constexpr int kWidth = 640, kHeight = 480;
constexpr int kPoses = 200;
const double kNoiseLevels[] = {0.0, 0.25, 0.5, 1.0};

struct Estimate {
    bool ok = false;
    double f = 0, T[3] = {0, 0, 0}, R[9] = {0};
};

enum Method { kTsaiFull, kTsaiPose, kPnpIterative, kPnpIppe, kCalibrateCamera, kMethodCount };
const char* const kMethodNames[kMethodCount] = {
    "tsaiCalibration2D", "tsaiCalibration2D_Tr", "solvePnP ITERATIVE", "solvePnP IPPE",
    "calibrateCamera (1 view)"};
const bool kEstimatesFocal[kMethodCount] = {true, false, false, false, true};

// OpenCV works in pixel coordinates from the top-left pixel; the calibration
// in coordinates from the image centre.
struct OpenCvPoints {
    std::vector<cv::Point3f> object;
    std::vector<cv::Point2f> image;
};

OpenCvPoints toOpenCv(const BoardPoints& p) {
    OpenCvPoints o;
    for (int k = 0; k < p.n; ++k) {
        o.object.emplace_back(float(p.worldX[k]), float(p.worldY[k]), 0.f);
        o.image.emplace_back(float(p.imageX[k] + kWidth / 2), float(p.imageY[k] + kHeight / 2));
    }
    return o;
}

cv::Matx33d cameraMatrix(double f) { return {f, 0, kWidth / 2.0, 0, f, kHeight / 2.0, 0, 0, 1}; }

Estimate fromRodrigues(double f, const cv::Mat& rvec, const cv::Mat& tvec) {
    Estimate e;
    cv::Matx33d R;
    cv::Rodrigues(rvec, R);
    e.f = f;
    for (int i = 0; i < 9; ++i) e.R[i] = R.val[i];
    for (int i = 0; i < 3; ++i) e.T[i] = tvec.at<double>(i);
    e.ok = true;
    return e;
}

Estimate solvePnp(const OpenCvPoints& o, double f, int flags) {
    cv::Mat rvec, tvec;
    if (!cv::solvePnP(o.object, o.image, cameraMatrix(f), cv::noArray(), rvec, tvec, false, flags)) return {};
    return fromRodrigues(f, rvec, tvec);
}

Estimate calibrateOneView(const OpenCvPoints& o) {
    std::vector<std::vector<cv::Point3f>> objects{o.object};
    std::vector<std::vector<cv::Point2f>> images{o.image};
    cv::Mat K = cv::Mat(cameraMatrix(700)), dist = cv::Mat::zeros(5, 1, CV_64F);
    std::vector<cv::Mat> rvecs, tvecs;
    int flags = cv::CALIB_FIX_PRINCIPAL_POINT | cv::CALIB_FIX_ASPECT_RATIO | cv::CALIB_ZERO_TANGENT_DIST |
                cv::CALIB_FIX_K1 | cv::CALIB_FIX_K2 | cv::CALIB_FIX_K3;
    cv::calibrateCamera(objects, images, cv::Size(kWidth, kHeight), K, dist, rvecs, tvecs, flags);
    return fromRodrigues(K.at<double>(0, 0), rvecs[0], tvecs[0]);
}

Estimate estimate(Method m, const BoardPoints& p, const OpenCvPoints& o, double trueF) {
    Estimate e;
    switch (m) {
        case kTsaiFull:
            e.ok = tsaiCalibration2D(p.n, p.worldX, p.worldY, p.imageX, p.imageY, &e.f, e.T, e.R) == 1;
            return e;
        case kTsaiPose:
            e.f = trueF;
            e.ok = tsaiCalibration2D_Tr(p.n, p.worldX, p.worldY, p.imageX, p.imageY, trueF, e.T, e.R) == 1;
            return e;
        case kPnpIterative: return solvePnp(o, trueF, cv::SOLVEPNP_ITERATIVE);
        case kPnpIppe: return solvePnp(o, trueF, cv::SOLVEPNP_IPPE);
        case kCalibrateCamera: return calibrateOneView(o);
        default: return e;
    }
}

// The data every speed benchmark works on.
struct SpeedData {
    SyntheticView view;
    BoardPoints points;
    OpenCvPoints cv;
};

const SpeedData& speedData() {
    static SpeedData d = [] {
        SpeedData s;
        std::mt19937 rng(2024);
        s.view = lookAtBoard(800, 22, 40, 30, 10, -1);
        s.points = projectBoard(s.view, 8, 6, 0.25, rng);
        s.cv = toOpenCv(s.points);
        return s;
    }();
    return d;
}

void runMethod(benchmark::State& state, Method m) {
    const SpeedData& d = speedData();
    for (auto _ : state) {
        Estimate e = estimate(m, d.points, d.cv, d.view.f);
        benchmark::DoNotOptimize(e);
    }
}

void BM_tsaiCalibration2D(benchmark::State& s) { runMethod(s, kTsaiFull); }
void BM_tsaiCalibration2D_Tr(benchmark::State& s) { runMethod(s, kTsaiPose); }
void BM_solvePnP_ITERATIVE(benchmark::State& s) { runMethod(s, kPnpIterative); }
void BM_solvePnP_IPPE(benchmark::State& s) { runMethod(s, kPnpIppe); }
void BM_calibrateCamera_1view(benchmark::State& s) { runMethod(s, kCalibrateCamera); }
BENCHMARK(BM_tsaiCalibration2D);
BENCHMARK(BM_tsaiCalibration2D_Tr);
BENCHMARK(BM_solvePnP_ITERATIVE);
BENCHMARK(BM_solvePnP_IPPE);
BENCHMARK(BM_calibrateCamera_1view);
const char* const kBenchmarkNames[kMethodCount] = {
    "BM_tsaiCalibration2D", "BM_tsaiCalibration2D_Tr", "BM_solvePnP_ITERATIVE", "BM_solvePnP_IPPE",
    "BM_calibrateCamera_1view"};

// Remembers the time per call of every benchmark while printing as usual.
class RecordingReporter : public benchmark::ConsoleReporter {
public:
    std::map<std::string, double> microseconds;
    void ReportRuns(const std::vector<Run>& runs) override {
        for (const Run& r : runs)
            microseconds[r.benchmark_name()] = r.GetAdjustedRealTime() / benchmark::GetTimeUnitMultiplier(r.time_unit) * 1e6;
        ConsoleReporter::ReportRuns(runs);
    }
};

// A pose whose whole board lies inside the image, 200-450 px wide.
SyntheticView randomPlausibleView(std::mt19937& rng) {
    std::uniform_real_distribution<double> u(0, 1);
    for (;;) {
        double f = 500 + 700 * u(rng);
        double distance = f * 8 / (200 + 250 * u(rng));
        SyntheticView v = lookAtBoard(f, distance, 10 + 50 * u(rng), 360 * u(rng), -45 + 90 * u(rng), -1);
        std::mt19937 unused(0);
        BoardPoints p = projectBoard(v, 8, 6, 0.0, unused);
        bool inside = true;
        for (int k = 0; k < p.n; ++k)
            inside &= std::fabs(p.imageX[k]) < kWidth / 2 - 10 && std::fabs(p.imageY[k]) < kHeight / 2 - 10;
        if (inside) return v;
    }
}

double reprojectionRms(const Estimate& e, const BoardPoints& p) {
    double sum = 0;
    for (int k = 0; k < p.n; ++k) {
        double x, y;
        tsaiProject(p.worldX[k], p.worldY[k], 0, &x, &y, e.f, e.T, e.R);
        sum += (x - p.imageX[k]) * (x - p.imageX[k]) + (y - p.imageY[k]) * (y - p.imageY[k]);
    }
    return std::sqrt(sum / p.n);
}

double median(std::vector<double> v) {
    if (v.empty()) return NAN;
    std::nth_element(v.begin(), v.begin() + v.size() / 2, v.end());
    return v[v.size() / 2];
}

struct Errors {
    std::vector<double> rotation, translation, focal, rms;
    int failures = 0;
};

void printAccuracyTable(const std::map<std::string, double>& microseconds) {
    std::printf("\n%-26s %9s %8s | %5s %9s %9s %9s %9s %5s\n", "method", "us/call", "xPnP-it", "noise",
                "rot(deg)", "trans(%)", "focal(%)", "rms(px)", "fail");
    double pnpTime = microseconds.count(kBenchmarkNames[kPnpIterative]) ? microseconds.at(kBenchmarkNames[kPnpIterative]) : NAN;
    for (int m = 0; m < kMethodCount; ++m) {
        double t = microseconds.count(kBenchmarkNames[m]) ? microseconds.at(kBenchmarkNames[m]) : NAN;
        for (double noise : kNoiseLevels) {
            std::mt19937 rng(99);  // the same poses and noise for every method
            Errors errors;
            for (int i = 0; i < kPoses; ++i) {
                SyntheticView truth = randomPlausibleView(rng);
                BoardPoints p = projectBoard(truth, 8, 6, noise, rng);
                Estimate e = estimate(static_cast<Method>(m), p, toOpenCv(p), truth.f);
                if (!e.ok) { ++errors.failures; continue; }
                double distance = std::sqrt(truth.T[0] * truth.T[0] + truth.T[1] * truth.T[1] + truth.T[2] * truth.T[2]);
                double dT = std::sqrt(std::pow(e.T[0] - truth.T[0], 2) + std::pow(e.T[1] - truth.T[1], 2) + std::pow(e.T[2] - truth.T[2], 2));
                errors.rotation.push_back(rotationErrorDegrees(e.R, truth.R));
                errors.translation.push_back(100 * dT / distance);
                errors.focal.push_back(100 * std::fabs(e.f - truth.f) / truth.f);
                errors.rms.push_back(reprojectionRms(e, p));
            }
            bool first = noise == kNoiseLevels[0];
            char focal[16] = "-";
            if (kEstimatesFocal[m]) std::snprintf(focal, sizeof focal, "%.3f", median(errors.focal));
            char time[16] = "", ratio[16] = "";
            if (first) {
                std::snprintf(time, sizeof time, "%.2f", t);
                std::snprintf(ratio, sizeof ratio, "%.1f", pnpTime / t);
            }
            std::printf("%-26s %9s %8s | %5.2f %9.4f %9.3f %9s %9.3f %5d\n", first ? kMethodNames[m] : "", time, ratio, noise,
                        median(errors.rotation), median(errors.translation), focal, median(errors.rms),
                        errors.failures);
        }
    }
    std::printf("(medians over %d poses; xPnP-it = speed relative to solvePnP ITERATIVE)\n", kPoses);
}

}  // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    RecordingReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    printAccuracyTable(reporter.microseconds);
    benchmark::Shutdown();
    return 0;
}
