// detector_bench.cpp - the bounded board search against the library's
// full-resolution one: boards found, corner agreement and error against the
// truth, and milliseconds per frame, on sample videos (each with its truth
// CSV beside it) and on frames without a board at sizes up to 4096 x 2160.
// Also summarises the per-frame times of arrender --poses files.
//
// Times are wall-clock (as arrender measures its stages) and the calling
// thread's CPU time; with --threads 1 OpenCV works on the calling thread
// only, so the CPU column estimates a quiet machine on a shared one.
//
// Usage: detector_bench [--threads N] [--no-reference] [--noise] VIDEO.avi...
//        detector_bench --frame-times run1.csv run2.csv run3.csv
#include <time.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <string>
#include <vector>

#include <opencv2/calib3d.hpp>
#include <opencv2/imgproc.hpp>
#include <opencv2/videoio.hpp>

#include "board_detector.h"
#include "csv_fields.h"
#include "percentile.h"
#include "sample_truth.h"
#include "tracking.h"
#include "tsai.h"

namespace {

const cv::Size kPattern(8, 6);
// Frames after the board comes back into view that a search may still miss.
constexpr int kFramesToReacquire = 2;

struct Stopwatch {
    std::chrono::steady_clock::time_point wall;
    double cpu;
};

double threadCpuMs() {
    timespec t;
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return t.tv_sec * 1e3 + t.tv_nsec / 1e6;
}

Stopwatch start() { return {std::chrono::steady_clock::now(), threadCpuMs()}; }

// Wall and CPU milliseconds since the start.
std::pair<double, double> elapsed(const Stopwatch& s) {
    return {std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - s.wall).count(),
            threadCpuMs() - s.cpu};
}

struct VideoFigures {
    int frames = 0, whole = 0, referenceFound = 0, ourFound = 0, both = 0, missed = 0, extra = 0;
    std::vector<double> agreement, referenceError, ourError;
    std::vector<double> referenceWall, referenceCpu, ourWall, ourCpu;
};

void compareFrame(const cv::Mat& frame, const SampleTruth& truth, bool runReference, int sinceCovered, BoardDetector* detector,
                  VideoFigures* v) {
    std::vector<cv::Point2f> ours, reference;
    Stopwatch s = start();
    bool ourFound = detectBoardCorners(frame, detector, &ours);
    auto t = elapsed(s);
    v->ourWall.push_back(t.first);
    v->ourCpu.push_back(t.second);
    bool referenceFound = false;
    if (runReference) {
        s = start();
        referenceFound = cv::findChessboardCorners(frame, kPattern, reference, kBoardDetectorFlags);
        t = elapsed(s);
        v->referenceWall.push_back(t.first);
        v->referenceCpu.push_back(t.second);
    }
    ++v->frames;
    v->whole += truth.covered ? 0 : 1;
    v->ourFound += ourFound;
    v->referenceFound += referenceFound;
    if (!truth.covered && !ourFound && sinceCovered > kFramesToReacquire) ++v->missed;
    if (truth.covered && ourFound) ++v->extra;
    if (ourFound) {
        for (int k = 0; k < kPattern.area(); ++k)
            v->ourError.push_back(cv::norm(cv::Point2d(ours[k]) - truePixel(truth, k, kPattern, frame.size())));
    }
    if (referenceFound) {
        for (int k = 0; k < kPattern.area(); ++k)
            v->referenceError.push_back(cv::norm(cv::Point2d(reference[k]) - truePixel(truth, k, kPattern, frame.size())));
    }
    if (ourFound && referenceFound) {
        ++v->both;
        for (int k = 0; k < kPattern.area(); ++k) v->agreement.push_back(cv::norm(ours[k] - reference[k]));
    }
}

