// The frame reader against the capture read directly: the same frames in the
// same order, every one of them, the start-up's pending frame first, times
// from the frame rate; nothing to read without a started reader; one reader
// at a time; a capture that throws ends the video instead of the process.
#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <thread>

#include <opencv2/core.hpp>
#include <opencv2/videoio.hpp>

#include "frame_reader.h"

namespace {

const std::string kSampleVideo = SAMPLE_VIDEO;

bool samePicture(const cv::Mat& a, const cv::Mat& b) {
    return a.size() == b.size() && a.type() == b.type() && cv::norm(a, b, cv::NORM_INF) == 0;
}

// A capture whose decoder throws at its third frame, as OpenCV does on
// some damaged streams.
class ThrowingCapture : public cv::VideoCapture {
public:
    bool read(cv::OutputArray image) override {
        if (++reads == 3) CV_Error(cv::Error::StsError, "damaged packet");
        cv::Mat(480, 640, CV_8UC3, cv::Scalar(reads, 0, 0)).copyTo(image);
        return true;
    }
    double get(int) const override { return 0; }
    int reads = 0;
};

// A live source: frames numbered in their first pixel, one every
// millisecond, ended after `count`.
class LiveCapture : public cv::VideoCapture {
public:
    explicit LiveCapture(int count) : count(count) {}
    bool read(cv::OutputArray image) override {
        if (sent == count) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
        cv::Mat frame(48, 64, CV_8UC3, cv::Scalar(0, 0, 0));
        frame.at<cv::Vec3b>(0, 0) = cv::Vec3b(sent % 256, sent / 256, 0);
        frame.copyTo(image);
        ++sent;
        return true;
    }
    double get(int) const override { return 0; }
    int count, sent = 0;
};

// A camera that goes silent: two frames, then a read that blocks until the
// test lets it go (a cable pulled, a driver that never answers).
class StallingCapture : public cv::VideoCapture {
public:
    bool read(cv::OutputArray image) override {
        if (sent == 2) {
            std::unique_lock<std::mutex> lock(mutex);
            released.wait(lock, [this] { return free; });
            return false;
        }
        cv::Mat(48, 64, CV_8UC3, cv::Scalar(++sent, 0, 0)).copyTo(image);
        return true;
    }
    double get(int) const override { return 0; }
    void release() override {
        std::lock_guard<std::mutex> lock(mutex);
        free = true;
        released.notify_all();
    }
    int sent = 0;
    std::mutex mutex;
    std::condition_variable released;
    bool free = false;
};

int numberOf(const cv::Mat& frame) {
    const cv::Vec3b p = frame.at<cv::Vec3b>(0, 0);
    return p[0] + 256 * p[1];
}

}  // namespace

TEST(FrameReader, ALiveSourceGivesTheNewestFrameAndCountsTheRestWithoutTouchingTheOneHeld) {
    LiveCapture capture(400);
    ASSERT_TRUE(startFrameReader(&capture, cv::Mat(), 64, 48, FrameReaderMode::kNewestFrame));
    cv::Mat frame;
    double timestampMs = 0;
    int taken = 0, previous = -1;
    while (readNextFrame(&frame, &timestampMs)) {
        const int number = numberOf(frame);
        EXPECT_GT(number, previous);  // in order, never one twice
        previous = number;
        ++taken;
        // A loop slower than the source; the frame it holds stays as it was.
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
        EXPECT_EQ(numberOf(frame), number);
    }
    EXPECT_EQ(previous, 399);  // the last frame is never dropped
    EXPECT_GT(framesDropped(), 0);
    EXPECT_EQ(taken + framesDropped(), 400);
    EXPECT_EQ(stopFrameReader(), &capture);
    EXPECT_EQ(taken + framesDropped(), 400);  // still counted after the stop
}

TEST(FrameReader, GivesEveryFrameOfTheCaptureInOrderThenStops) {
    std::vector<cv::Mat> direct;
    cv::VideoCapture capture(kSampleVideo, cv::CAP_FFMPEG);
    ASSERT_TRUE(capture.isOpened());
    for (cv::Mat frame; capture.read(frame);) direct.push_back(frame.clone());
    ASSERT_GE(direct.size(), 100u);  // the sanitizer build's clip is shorter

    capture.open(kSampleVideo, cv::CAP_FFMPEG);
    cv::Mat first;
    ASSERT_TRUE(capture.read(first));
    ASSERT_TRUE(startFrameReader(&capture, first, 640, 480));
    EXPECT_FALSE(startFrameReader(&capture, first, 640, 480));  // one reader at a time
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
    EXPECT_EQ(stopFrameReader(), &capture);
}

TEST(FrameReader, ACaptureThatThrowsEndsTheVideoThere) {
    ThrowingCapture capture;
    ASSERT_TRUE(startFrameReader(&capture, cv::Mat(), 640, 480));
    cv::Mat frame;
    double timestampMs = 0;
    int frames = 0;
    testing::internal::CaptureStderr();
    while (readNextFrame(&frame, &timestampMs)) ++frames;
    std::string said = testing::internal::GetCapturedStderr();
    EXPECT_EQ(frames, 2);
    EXPECT_NE(said.find("video: frame 2 cannot be decoded"), std::string::npos) << said;
    EXPECT_EQ(stopFrameReader(), &capture);
}

// The loop of a silent source waits a bounded time and sees it late, not
// ended; a stop does not wait for ever on a read that never returns.
TEST(FrameReader, ASilentSourceIsLateThenLeftToItsReadWhenStopped) {
    static StallingCapture capture;  // outlives the stuck reader's thread
    ASSERT_TRUE(startFrameReader(&capture, cv::Mat(), 64, 48, FrameReaderMode::kNewestFrame));
    cv::Mat frame;
    double timestampMs = 0;
    int last = 0;  // the second frame may replace the first before it is taken
    for (int tries = 0; last < 2 && tries < 1000; ++tries)
        if (readNextFrameWithin(&frame, &timestampMs, 10) == FrameWait::kFrame) last = frame.at<cv::Vec3b>(0, 0)[0];
    EXPECT_EQ(last, 2);
    EXPECT_EQ(readNextFrameWithin(&frame, &timestampMs, 50), FrameWait::kLate);

    const auto before = std::chrono::steady_clock::now();
    EXPECT_EQ(stopFrameReader(100), nullptr);  // the capture stays the stuck reader's
    EXPECT_LT(std::chrono::steady_clock::now() - before, std::chrono::seconds(5));
    EXPECT_EQ(readNextFrameWithin(&frame, &timestampMs, 0), FrameWait::kEnded);  // no reader now

    // A new reader may start while the old one is still stuck.
    LiveCapture next(3);
    ASSERT_TRUE(startFrameReader(&next, cv::Mat(), 64, 48, FrameReaderMode::kNewestFrame));
    capture.release();  // the old read returns; its thread ends on its own
    int taken = 0;
    while (readNextFrame(&frame, &timestampMs)) ++taken;
    EXPECT_GE(taken, 1);
    EXPECT_EQ(stopFrameReader(), &next);
}

TEST(FrameReader, NothingToReadWithoutAStartedReader) {
    cv::Mat frame;
    double timestampMs = 0;
    EXPECT_FALSE(readNextFrame(&frame, &timestampMs));
    EXPECT_EQ(stopFrameReader(), nullptr);  // harmless too
    EXPECT_FALSE(readNextFrame(&frame, &timestampMs));
}
