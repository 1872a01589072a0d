// self_calibration_replay.cpp - replays a video through the self-calibration
// core as the viewer would run it, against the video's true lens: every
// frame's board (the viewer's detector flags; refineBoardCorners with
// --refine) offered to a view collection, the lens calibrated whenever the
// collection changed (at most every kCalibrateEvery frames, from
// kTrustMinViews views), and each calibration's trust and true error
// printed. Shows when calibrationTrustworthy first says yes and how good the
// lens is then. Run by hand; timings depend on the machine's load.
//
// Usage: self_calibration_replay sweep.avi sweep_camera.yml [--refine]
#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include <opencv2/calib3d.hpp>
#include <opencv2/imgproc.hpp>
#include <opencv2/videoio.hpp>

#include "calibration_views.h"
#include "lens_calibration.h"

namespace {

using Clock = std::chrono::steady_clock;

constexpr int kCalibrateEvery = 5;  // frames
constexpr int kViewerDetectorFlags = cv::CALIB_CB_ADAPTIVE_THRESH | cv::CALIB_CB_FAST_CHECK;

double millisecondsSince(Clock::time_point start) {
    return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 3) {
        std::fprintf(stderr, "usage: self_calibration_replay VIDEO TRUE_CAMERA.yml [--refine] [--board WxH]\n");
        return 2;
    }
    bool refine = false;
    cv::Size pattern(8, 6);
    for (int a = 3; a < argc; ++a) {
        if (std::strcmp(argv[a], "--refine") == 0) refine = true;
        if (std::strcmp(argv[a], "--board") == 0 && a + 1 < argc)
            std::sscanf(argv[++a], "%dx%d", &pattern.width, &pattern.height);
    }
    cv::VideoCapture video(argv[1], cv::CAP_FFMPEG);
    CameraModel truth;
    std::string error;
    if (!video.isOpened() || !readCameraFile(argv[2], 0, 0, &truth, &error)) {
        std::fprintf(stderr, "self_calibration_replay: cannot read %s or %s %s\n", argv[1], argv[2], error.c_str());
        return 1;
    }
    cv::Mat frame, grey;
    ViewCollection views;
    long frameIndex = 0, calibratedAt = -1, firstTrusted = -1, offers = 0;
    double offerMs = 0;
    std::vector<cv::Point2f> corners;
    std::printf("frame views coverage rms_px f_error_pct centre_error_px f_95pct centre_95px calib_ms trusted\n");
    for (; video.read(frame); ++frameIndex) {
        cv::cvtColor(frame, grey, cv::COLOR_BGR2GRAY);
        if (frameIndex == 0) initViewCollection(&views, grey.size(), pattern, kDefaultCalibrationViews);
        if (cv::findChessboardCorners(grey, pattern, corners, kViewerDetectorFlags)) {
            if (refine) refineBoardCorners(grey, pattern, &corners);
            auto start = Clock::now();
            offerView(&views, corners, grey, frameIndex);
            offerMs += millisecondsSince(start);
            ++offers;
        }
        if (static_cast<int>(views.views.size()) < kTrustMinViews || views.changes == calibratedAt ||
            frameIndex % kCalibrateEvery != 0)
            continue;
        calibratedAt = views.changes;
        LensCalibration lens;
        auto start = Clock::now();
        if (!calibrateLens(views, &lens, &error)) {
            std::printf("%ld failed: %s\n", frameIndex, error.c_str());
            continue;
        }
        double ms = millisecondsSince(start);
        std::string why;
        bool trusted = calibrationTrustworthy(lens, &why);
        if (trusted && firstTrusted < 0) firstTrusted = frameIndex;
        const CameraModel& c = lens.camera;
        std::printf("%5ld %5d %8.2f %6.3f %11.3f %15.2f %5.2f %11.2f %8.0f %s\n", frameIndex, lens.keptCount,
                    lens.coverage, lens.rms, 100 * (c.fx / truth.fx - 1), std::hypot(c.cx - truth.cx, c.cy - truth.cy),
                    196 * std::max(lens.deviationFx / c.fx, lens.deviationFy / c.fy),
                    1.96 * std::max(lens.deviationCx, lens.deviationCy), ms, trusted ? "yes" : why.c_str());
    }
    std::printf("frames %ld, boards offered %ld (%.3f ms per offer), first trusted at frame %ld\n", frameIndex, offers,
                offers ? offerMs / offers : 0.0, firstTrusted);
    return 0;
}
