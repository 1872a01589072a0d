// The viewer as a video player, through its real window: a file plays at its
// own pace, Space pauses it, Escape and Q end the viewer, and the ship's keys
// redraw the picture after the video has ended.
#include <gtest/gtest.h>

#include <unistd.h>

#include <chrono>

#include "viewer_fixture.h"

namespace {

const std::string kViewer = ARVIEWER_PATH;
const std::string kViewerFolder = folderOf(kViewer);
const std::string kSampleVideo = SAMPLE_VIDEO;  // 300 frames at 30 fps
const std::string kShortClip = SHORT_CLIP;      // 60 frames at 30 fps

bool samePicture(const cv::Mat& a, const cv::Mat& b) {
    return !a.empty() && a.size() == b.size() && cv::norm(a, b, cv::NORM_INF) == 0;
}

double secondsSince(std::chrono::steady_clock::time_point start) {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

class ViewerPlayer : public ViewerTest {
protected:
    void start(const std::vector<std::string>& arguments) {
        std::vector<std::string> argv = {kViewer};
        argv.insert(argv.end(), arguments.begin(), arguments.end());
        viewer = launch(argv, server.display, kViewerFolder);
        window = findWindow(server, kViewerTitle, 30);
    }
};

}  // namespace

TEST_F(ViewerPlayer, ShipKeysRedrawThePictureAfterTheVideoEnded) {
    cv::Mat ended = playToEnd(kViewer, kShortClip, kViewerFolder);
    ASSERT_FALSE(ended.empty());
    ASSERT_TRUE(pressKeys(server, window, "o s s Left"));
    usleep(800000);
    cv::Mat steered = captureWindow(server, window);
    EXPECT_FALSE(samePicture(steered, ended)) << "the keys did not redraw the picture";
}

TEST_F(ViewerPlayer, FilePlaysAtItsOwnPace) {
    auto start = std::chrono::steady_clock::now();
    this->start({kShortClip});
    ASSERT_NE(window, 0ul);
    ASSERT_FALSE(waitForStillPicture(server, window, 120).empty());
    // The picture is still for 1.2 s before it counts as still; the clip's
    // 60 frames last 2 s at their pace, and a slow machine only adds to that.
    EXPECT_GT(secondsSince(start) - 1.2, 1.6);
}

TEST_F(ViewerPlayer, SpacePausesAndResumesAFile) {
    start({kSampleVideo});
    ASSERT_NE(window, 0ul);
    usleep(1000000);
    ASSERT_TRUE(pressKeys(server, window, "space"));
    usleep(500000);
    cv::Mat paused = captureWindow(server, window);
    usleep(1500000);
    EXPECT_TRUE(samePicture(captureWindow(server, window), paused)) << "the video went on while paused";
    // The keys still work while paused.
    ASSERT_TRUE(pressKeys(server, window, "o"));
    usleep(800000);
    cv::Mat steered = captureWindow(server, window);
    EXPECT_FALSE(samePicture(steered, paused));
    ASSERT_TRUE(pressKeys(server, window, "space"));
    cv::Mat ended = waitForStillPicture(server, window, 120);
    ASSERT_FALSE(ended.empty());
    EXPECT_FALSE(samePicture(ended, steered)) << "the video did not resume";
}

TEST_F(ViewerPlayer, EscapeAndQEndTheViewerWithStatusZero) {
    for (const char* key : {"Escape", "q", "Q"}) {
        start({kSampleVideo, "--fast"});
        ASSERT_NE(window, 0ul) << key;
        ASSERT_TRUE(pressKeys(server, window, key)) << key;
        EXPECT_EQ(waitForExit(&viewer, 30), 0) << key;
    }
}
