// The viewer through its real window under a private Xvfb: command-line
// failures, the size line, the picture after the sample video has played
// (upright, axes on the board), the window holding its size, odd widths.
#include <gtest/gtest.h>

#include <cmath>

#include "viewer_fixture.h"
#include "video.h"

namespace {

const std::string kViewer = ARVIEWER_PATH;
const std::string kViewerFolder = folderOf(kViewer);
const std::string kSampleVideo = SAMPLE_VIDEO;
const std::string kSampleTruth = SAMPLE_TRUTH;
const std::string kOddWidthVideo = ODD_WIDTH_VIDEO;
const char* const kCaptureError = "Could not initialize capturing...\n";

class ViewerWindow : public ViewerTest {
protected:
    cv::Mat playToEnd(const std::string& video) { return ViewerTest::playToEnd(kViewer, video, kViewerFolder); }
};

double meanAbsoluteDifference(const cv::Mat& a, const cv::Mat& b) {
    cv::Mat difference;
    cv::absdiff(a, b, difference);
    cv::Scalar m = cv::mean(difference);
    return (m[0] + m[1] + m[2]) / 3.0;
}

}  // namespace

TEST(ViewerCommandLine, SourceChoiceFollowsArgumentShape) {
    EXPECT_EQ(chooseVideoSource({}).kind, VideoSourceKind::kCamera);
    EXPECT_EQ(chooseVideoSource({}).cameraIndex, 0);
    EXPECT_EQ(chooseVideoSource({"7"}).kind, VideoSourceKind::kCamera);
    EXPECT_EQ(chooseVideoSource({"7"}).cameraIndex, 7);
    EXPECT_EQ(chooseVideoSource({"07"}).kind, VideoSourceKind::kFile);
    EXPECT_EQ(chooseVideoSource({"x"}).kind, VideoSourceKind::kFile);
    EXPECT_EQ(chooseVideoSource({"x"}).path, "x");
    EXPECT_EQ(chooseVideoSource({"7", "x"}).kind, VideoSourceKind::kNone);
    for (const char* url : {"http://10.0.0.2:8080/video", "https://cam/x.mjpg", "rtsp://cam/live", "udp://0.0.0.0:5000",
                            "tcp://127.0.0.1:9000"}) {
        EXPECT_EQ(chooseVideoSource({url}).kind, VideoSourceKind::kStream) << url;
        EXPECT_EQ(chooseVideoSource({url}).path, url);
    }
    EXPECT_EQ(chooseVideoSource({"http_clip.avi"}).kind, VideoSourceKind::kFile);
    EXPECT_EQ(chooseVideoSource({"ftp://host/clip.avi"}).kind, VideoSourceKind::kFile);
}

TEST_F(ViewerWindow, BadSourcesFailWithErrorLineAndNoWindow) {
    for (std::vector<std::string> args : {std::vector<std::string>{kViewer, "a.avi", "b.avi"},
                                          std::vector<std::string>{kViewer, "/nonexistent/clip.avi"},
                                          std::vector<std::string>{kViewer, "7"}}) {
        ChildProcess child = launch(args, server.display);
        EXPECT_EQ(waitForExit(&child, 30), 255) << args[1];
        EXPECT_EQ(readFile(child.stderrPath), kCaptureError) << args[1];
        EXPECT_EQ(readFile(child.stdoutPath), "") << args[1];
        EXPECT_EQ(findWindow(server, kViewerTitle, 0.1), 0ul);
    }
}

TEST_F(ViewerWindow, WithoutDisplayPrintsSizeThenOneErrorLine) {
    ChildProcess child = launch({kViewer, kSampleVideo}, "");
    EXPECT_EQ(waitForExit(&child, 30), 255);
    EXPECT_EQ(readFile(child.stdoutPath), "width=640 height=480\n");
    std::string error = readFile(child.stderrPath);
    EXPECT_NE(error.find("display"), std::string::npos) << error;
    EXPECT_EQ(std::count(error.begin(), error.end(), '\n'), 1) << error;
}

TEST_F(ViewerWindow, SampleVideoEndsUprightWithAxesOnTheBoard) {
    cv::Mat picture = playToEnd(kSampleVideo);
    ASSERT_NE(window, 0ul);
    ASSERT_FALSE(picture.empty()) << "the picture never settled";
    EXPECT_EQ(readFile(viewer.stdoutPath).rfind("width=640 height=480\n", 0), 0u);
    EXPECT_EQ(windowSize(server, window), cv::Size(640, 480));

    int frames = 0;
    cv::Mat last = lastVideoFrame(kSampleVideo, &frames);
    cv::Mat flipped;
    cv::flip(last, flipped, 0);
    EXPECT_LT(meanAbsoluteDifference(picture, last), 3.0);
    EXPECT_GT(meanAbsoluteDifference(picture, flipped), 20.0);

    std::vector<TruthFrame> truth = readGroundTruth(kSampleTruth);
    ASSERT_EQ(static_cast<int>(truth.size()), frames);
    const TruthFrame& t = truth.back();
    struct Axis { cv::Vec3b colour; double X, Y, Z; } axes[] = {
        {{255, 0, 0}, 7, 0, 0}, {{0, 255, 0}, 0, 0, -7.5}, {{0, 0, 255}, 0, 5, 0}};
    for (const Axis& axis : axes) {
        int checked = 0;
        for (double s : {0.25, 0.5, 0.75}) {
            double X = s * axis.X, Y = s * axis.Y, Z = s * axis.Z;
            cv::Point2d p = projectToPixel(t, X, Y, Z, picture.size());
            if (p.x < 3 || p.y < 3 || p.x > picture.cols - 4 || p.y > picture.rows - 4) continue;
            if (hiddenByBuilding(t, X, Y, Z)) continue;
            ++checked;
            EXPECT_TRUE(colourNear(picture, p, axis.colour, 3, 40)) << "axis point " << X << "," << Y << "," << Z;
            EXPECT_FALSE(colourNear(last, p, axis.colour, 0, 40));
        }
        EXPECT_GT(checked, 0);
    }
}

TEST_F(ViewerWindow, ResizedWindowSnapsBackToVideoSize) {
    viewer = launch({kViewer, kSampleVideo}, server.display, kViewerFolder);
    window = findWindow(server, kViewerTitle, 30);
    ASSERT_NE(window, 0ul);
    std::string command = "DISPLAY=" + server.display + " xdotool windowsize " + std::to_string(window) + " 300 200";
    ASSERT_EQ(std::system(command.c_str()), 0);
    cv::Size size;
    for (int attempt = 0; attempt < 50 && size != cv::Size(640, 480); ++attempt) {
        usleep(100000);
        size = windowSize(server, window);
    }
    EXPECT_EQ(size, cv::Size(640, 480));
}

TEST_F(ViewerWindow, OddRowLengthPlaysWithoutSkew) {
    cv::Mat picture = playToEnd(kOddWidthVideo);
    ASSERT_FALSE(picture.empty());
    cv::Mat last = lastVideoFrame(kOddWidthVideo, nullptr);
    ASSERT_EQ(picture.size(), last.size());
    EXPECT_LT(meanAbsoluteDifference(picture, last), 3.0);
}