bool measureVideo(const std::string& path, bool runReference) {
    std::string truthPath = path.substr(0, path.size() - 4) + "_truth.csv";
    std::vector<SampleTruth> truth = readSampleTruth(truthPath);
    cv::VideoCapture capture(path, cv::CAP_FFMPEG);
    if (!capture.isOpened() || truth.empty()) {
        std::fprintf(stderr, "detector_bench: %s: cannot read the video or %s\n", path.c_str(), truthPath.c_str());
        return false;
    }
    BoardDetector detector;
    initBoardDetector(kPattern, &detector);
    VideoFigures v;
    cv::Mat frame;
    int sinceCovered = kFramesToReacquire + 1;
    for (size_t i = 0; i < truth.size() && capture.read(frame); ++i) {
        sinceCovered = truth[i].covered ? 0 : sinceCovered + 1;
        compareFrame(frame, truth[i], runReference, sinceCovered, &detector, &v);
    }
    std::printf("\n%s (%dx%d): %d frames, board whole in %d\n", path.c_str(), frame.cols, frame.rows, v.frames, v.whole);
    std::printf("  found: bounded %d; whole boards missed beyond the %d frames after a return: %d;"
                " covered boards reported: %d\n",
                v.ourFound, kFramesToReacquire, v.missed, v.extra);
    if (runReference) {
        std::printf("  found: library %d, both %d\n", v.referenceFound, v.both);
        std::printf("  corners, bounded vs library (px): p50 %.3f  p95 %.3f  max %.3f\n", percentile(v.agreement, 0.5),
                    percentile(v.agreement, 0.95), percentile(v.agreement, 1.0));
        std::printf("  error against the truth (px): library median %.3f p95 %.3f\n", percentile(v.referenceError, 0.5),
                    percentile(v.referenceError, 0.95));
    }
    std::printf("  error against the truth (px): bounded median %.3f p95 %.3f\n", percentile(v.ourError, 0.5),
                percentile(v.ourError, 0.95));
    const char* format = "  %-8s ms per frame: wall p50 %7.2f p99 %7.2f max %7.2f | cpu p50 %7.2f p99 %7.2f max %7.2f\n";
    if (runReference)
        std::printf(format, "library", percentile(v.referenceWall, 0.5), percentile(v.referenceWall, 0.99),
                    percentile(v.referenceWall, 1.0), percentile(v.referenceCpu, 0.5), percentile(v.referenceCpu, 0.99),
                    percentile(v.referenceCpu, 1.0));
    std::printf(format, "bounded", percentile(v.ourWall, 0.5), percentile(v.ourWall, 0.99), percentile(v.ourWall, 1.0),
                percentile(v.ourCpu, 0.5), percentile(v.ourCpu, 0.99), percentile(v.ourCpu, 1.0));
    return true;
}

// Frames without a board, 8-bit BGR, their features scaled with the height.
cv::Mat boardlessFrame(const std::string& kind, cv::Size size, double detail, int seed) {
    cv::RNG rng(seed);
    double scale = size.height / 480.0;
    cv::Mat frame(size, CV_8UC3, cv::Scalar::all(128));
    if (kind == "uniform noise") {
        rng.fill(frame, cv::RNG::UNIFORM, 0, 256);
    } else if (kind == "blurred noise" || kind == "blobs") {
        // Foliage-like: smoothed noise; "blobs" thresholds it into crisp patches.
        cv::Mat noise(size, CV_32F);
        rng.fill(noise, cv::RNG::UNIFORM, 0, 1);
        cv::GaussianBlur(noise, noise, cv::Size(0, 0), detail * scale);
        cv::normalize(noise, noise, 0, 255, cv::NORM_MINMAX);
        cv::Mat grey;
        noise.convertTo(grey, CV_8U);
        if (kind == "blobs") cv::threshold(grey, grey, 128, 255, cv::THRESH_BINARY);
        cv::cvtColor(grey, frame, cv::COLOR_GRAY2BGR);
    } else if (kind == "textured") {
        for (int b = 0; b < 300 * size.area() / (640 * 480); ++b) {
            cv::Point centre(rng.uniform(0, size.width), rng.uniform(0, size.height));
            cv::Scalar colour(rng.uniform(0, 256), rng.uniform(0, 256), rng.uniform(0, 256));
            cv::circle(frame, centre, static_cast<int>((5 + rng.uniform(0, 40)) * scale), colour, -1, cv::LINE_AA);
        }
        cv::GaussianBlur(frame, frame, cv::Size(5, 5), 1.5);
    } else if (kind == "checkered floor") {
        int square = std::max(2, static_cast<int>(detail * scale));
        for (int y = 0; y < size.height; ++y)
            for (int x = 0; x < size.width; ++x)
                if ((x / square + y / square) % 2) frame.at<cv::Vec3b>(y, x) = cv::Vec3b(30, 30, 30);
    }
    return frame;
}

void measureBoardless(bool runReference) {
    struct Kind {
        const char* name;
        std::vector<double> details;
    };
    const Kind kinds[] = {{"plain grey", {0}},
                          {"uniform noise", {0}},
                          {"blurred noise", {1, 1.5, 2, 3, 4, 6, 9}},
                          {"blobs", {1, 1.5, 2, 3, 4, 6, 9}},
                          {"textured", {0}},
                          {"checkered floor", {5, 8, 12, 20}}};
    const cv::Size sizes[] = {{640, 480}, {1280, 720}, {1920, 1080}, {4096, 2160}};
    std::printf("\nFrames without a board: bounded search, worst ms per frame over the variants (3 frames each,"
                " lost state: whole-frame scan, work pictures allocated)%s\n",
                runReference ? "; library at 640 x 480" : "");
    std::printf("  %-16s %-10s %8s %8s %6s %10s\n", "frames", "size", "wall", "cpu", "found", "library");
    for (const Kind& kind : kinds)
        for (cv::Size size : sizes) {
            double worstWall = 0, worstCpu = 0, libraryWorst = 0;
            int found = 0;
            // A video's first frame allocates the work pictures; the rest reuse them.
            BoardDetector detector;
            initBoardDetector(kPattern, &detector);
            std::vector<cv::Point2f> corners;
            detectBoardCorners(boardlessFrame("plain grey", size, 0, 7), &detector, &corners);
            for (double detail : kind.details) {
                cv::Mat frame = boardlessFrame(kind.name, size, detail, 7);
                for (int repeat = 0; repeat < 3; ++repeat) {
                    Stopwatch s = start();
                    found += detectBoardCorners(frame, &detector, &corners);
                    auto t = elapsed(s);
                    worstWall = std::max(worstWall, t.first);
                    worstCpu = std::max(worstCpu, t.second);
                }
                if (runReference && size.width == 640) {
                    Stopwatch s = start();
                    cv::findChessboardCorners(frame, kPattern, corners, kBoardDetectorFlags);
                    libraryWorst = std::max(libraryWorst, elapsed(s).first);
                }
            }
            char library[32] = "";
            if (runReference && size.width == 640) std::snprintf(library, sizeof library, "%10.1f", libraryWorst);
            std::printf("  %-16s %4dx%-5d %8.2f %8.2f %6d %s\n", kind.name, size.width, size.height, worstWall,
                        worstCpu, found, library);
        }
}

