// lens_calibration_bench.cpp - what the view collection costs per frame of a
// live video, and what a calibration costs, on boards seen through a
// distorted 640 x 480 lens (k1 -0.3, k2 0.1) during a sweep over the picture.
//
// Usage: build/bin/lens_calibration_bench
#include <benchmark/benchmark.h>

#include <cmath>
#include <string>
#include <vector>

#include <opencv2/calib3d.hpp>
#include <opencv2/imgproc.hpp>

#include "calibration_views.h"
#include "lens_calibration.h"

namespace {

const cv::Size kPicture(640, 480), kPattern(8, 6);
constexpr int kSweepFrames = 300;

// The board's corners along a sweep: its middle through the whole picture,
// tilted 15 to 55 degrees in every direction, 0.1 px of noise.
std::vector<std::vector<cv::Point2f>> sweepCorners() {
    cv::Matx33d K(600, 0, 329, 0, 600, 233, 0, 0, 1);
    cv::Mat distortion = (cv::Mat_<double>(1, 5) << -0.3, 0.1, 0.001, -0.001, 0);
    std::vector<cv::Point3f> board;
    for (int i = 0; i < kPattern.height; ++i)
        for (int j = 0; j < kPattern.width; ++j) board.emplace_back(j - 3.5f, i - 2.5f, 0.f);
    cv::RNG rng(1);
    std::vector<std::vector<cv::Point2f>> views;
    for (int n = 0; n < kSweepFrames; ++n) {
        double t = static_cast<double>(n) / kSweepFrames, distance = 7 * 600 / (0.4 * kPicture.width);
        double u = kPicture.width * (0.5 + 0.42 * std::sin(2 * CV_PI * 3 * t));
        double v = kPicture.height * (0.5 + 0.42 * std::sin(2 * CV_PI * 2 * t + 0.7));
        double tilt = (15 + 40 * (0.5 + 0.5 * std::sin(2 * CV_PI * 5 * t))) * CV_PI / 180, azimuth = 14 * CV_PI * t;
        cv::Vec3d rotation(tilt * std::cos(azimuth), tilt * std::sin(azimuth), 0);
        cv::Vec3d centre((u - 329) / 600 * distance, (v - 233) / 600 * distance, distance);
        std::vector<cv::Point2f> corners;
        cv::projectPoints(board, rotation, centre, K, distortion, corners);
        bool inside = true;
        for (cv::Point2f& p : corners) {
            p += cv::Point2f(static_cast<float>(rng.gaussian(0.1)), static_cast<float>(rng.gaussian(0.1)));
            inside = inside && p.x > 1 && p.y > 1 && p.x < kPicture.width - 2 && p.y < kPicture.height - 2;
        }
        if (inside) views.push_back(corners);
    }
    return views;
}

// A grey picture of a plain board, squares 30 px, for the sharpness measure.
cv::Mat boardPicture(std::vector<cv::Point2f>* corners) {
    cv::Mat grey(kPicture, CV_8UC1, cv::Scalar(200));
    auto at = [](int x, int y) { return cv::Point2f(150.0f + 30 * x, 120.0f + 30 * y); };
    for (int i = -1; i < kPattern.height; ++i)
        for (int j = -1; j < kPattern.width; ++j)
            if ((i + j) % 2 == 0) {
                cv::Point square[4] = {at(j, i), at(j + 1, i), at(j + 1, i + 1), at(j, i + 1)};
                cv::fillConvexPoly(grey, square, 4, cv::Scalar(30), cv::LINE_AA);
            }
    corners->clear();
    for (int i = 0; i < kPattern.height; ++i)
        for (int j = 0; j < kPattern.width; ++j) corners->push_back(at(j, i) - cv::Point2f(0.5f, 0.5f));
    return grey;
}

// One offer per frame of the sweep, over and over, to a collection that is
// full after the first pass: the steady state of a live video.
void BM_OfferView(benchmark::State& state) {
    std::vector<std::vector<cv::Point2f>> views = sweepCorners();
    ViewCollection collection;
    initViewCollection(&collection, kPicture, kPattern, kDefaultCalibrationViews);
    size_t k = 0;
    for (auto _ : state) {
        benchmark::DoNotOptimize(offerView(&collection, views[k], cv::Mat(), static_cast<long>(k)));
        k = (k + 1) % views.size();
    }
    state.counters["kept"] = static_cast<double>(collection.views.size());
}
BENCHMARK(BM_OfferView);

void BM_BoardSharpness(benchmark::State& state) {
    std::vector<cv::Point2f> corners;
    cv::Mat grey = boardPicture(&corners);
    for (auto _ : state) benchmark::DoNotOptimize(boardSharpness(grey, corners, kPattern));
}
BENCHMARK(BM_BoardSharpness);

// cornerSubPix in the bounded window, from corners half a pixel off.
void BM_RefineBoardCorners(benchmark::State& state) {
    std::vector<cv::Point2f> truth, corners;
    cv::Mat grey = boardPicture(&truth);
    for (auto _ : state) {
        corners = truth;
        for (cv::Point2f& p : corners) p += cv::Point2f(0.5f, -0.5f);
        benchmark::DoNotOptimize(refineBoardCorners(grey, kPattern, &corners));
    }
}
BENCHMARK(BM_RefineBoardCorners);

// The whole offer with the picture: description, sharpness, the decision.
void BM_OfferViewWithPicture(benchmark::State& state) {
    std::vector<cv::Point2f> corners;
    cv::Mat grey = boardPicture(&corners);
    ViewCollection collection;
    initViewCollection(&collection, kPicture, kPattern, kDefaultCalibrationViews);
    long k = 0;
    for (const std::vector<cv::Point2f>& v : sweepCorners()) offerView(&collection, v, cv::Mat(), k++);
    for (auto _ : state) benchmark::DoNotOptimize(offerView(&collection, corners, grey, k++));
}
BENCHMARK(BM_OfferViewWithPicture);

// calibrateLens on the first N views the collection keeps.
void BM_CalibrateLens(benchmark::State& state) {
    ViewCollection collection;
    initViewCollection(&collection, kPicture, kPattern, static_cast<int>(state.range(0)));
    long k = 0;
    for (const std::vector<cv::Point2f>& v : sweepCorners()) offerView(&collection, v, cv::Mat(), k++);
    LensCalibration lens;
    std::string error;
    for (auto _ : state)
        if (!calibrateLens(collection, &lens, &error)) state.SkipWithError(error.c_str());
    state.counters["views"] = lens.keptCount;
}
BENCHMARK(BM_CalibrateLens)->Arg(10)->Arg(25)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
