// viewer_bench.cpp - where a viewer frame's time goes, on the sample video,
// in an offscreen GL context (Mesa's software renderer), and what the board
// detector costs on frames without a board.
//
// First, per-stage milliseconds (read, normalise, detect with the viewer's
// bounded search, calibrate, convert, draw + glFinish) and the whole loop's
// frames per second. Then the library's full-resolution detector in
// milliseconds per frame with adaptive thresholding alone and with the quick
// pre-check, on plain, noisy and textured frames and on the sample video with
// the board painted out, plus how many of the sample video's boards each
// setting finds (bench/detector_bench.cpp compares the two searches).
//
// Usage: build/bin/viewer_bench [build/bin/board.avi build/bin/board_truth.csv]
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <fstream>
#include <random>
#include <string>
#include <vector>

#define GL_GLEXT_PROTOTYPES
#include <GL/gl.h>

#include <opencv2/calib3d.hpp>
#include <opencv2/imgproc.hpp>
#include <opencv2/photo.hpp>
#include <opencv2/videoio.hpp>

#include "board_detector.h"
#include "percentile.h"
#include "frame.h"
#include "frame_reader.h"
#include "offscreen_gl.h"
#include "picture.h"
#include "sample_truth.h"
#include "startup.h"
#include "state.h"
#include "tracking.h"
#include "tsai.h"
#include "video.h"
#include "video_surface.h"

