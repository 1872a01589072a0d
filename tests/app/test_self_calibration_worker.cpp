// The self-calibration worker thread: views offered from the frame loop while
// the worker calibrates on its copy, a lens picked up by a later frame, and
// stopping with a calibration under way. Built also under ThreadSanitizer.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <thread>

#include <opencv2/imgproc.hpp>

#include "lens_views.h"
#include "self_calibration.h"

namespace {

// The picture the corners stand for: a chessboard whose squares join the
// corners, its outer row of squares extrapolated one square outwards, so that
// every inner corner is a crossing of sharp edges.
cv::Mat pictureOf(const TrueLens& lens, const std::vector<cv::Point2f>& corners) {
    const int columns = lens.pattern.width, rows = lens.pattern.height;
    auto inner = [&](int r, int c) { return corners[r * columns + c]; };
    // The grid with one more corner on every side: (rows + 2) x (columns + 2).
    auto at = [&](int r, int c) -> cv::Point2f {
        const int rc = std::clamp(r, 0, rows - 1), cc = std::clamp(c, 0, columns - 1);
        cv::Point2f p = inner(rc, cc);
        if (r != rc) p += p - inner(rc + (r < 0 ? 1 : -1), cc);
        if (c != cc) p += inner(rc, cc) - inner(rc, cc + (c < 0 ? 1 : -1));
        return p;
    };
    cv::Mat picture(lens.picture, CV_8UC3, cv::Scalar(230, 230, 230));
    for (int r = -1; r < rows; ++r)
        for (int c = -1; c < columns; ++c) {
            if ((r + c + 2) % 2 != 0) continue;
            const cv::Point quad[4] = {at(r, c), at(r, c + 1), at(r + 1, c + 1), at(r + 1, c)};
            cv::fillConvexPoly(picture, quad, 4, cv::Scalar(20, 20, 20), cv::LINE_AA);
        }
    return picture;
}

}  // namespace

TEST(SelfCalibrationWorker, FindsTheLensWhileTheLoopGoesOnAndStopsCleanly) {
    const TrueLens lens;
    const auto views = sweep(lens, 400, 0.08, 7);
    startSelfCalibration(lens.picture, lens.pattern, kCalibrateOnWorker);
    CameraModel model;
    LensSwitchReport report{};
    int switches = 0;
    long frame = 0;
    double f = 560;  // the viewer's first guess
    for (const auto& corners : views) {
        ++frame;
        if (corners.empty()) continue;
        offerBoardView(pictureOf(lens, corners), corners.data(), int(corners.size()), frame, f);
        std::this_thread::sleep_for(std::chrono::milliseconds(5));  // the rest of a frame
        if (takeTrustedLens(&model, &report)) {
            ++switches;
            f = model.fx;
        }
        (void)selfCalibrationStatus();  // as the HUD asks, every frame
    }
    // The loop goes on without views until the worker has answered.
    for (int i = 0; i < 1200 && switches == 0; ++i) {
        if (takeTrustedLens(&model, &report)) {
            ++switches;
            f = model.fx;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        ++frame;
    }
    EXPECT_GE(switches, 1);
    EXPECT_NEAR(f, lens.f, 0.01 * lens.f);
    stopSelfCalibration();
    stopSelfCalibration();  // a second stop does nothing
}

TEST(SelfCalibrationWorker, StopsWithACalibrationUnderWay) {
    const TrueLens lens;
    const auto views = sweep(lens, 60, 0.1, 11);
    startSelfCalibration(lens.picture, lens.pattern, kCalibrateOnWorker);
    long frame = 0;
    for (const auto& corners : views)
        if (!corners.empty()) offerBoardView(pictureOf(lens, corners), corners.data(), int(corners.size()), ++frame, 560);
    stopSelfCalibration();
    CameraModel model;
    LensSwitchReport report{};
    EXPECT_FALSE(selfCalibrationStatus().running);
    // A frame that comes after the stop changes nothing and starts nothing.
    offerBoardView(pictureOf(lens, views[0]), views[0].data(), int(views[0].size()), ++frame, 560);
    EXPECT_FALSE(takeTrustedLens(&model, &report));
}
