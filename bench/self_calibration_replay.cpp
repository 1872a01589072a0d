// self_calibration_replay.cpp - replays a video through the lens search as
// the viewer runs it (in the loop, as arrender does), against the video's
// true lens: every frame's board (the library's search, corners refined) is
// offered, every attempt's stages printed with their predicted error (U, B,
// E) beside the true one (the overlay's RMS distance from the true lens's,
// at the board's corners and 3 squares above, in the kept views' poses),
// and every switch with its decision. Shows when the search first switches
// and how good the lens is then. Run by hand.
//
// Usage: self_calibration_replay VIDEO TRUE_CAMERA.yml [--board WxH]
#include <cmath>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include <opencv2/calib3d.hpp>
#include <opencv2/imgproc.hpp>
#include <opencv2/videoio.hpp>

#include "lens_search.h"

namespace {

constexpr int kDetectorFlags = cv::CALIB_CB_ADAPTIVE_THRESH | cv::CALIB_CB_FAST_CHECK;

// The viewer's first f: a one-view estimate with the principal point at the centre.
double firstViewFocal(const std::vector<cv::Point2f>& corners, cv::Size pattern, cv::Size picture) {
    std::vector<cv::Point3f> board;
    for (int i = 0; i < pattern.height; ++i)
        for (int j = 0; j < pattern.width; ++j) board.emplace_back(float(j), float(i), 0.0f);
    cv::Mat K = cv::initCameraMatrix2D(std::vector<std::vector<cv::Point3f>>{board},
                                       std::vector<std::vector<cv::Point2f>>{corners}, picture, 1.0);
    return K.at<double>(0, 0);
}

void printAttempt(long frame, const LensAttempt& a, const LensAttemptResult& r, const CameraModel& truth) {
    for (int s = 0; s < kLensStageCount; ++s) {
        const StageJudgement& j = r.staged.stages[s];
        if (!j.fitted) continue;
        const CameraModel& c = j.calibration.camera;
        double trueError = overlayDifferencePx(truth, j.calibration, a.kept, a.pattern);
        std::printf("%5ld %5zu %-15s %6.3f %7.3f %7.3f %7.3f %7.3f %7.3f %8.3f %7.2f %s\n", frame, a.kept.size(),
                    lensStageName(static_cast<LensStage>(s)), j.calibration.rms, j.uncertaintyPx, j.biasPx,
                    j.predictedPx, trueError, j.recentPx, 100 * (c.fx / truth.fx - 1),
                    std::hypot(c.cx - truth.cx, c.cy - truth.cy), j.trusted ? "trusted" : j.why.c_str());
    }
    std::printf("      in use: stage %d, predicted %.3f px, recent %.3f px; %s: %s\n", a.inUse.stage,
                r.decision.inUsePredictedPx, r.decision.inUseRecentPx, r.decision.switchLens ? "SWITCH" : "stay",
                r.decision.reason.c_str());
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 3) {
        std::fprintf(stderr, "usage: self_calibration_replay VIDEO TRUE_CAMERA.yml [--board WxH]\n");
        return 2;
    }
    cv::Size pattern(8, 6);
    for (int a = 3; a < argc; ++a)
        if (std::strcmp(argv[a], "--board") == 0 && a + 1 < argc)
            std::sscanf(argv[++a], "%dx%d", &pattern.width, &pattern.height);
    cv::VideoCapture video(argv[1], cv::CAP_FFMPEG);
    CameraModel truth;
    std::string error;
    if (!video.isOpened() || !readCameraFile(argv[2], 0, 0, &truth, &error)) {
        std::fprintf(stderr, "self_calibration_replay: cannot read %s or %s %s\n", argv[1], argv[2], error.c_str());
        return 1;
    }
    cv::Mat frame, grey;
    LensSearch search;
    initLensSearch(&search, cv::Size(static_cast<int>(video.get(cv::CAP_PROP_FRAME_WIDTH)),
                                     static_cast<int>(video.get(cv::CAP_PROP_FRAME_HEIGHT))),
                   pattern);
    double viewerFocal = 0;
    long frameIndex = 0, firstSwitch = -1;
    std::vector<cv::Point2f> corners;
    std::printf("frame views stage              rms       U       B       E    true  recent f_err_pct  pp_err\n");
    for (; video.read(frame) && !search.done; ++frameIndex) {
        cv::cvtColor(frame, grey, cv::COLOR_BGR2GRAY);
        if (!cv::findChessboardCorners(grey, pattern, corners, kDetectorFlags) ||
            !refineBoardCorners(grey, pattern, &corners))
            continue;
        if (!(viewerFocal > 0)) viewerFocal = firstViewFocal(corners, pattern, grey.size());
        if (!offerLensView(&search, corners, grey, frameIndex, viewerFocal)) continue;
        LensAttempt attempt = prepareLensAttempt(&search);
        LensAttemptResult result;
        runLensAttempt(attempt, &result);
        printAttempt(frameIndex, attempt, result, truth);
        if (acceptLensAttempt(&search, attempt, result) && firstSwitch < 0) firstSwitch = frameIndex;
    }
    std::printf("frames %ld, first switch at frame %ld, %d switches, %s\n", frameIndex, firstSwitch, search.switches,
                search.done ? "the whole model in use" : "not done");
    return 0;
}
