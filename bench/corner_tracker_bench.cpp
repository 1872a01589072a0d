// corner_tracker_bench.cpp - what following the board's corners costs, and
// how well it follows them, on a rendered video with its ground truth.
//
// The frames are decoded and the detector run once beforehand; then the
// viewer's order is replayed several times: a frame with the board is
// remembered, a frame without it tracked. Printed: per frame without the
// board, the corners kept, their largest distance from the truth, and the
// registration of all 48 corners by the pose from them (f from the first
// frame's full calibration), and the same registration in the detected
// frames around them; then milliseconds per call (the first frame tracked
// after a detection builds two image pyramids, the later ones one), in wall
// time and in CPU time of all threads.
//
// Usage: build/bin/make_board_video --frames 120 --width 1920 --height 1080 -o /tmp/hd.avi
//        build/bin/corner_tracker_bench /tmp/hd.avi /tmp/hd_truth.csv
#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <ctime>
#include <fstream>
#include <string>
#include <vector>

#include <opencv2/calib3d.hpp>
#include <opencv2/videoio.hpp>

#include "corner_tracker.h"
#include "sample_truth.h"
#include "board_detector.h"
#include "tracking.h"
#include "tsai.h"

namespace {

using Clock = std::chrono::steady_clock;

constexpr int kRounds = 20;
constexpr size_t kNeighbourFrames = 6;
const cv::Size kPattern(8, 6);

struct Detection {
    bool found;
    std::vector<cv::Point2f> corners;
};

// Largest distance of the board's 48 corners, projected by the pose from the
// given corners, from the truth; -1 when the calibration fails.
double registrationError(const cv::Point2f* corners, const int* indices, int count, double f, const SampleTruth& t,
                         cv::Size size) {
    double wx[kMaxTrackedCorners], wy[kMaxTrackedCorners], ix[kMaxTrackedCorners], iy[kMaxTrackedCorners];
    for (int i = 0; i < count; ++i) {
        wx[i] = indices[i] % kPattern.width, wy[i] = indices[i] / kPattern.width;
        ix[i] = corners[i].x - size.width / 2, iy[i] = corners[i].y - size.height / 2;
    }
    double T[3], R[9];
    if (!tsaiCalibration2D_Tr(count, wx, wy, ix, iy, f, T, R)) return -1;
    double worst = 0;
    for (int k = 0; k < kPattern.area(); ++k) {
        double x, y;
        tsaiProject(k % kPattern.width, k / kPattern.width, 0, &x, &y, f, T, R);
        cv::Point2d truth = truePixel(t, k, kPattern, size);
        worst = std::max(worst, std::hypot(x + size.width / 2 - truth.x, y + size.height / 2 - truth.y));
    }
    return worst;
}

double firstFocal(const std::vector<Detection>& detections, cv::Size size) {
    for (const Detection& d : detections) {
        if (!d.found) continue;
        double wx[64], wy[64], ix[64], iy[64], f, T[3], R[9];
        for (int k = 0; k < kPattern.area(); ++k) {
            wx[k] = k % kPattern.width, wy[k] = k / kPattern.width;
            ix[k] = d.corners[k].x - size.width / 2, iy[k] = d.corners[k].y - size.height / 2;
        }
        if (tsaiCalibration2D(kPattern.area(), wx, wy, ix, iy, &f, T, R)) return f;
    }
    return 0;
}

// A frame with the board within kNeighbourFrames of one without it.
bool nearTrackedFrame(const std::vector<Detection>& detections, size_t frame) {
    for (size_t i = frame > kNeighbourFrames ? frame - kNeighbourFrames : 0;
         i < detections.size() && i <= frame + kNeighbourFrames; ++i)
        if (!detections[i].found) return true;
    return false;
}

double millisecondsSince(Clock::time_point start) {
    return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

// CPU time of every thread of the process: on a shared machine the wall
// time also counts the waits for a core.
double processCpuMilliseconds() {
    timespec t;
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
    return t.tv_sec * 1e3 + t.tv_nsec / 1e6;
}

struct Times {
    std::vector<double> wall, cpu;
};

struct Stopwatch {
    Clock::time_point wall = Clock::now();
    double cpu = processCpuMilliseconds();
    void addTo(Times* t) const {
        t->wall.push_back(millisecondsSince(wall));
        t->cpu.push_back(processCpuMilliseconds() - cpu);
    }
};

void printTimes(const char* what, const char* clock, std::vector<double> ms) {
    if (ms.empty()) return;
    std::sort(ms.begin(), ms.end());
    double sum = 0;
    for (double v : ms) sum += v;
    std::printf("%-28s %-5s %5zu calls  mean %7.3f ms  median %7.3f ms  p95 %7.3f ms\n", what, clock, ms.size(),
                sum / ms.size(), ms[ms.size() / 2], ms[std::min(ms.size() - 1, ms.size() * 95 / 100)]);
}

void printTimes(const char* what, const Times& t) {
    printTimes(what, "wall", t.wall);
    printTimes(what, "cpu", t.cpu);
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 3 || std::string(argv[1]) == "--help" || std::string(argv[1]) == "-h") {
        std::fprintf(argc == 2 ? stdout : stderr, "Usage: corner_tracker_bench VIDEO.avi TRUTH.csv\n");
        return argc == 2 ? 0 : 2;
    }
    cv::VideoCapture capture(argv[1], cv::CAP_FFMPEG);
    std::vector<SampleTruth> truth = readSampleTruth(argv[2]);
    if (!capture.isOpened() || truth.empty()) {
        std::fprintf(stderr, "corner_tracker_bench: cannot read %s or %s\n", argv[1], argv[2]);
        return 1;
    }
    std::vector<cv::Mat> frames;
    std::vector<Detection> detections;
    for (cv::Mat frame; frames.size() < truth.size() && capture.read(frame);) {
        Detection d;
        d.found = cv::findChessboardCorners(frame, kPattern, d.corners, kBoardDetectorFlags);
        frames.push_back(frame.clone());
        detections.push_back(d);
    }
    cv::Size size = frames.empty() ? cv::Size() : frames[0].size();
    double f = firstFocal(detections, size);
    std::printf("%s: %zu frames %dx%d, f from the first frame %.1f px\n", argv[1], frames.size(), size.width,
                size.height, f);
    std::printf("frame detected registration_max_px, or frame tracked kept worst_corner_px registration_max_px\n");
    int all[kMaxTrackedCorners];
    for (int k = 0; k < kPattern.area(); ++k) all[k] = k;
    Times rememberMs, firstTrackMs, laterTrackMs;
    CornerTracker tracker;
    resetCornerTracker(&tracker);
    for (int round = 0; round < kRounds; ++round) {
        for (size_t i = 0; i < frames.size(); ++i) {
            Stopwatch watch;
            if (detections[i].found) {
                rememberDetectedBoard(&tracker, frames[i], detections[i].corners.data(), kPattern);
                watch.addTo(&rememberMs);
                if (round == 0 && nearTrackedFrame(detections, i))
                    std::printf("%zu detected %.3f\n", i,
                                registrationError(detections[i].corners.data(), all, kPattern.area(), f, truth[i],
                                                  size));
                continue;
            }
            cv::Point2f corners[kMaxTrackedCorners];
            int indices[kMaxTrackedCorners];
            int kept = trackBoardCorners(&tracker, frames[i], corners, indices);
            watch.addTo(i > 0 && detections[i - 1].found ? &firstTrackMs : &laterTrackMs);
            if (round > 0) continue;
            double worst = 0;
            for (int j = 0; j < kept; ++j) {
                cv::Point2d t = truePixel(truth[i], indices[j], kPattern, size);
                worst = std::max(worst, std::hypot(corners[j].x - t.x, corners[j].y - t.y));
            }
            double registration = kept ? registrationError(corners, indices, kept, f, truth[i], size) : -1;
            std::printf("%zu tracked %d %.3f %.3f\n", i, kept, worst, registration);
        }
    }
    printTimes("rememberDetectedBoard", rememberMs);
    printTimes("trackBoardCorners, first", firstTrackMs);
    printTimes("trackBoardCorners, later", laterTrackMs);
    return 0;
}
