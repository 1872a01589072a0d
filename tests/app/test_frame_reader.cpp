// The frame reader against the capture read directly: the same frames in the
// same order, every one of them, the start-up's pending frame first, times
// from the frame rate; nothing to read without a started reader.
#include <gtest/gtest.h>

#include <opencv2/core.hpp>
#include <opencv2/videoio.hpp>

#include "frame_reader.h"

namespace {

const std::string kSampleVideo = SAMPLE_VIDEO;

bool samePicture(const cv::Mat& a, const cv::Mat& b) {
    return a.size() == b.size() && a.type() == b.type() && cv::norm(a, b, cv::NORM_INF) == 0;
}

}  // namespace

TEST(FrameReader, GivesEveryFrameOfTheCaptureInOrderThenStops) {
    std::vector<cv::Mat> direct;
    cv::VideoCapture capture(kSampleVideo, cv::CAP_FFMPEG);
    ASSERT_TRUE(capture.isOpened());
    for (cv::Mat frame; capture.read(frame);) direct.push_back(frame.clone());
    ASSERT_GE(direct.size(), 100u);  // the sanitizer build's clip is shorter

    capture.open(kSampleVideo, cv::CAP_FFMPEG);
    cv::Mat first;
    ASSERT_TRUE(capture.read(first));
    startFrameReader(&capture, first, 640, 480);
    cv::Mat frame;
    double timestampMs = -1, previousMs = -1;
    size_t count = 0;
    while (readNextFrame(&frame, &timestampMs)) {
        ASSERT_LT(count, direct.size());
        EXPECT_TRUE(samePicture(frame, direct[count])) << "frame " << count;
        if (count > 0) {
            EXPECT_NEAR(timestampMs - previousMs, 1000.0 / 30, 0.5) << "frame " << count;
        }
        previousMs = timestampMs;
        ++count;
    }
    EXPECT_EQ(count, direct.size());
    EXPECT_FALSE(readNextFrame(&frame, &timestampMs));
    stopFrameReader();
}

TEST(FrameReader, NothingToReadWithoutAStartedReader) {
    cv::Mat frame;
    double timestampMs = 0;
    EXPECT_FALSE(readNextFrame(&frame, &timestampMs));
    stopFrameReader();  // harmless too
    EXPECT_FALSE(readNextFrame(&frame, &timestampMs));
}