// Per frame of an arrender --poses file: the frame time (its ms_frame
// column, the whole frame's wall-clock time; logs of older builds without it:
// the sum of the stage columns ms_*), and the tracking stage alone.
bool readFrameTimes(const std::string& path, std::vector<double>* frame, std::vector<double>* track) {
    std::ifstream in(path);
    std::string line;
    if (!std::getline(in, line)) {
        std::fprintf(stderr, "detector_bench: %s: cannot read\n", path.c_str());
        return false;
    }
    std::vector<std::string> header = splitCsvFields(line);
    while (std::getline(in, line)) {
        std::vector<std::string> fields = splitCsvFields(line);
        double sum = 0, trackMs = 0, wholeMs = -1;
        for (size_t i = 0; i < header.size() && i < fields.size(); ++i) {
            if (header[i].compare(0, 3, "ms_") != 0) continue;
            double ms = std::atof(fields[i].c_str());
            if (header[i] == "ms_frame") wholeMs = ms;
            else sum += ms;
            if (header[i] == "ms_track") trackMs = ms;
        }
        frame->push_back(wholeMs >= 0 ? wholeMs : sum);
        track->push_back(trackMs);
    }
    return !frame->empty();
}

// Frame and tracking-stage times of the same video rendered several times:
// each frame's smallest time over the runs drops most of what other programs
// took from it on a shared machine.
bool summariseFrameTimes(const std::vector<std::string>& paths) {
    std::vector<double> frame, track;
    for (size_t run = 0; run < paths.size(); ++run) {
        std::vector<double> runFrame, runTrack;
        if (!readFrameTimes(paths[run], &runFrame, &runTrack)) return false;
        if (run > 0 && runFrame.size() != frame.size()) {
            std::fprintf(stderr, "detector_bench: %s: another frame count\n", paths[run].c_str());
            return false;
        }
        if (run == 0) {
            frame = runFrame, track = runTrack;
            continue;
        }
        for (size_t i = 0; i < frame.size(); ++i) {
            frame[i] = std::min(frame[i], runFrame[i]);
            track[i] = std::min(track[i], runTrack[i]);
        }
    }
    // The first frame also pays for the renderer compiling its shaders.
    std::vector<double> later(frame.begin() + 1, frame.end());
    std::printf("frame ms p50 %.2f p99 %.2f max %.2f (first %.1f, max after it %.2f)", percentile(frame, 0.5),
                percentile(frame, 0.99), percentile(frame, 1.0), frame[0], percentile(later, 1.0));
    std::printf(" | track ms p50 %.2f p99 %.2f max %.2f\n", percentile(track, 0.5), percentile(track, 0.99),
                percentile(track, 1.0));
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    bool runReference = true, noise = false;
    std::vector<std::string> videos;
    for (int i = 1; i < argc; ++i) {
        std::string arg = argv[i];
        if (arg == "--help" || arg == "-h") {
            std::printf("usage: detector_bench [--threads N] [--no-reference] [--noise] VIDEO.avi...\n"
                        "       detector_bench --frame-times POSES.csv...   (per-frame minimum over the runs)\n"
                        "Each VIDEO.avi needs its VIDEO_truth.csv beside it (make_board_video writes both).\n");
            return 0;
        } else if (arg == "--frame-times" && i + 1 < argc) {
            return summariseFrameTimes(std::vector<std::string>(argv + i + 1, argv + argc)) ? 0 : 1;
        } else if (arg == "--threads" && i + 1 < argc) {
            cv::setNumThreads(std::atoi(argv[++i]));
        } else if (arg == "--no-reference") {
            runReference = false;
        } else if (arg == "--noise") {
            noise = true;
        } else if (arg.size() > 4 && arg.compare(arg.size() - 4, 4, ".avi") == 0) {
            videos.push_back(arg);
        } else {
            std::fprintf(stderr, "detector_bench: unknown argument %s (see --help)\n", arg.c_str());
            return 2;
        }
    }
    if (videos.empty() && !noise) {
        std::fprintf(stderr, "detector_bench: nothing to measure (see --help)\n");
        return 2;
    }
    bool ok = true;
    for (const std::string& video : videos) ok = measureVideo(video, runReference) && ok;
    if (noise) measureBoardless(runReference);
    return ok ? 0 : 1;
}