namespace {

using Clock = std::chrono::steady_clock;

double millisecondsSince(Clock::time_point start) {
    return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

struct Samples {
    std::vector<double> values;
    double mean() const {
        double s = 0;
        for (double v : values) s += v;
        return values.empty() ? 0 : s / values.size();
    }
    double percentile(double p) const { return ::percentile(values, p); }
};

std::vector<cv::Mat> readAllFrames(const std::string& path) {
    cv::VideoCapture capture(path, cv::CAP_FFMPEG);
    std::vector<cv::Mat> frames;
    cv::Mat frame;
    while (capture.read(frame)) frames.push_back(frame.clone());
    return frames;
}

// The viewer's stages one by one on every frame of the video.
void measureStages(const std::string& videoPath) {
    cv::VideoCapture capture(videoPath, cv::CAP_FFMPEG);
    if (!capture.isOpened()) {
        std::fprintf(stderr, "viewer_bench: cannot open %s\n", videoPath.c_str());
        return;
    }
    movie.capture = &capture;
    movie.width = static_cast<int>(capture.get(cv::CAP_PROP_FRAME_WIDTH));
    movie.height = static_cast<int>(capture.get(cv::CAP_PROP_FRAME_HEIGHT));
    allocatePixelBuffer(&movie);
    initRecords();
    OffscreenGL gl;
    if (!createOffscreenGL(movie.width, movie.height, &gl)) return;
    setUpLighting();
    setUpVideoBackground(movie.width, movie.height);

    const char* names[] = {"read", "normalise", "detect", "calibrate", "convert", "draw+glFinish", "whole frame"};
    Samples stages[7];
    BoardDetector detector;
    initBoardDetector(chess.patternSize, &detector);
    cv::Mat raw;
    int frames = 0, found = 0;
    auto loopStart = Clock::now();
    for (;;) {
        auto frameStart = Clock::now(), t = frameStart;
        if (!capture.read(raw)) break;
        stages[0].values.push_back(millisecondsSince(t));
        t = Clock::now();
        movie.frame = normaliseFrame(raw, movie.width, movie.height);
        stages[1].values.push_back(millisecondsSince(t));
        t = Clock::now();
        std::vector<cv::Point2f> corners;
        bool boardFound = detectBoardCorners(movie.frame, &detector, &corners);
        stages[2].values.push_back(millisecondsSince(t));
        t = Clock::now();
        if (boardFound) {
            double f = 700, T[3], R[9], ix[48], iy[48];
            for (int k = 0; k < 48; ++k) ix[k] = corners[k].x - movie.width / 2, iy[k] = corners[k].y - movie.height / 2;
            tsaiCalibration2D_Tr(48, chess.worldX, chess.worldY, ix, iy, f, T, R);
            ++found;
        }
        stages[3].values.push_back(millisecondsSince(t));
        t = Clock::now();
        imgCvToGL(movie);
        stages[4].values.push_back(millisecondsSince(t));
        t = Clock::now();
        runDisplayStages(nullptr);
        glFinish();
        stages[5].values.push_back(millisecondsSince(t));
        stages[6].values.push_back(millisecondsSince(frameStart));
        ++frames;
    }
    double seconds = millisecondsSince(loopStart) / 1000.0;
    std::printf("\nViewer stages on %s (%d frames, %dx%d, board found in %d)\n", videoPath.c_str(), frames,
                movie.width, movie.height, found);
    std::printf("%-16s %9s %9s\n", "stage", "mean ms", "p95 ms");
    for (int i = 0; i < 7; ++i)
        std::printf("%-16s %9.3f %9.3f\n", names[i], stages[i].mean(), stages[i].percentile(0.95));
    std::printf("whole loop: %.1f frames per second\n", frames / seconds);

    // The real idle and display stage lists, as the viewer runs them.
    capture.open(videoPath, cv::CAP_FFMPEG);
    camera.calibrated = false;
    frames = 0;
    loopStart = Clock::now();
    startFrameReader(&capture, cv::Mat(), movie.width, movie.height);
    while (runIdleStages(nullptr)) {
        runDisplayStages(nullptr);
        glFinish();
        ++frames;
    }
    stopFrameReader();
    std::printf("idle + display stage lists: %.1f frames per second\n", frames / (millisecondsSince(loopStart) / 1000.0));
    destroyOffscreenGL(&gl);
    movie.capture = nullptr;
}

// The sample video's frames with the printed board (margin included)
// painted over in the table's surrounding colours.
std::vector<cv::Mat> paintOutBoard(const std::vector<cv::Mat>& frames, const std::vector<SampleTruth>& truth) {
    std::vector<cv::Mat> out;
    const double X[4] = {-2, 9, 9, -2}, Y[4] = {-2, -2, 7, 7};
    for (size_t i = 0; i < frames.size() && i < truth.size(); ++i) {
        std::vector<cv::Point> quad;
        for (int k = 0; k < 4; ++k) {
            double xi, yi;
            tsaiProject(X[k], Y[k], 0, &xi, &yi, truth[i].f, truth[i].T, truth[i].R);
            quad.emplace_back(static_cast<int>(xi + frames[i].cols / 2), static_cast<int>(yi + frames[i].rows / 2));
        }
        cv::Mat mask = cv::Mat::zeros(frames[i].size(), CV_8U);
        cv::fillConvexPoly(mask, quad, 255);
        cv::Mat painted;
        cv::inpaint(frames[i], mask, painted, 3, cv::INPAINT_TELEA);
        out.push_back(painted);
    }
    return out;
}

std::vector<cv::Mat> syntheticBoardlessFrames(const char* kind, int count) {
    std::mt19937 rng(5);
    std::vector<cv::Mat> frames;
    for (int i = 0; i < count; ++i) {
        cv::Mat f(480, 640, CV_8UC3, cv::Scalar(128, 128, 128));
        if (std::string(kind) == "noisy grey") {
            cv::Mat noise(f.size(), f.type());
            cv::randn(noise, cv::Scalar::all(0), cv::Scalar::all(20));
            f += noise;
        } else if (std::string(kind) == "uniform noise") {
            cv::randu(f, cv::Scalar::all(0), cv::Scalar::all(256));
        } else if (std::string(kind) == "textured") {
            for (int b = 0; b < 300; ++b) {
                cv::Point c(rng() % 640, rng() % 480);
                cv::circle(f, c, 5 + rng() % 40, cv::Scalar(rng() % 256, rng() % 256, rng() % 256), -1, cv::LINE_AA);
            }
            cv::GaussianBlur(f, f, cv::Size(5, 5), 1.5);
        }
        frames.push_back(f);
    }
    return frames;
}

void printDetectorCost(const char* name, const std::vector<cv::Mat>& frames) {
    double ms[2] = {0, 0};
    int found[2] = {0, 0};
    const int flags[2] = {cv::CALIB_CB_ADAPTIVE_THRESH, kBoardDetectorFlags};
    for (int setting = 0; setting < 2; ++setting)
        for (const cv::Mat& f : frames) {
            std::vector<cv::Point2f> corners;
            auto t = Clock::now();
            found[setting] += cv::findChessboardCorners(f, cv::Size(8, 6), corners, flags[setting]);
            ms[setting] += millisecondsSince(t);
        }
    std::printf("%-28s %6zu %14.2f %14.2f %8d %8d\n", name, frames.size(), ms[0] / frames.size(),
                ms[1] / frames.size(), found[0], found[1]);
}

void measureDetector(const std::string& videoPath, const std::string& truthPath) {
    std::printf("\nBoard detector, ms per frame (adaptive threshold alone / with the quick pre-check)\n");
    std::printf("%-28s %6s %14s %14s %8s %8s\n", "frames", "count", "adaptive", "+fast check", "found", "found");
    printDetectorCost("plain grey", syntheticBoardlessFrames("plain grey", 5));
    printDetectorCost("noisy grey", syntheticBoardlessFrames("noisy grey", 5));
    printDetectorCost("uniform noise", syntheticBoardlessFrames("uniform noise", 2));
    printDetectorCost("textured", syntheticBoardlessFrames("textured", 5));
    std::vector<cv::Mat> video = readAllFrames(videoPath);
    std::vector<SampleTruth> truth = readSampleTruth(truthPath);
    std::vector<cv::Mat> stretch;
    for (size_t i = 0; i < video.size(); i += 10) stretch.push_back(video[i]);
    std::vector<SampleTruth> stretchTruth;
    for (size_t i = 0; i < truth.size(); i += 10) stretchTruth.push_back(truth[i]);
    printDetectorCost("sample video, board painted", paintOutBoard(stretch, stretchTruth));
    printDetectorCost("sample video, every frame", video);
}

}  // namespace

int main(int argc, char** argv) {
    if (argc == 2 && std::string(argv[1]) == "--help") {
        std::printf("usage: viewer_bench [VIDEO TRUTH.csv]   (default build/bin/board.avi, board_truth.csv)\n");
        return 0;
    }
    std::string video = argc > 1 ? argv[1] : "build/bin/board.avi";
    std::string truth = argc > 2 ? argv[2] : "build/bin/board_truth.csv";
    measureStages(video);
    measureDetector(video, truth);
    return 0;
}
