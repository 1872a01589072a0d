// Board tracking without a window: frames normalised before detection, the
// quick pre-check losing no board, and the camera following the sample video.
#include <gtest/gtest.h>

#include <cmath>

#include <opencv2/calib3d.hpp>
#include <opencv2/videoio.hpp>

#include "startup.h"
#include "state.h"
#include "board_detector.h"
#include "tracking.h"
#include "video.h"
#include "viewer_harness.h"

namespace {

const std::string kSampleVideo = SAMPLE_VIDEO;
const std::string kSampleTruth = SAMPLE_TRUTH;

}  // namespace

TEST(FrameNormalisation, AnyDepthChannelsAndSizeBecomeBgrAtStartUpSize) {
    cv::Mat grey16(240, 321, CV_16UC1, cv::Scalar(65535));
    cv::Mat out = normaliseFrame(grey16, 642, 480);
    EXPECT_EQ(out.type(), CV_8UC3);
    EXPECT_EQ(out.size(), cv::Size(642, 480));
    EXPECT_EQ(out.at<cv::Vec3b>(100, 100), cv::Vec3b(255, 255, 255));
    cv::Mat bgra(480, 642, CV_8UC4, cv::Scalar(10, 20, 30, 40));
    out = normaliseFrame(bgra, 642, 480);
    EXPECT_EQ(out.type(), CV_8UC3);
    EXPECT_EQ(out.at<cv::Vec3b>(0, 0), cv::Vec3b(10, 20, 30));
    cv::Mat same(480, 642, CV_8UC3, cv::Scalar(1, 2, 3));
    EXPECT_EQ(normaliseFrame(same, 642, 480).data, same.data);  // nothing to do, nothing copied
}

TEST(BoardTracking, QuickPreCheckLosesNoBoardOfTheSampleVideo) {
    cv::VideoCapture capture(kSampleVideo, cv::CAP_FFMPEG);
    cv::Mat frame;
    int frames = 0, found = 0;
    while (capture.read(frame)) {
        std::vector<cv::Point2f> full, quick;
        bool fullFound = cv::findChessboardCorners(frame, cv::Size(8, 6), full, cv::CALIB_CB_ADAPTIVE_THRESH);
        bool quickFound = cv::findChessboardCorners(frame, cv::Size(8, 6), quick, kBoardDetectorFlags);
        EXPECT_EQ(quickFound, fullFound) << "frame " << frames;
        if (fullFound && quickFound) {
            EXPECT_EQ(cv::norm(full, quick, cv::NORM_INF), 0.0) << "frame " << frames;
        }
        found += fullFound;
        ++frames;
    }
    EXPECT_GT(found, frames * 9 / 10);
}

TEST(BoardTracking, FocalFromFirstSightingThenPoseFollowsTheBoard) {
    ASSERT_TRUE(openVideoSource(chooseVideoSource({kSampleVideo}), CaptureRequest(), &movie));
    ASSERT_TRUE(readVideoSize(&movie));
    initRecords();
    startAcquisition(&movie);
    std::vector<TruthFrame> truth = readGroundTruth(kSampleTruth);
    double firstFocal = 0;
    for (size_t i = 0; i < truth.size() && acquireFrame(); ++i) {
        double previousT[3] = {camera.T[0], camera.T[1], camera.T[2]};
        trackBoard();
        if (!chess.found) {
            // A frame without the board leaves the pose where it was.
            for (int k = 0; k < 3; ++k) EXPECT_EQ(camera.T[k], previousT[k]) << "frame " << i;
            continue;
        }
        ASSERT_TRUE(camera.calibrated);
        if (firstFocal == 0) firstFocal = camera.f;
        EXPECT_EQ(camera.f, firstFocal);
        double distance = std::sqrt(truth[i].T[0] * truth[i].T[0] + truth[i].T[1] * truth[i].T[1] +
                                     truth[i].T[2] * truth[i].T[2]);
        for (int k = 0; k < 3; ++k) EXPECT_NEAR(camera.T[k], truth[i].T[k], 0.05 * distance) << "frame " << i;
    }
    EXPECT_NEAR(firstFocal, truth[0].f, 0.05 * truth[0].f);
    stopAcquisition(&movie);
}
