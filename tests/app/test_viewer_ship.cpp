// The ship in the real viewer under a private Xvfb, on the sample video with
// its ground truth: where it stands, that the real buildings hide it and the
// phantom boxes never show, how the keys move it, and what a missing mesh
// or texture does.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>

#include <opencv2/imgproc.hpp>

#include "viewer_fixture.h"

namespace {

const std::string kViewer = ARVIEWER_PATH;
const std::string kViewerFolder = folderOf(kViewer);
const std::string kSampleVideo = SAMPLE_VIDEO;
const std::string kSampleTruth = SAMPLE_TRUTH;
const std::string kHiddenShipVideo = HIDDEN_SHIP_VIDEO;
const std::string kHiddenShipTruth = HIDDEN_SHIP_TRUTH;

// Where the keys put the ship's reference point: board (X, Y) and height H.
struct ShipPlace {
    double X, Y, H;
};
constexpr ShipPlace kStartPlace = {16.6, 6.82, 1.2};
cv::Mat shipMask(const cv::Mat& picture, const cv::Mat& video) { return overlayMask(picture, video); }

cv::Point2d centroid(const cv::Mat& mask) {
    cv::Moments m = cv::moments(mask, true);
    return m.m00 > 0 ? cv::Point2d(m.m10 / m.m00, m.m01 / m.m00) : cv::Point2d(-1e6, -1e6);
}

cv::Point2d projectPlace(const TruthFrame& t, const ShipPlace& s, cv::Size image) {
    return projectToPixel(t, s.X, s.Y, -s.H, image);
}

// Largest distance from p of any changed pixel.
double farthestChange(const cv::Mat& mask, cv::Point2d p) {
    double farthest = 0;
    for (int y = 0; y < mask.rows; ++y)
        for (int x = 0; x < mask.cols; ++x)
            if (mask.at<uchar>(y, x)) farthest = std::max(farthest, std::hypot(x - p.x, y - p.y));
    return farthest;
}

std::string makeFolderWith(const std::vector<std::string>& files) {
    char folder[] = "/tmp/viewer-ship-XXXXXX";
    if (!mkdtemp(folder)) return "";
    for (const std::string& f : files) {
        std::string command = "cp " + kViewerFolder + "/" + f + " " + folder + "/";
        if (std::system(command.c_str()) != 0) return "";
    }
    return folder;
}

class ViewerShip : public ViewerTest {
protected:
    cv::Mat playToEnd(const std::string& video, const std::string& folder) {
        return ViewerTest::playToEnd(kViewer, video, folder);
    }
};

}  // namespace

TEST_F(ViewerShip, StandsAtItsPlaceAndNothingOfTheBoxesShows) {
    cv::Mat picture = playToEnd(kSampleVideo, kViewerFolder);
    ASSERT_FALSE(picture.empty());
    cv::Mat last = lastVideoFrame(kSampleVideo, nullptr);
    const TruthFrame t = readGroundTruth(kSampleTruth).back();
    ASSERT_FALSE(hiddenByBuilding(t, kStartPlace.X, kStartPlace.Y, -kStartPlace.H));
    cv::Point2d place = projectPlace(t, kStartPlace, picture.size());
    cv::Mat mask = shipMask(picture, last);
    ASSERT_GT(cv::countNonZero(mask), 300) << "no ship in the picture";
    EXPECT_LT(cv::norm(centroid(mask) - place), 20.0);
    // Everything drawn over the video is the ship (or an axis): the boxes,
    // drawn before the video, left nothing.
    EXPECT_LT(farthestChange(mask, place), 70.0);
}

TEST_F(ViewerShip, RealBuildingHidesTheShipBehindIt) {
    cv::Mat picture = playToEnd(kHiddenShipVideo, kViewerFolder);
    ASSERT_FALSE(picture.empty());
    cv::Mat last = lastVideoFrame(kHiddenShipVideo, nullptr);
    const TruthFrame t = readGroundTruth(kHiddenShipTruth).back();
    ASSERT_TRUE(hiddenByBuilding(t, kStartPlace.X, kStartPlace.Y, -kStartPlace.H));
    cv::Point2d place = projectPlace(t, kStartPlace, picture.size());
    cv::Mat mask = shipMask(picture, last);
    // Around the reference point the video's building shows, not the ship.
    cv::Rect around(static_cast<int>(place.x) - 6, static_cast<int>(place.y) - 6, 13, 13);
    EXPECT_EQ(cv::countNonZero(mask(around & cv::Rect(0, 0, mask.cols, mask.rows))), 0);
    EXPECT_LT(farthestChange(mask, place), 70.0);
}

TEST_F(ViewerShip, KeysMoveItAsTheyShould) {
    ASSERT_FALSE(playToEnd(kSampleVideo, kViewerFolder).empty());
    cv::Mat last = lastVideoFrame(kSampleVideo, nullptr);
    const TruthFrame t = readGroundTruth(kSampleTruth).back();
    cv::Size size = last.size();
    struct Step {
        const char* keys;
        ShipPlace before, after;
    } steps[] = {
        {"o", kStartPlace, {0, 0, 0}},                                   // to the board's origin
        {"s s s", {0, 0, 0}, {0, 0, 1.8}},                              // up three steps of 0.6
        {"a a a a", {0, 0, 1.8}, {0, 0, 0}},                            // down, stopping at the board
        {"Up", {0, 0, 0}, {-1, 0, 0}},                                  // nose along -X at heading 180
        {"Left Left Up", {-1, 0, 0}, {-1 - std::cos(0.2 * M_PI), -std::sin(0.2 * M_PI), 0}},  // heading 216
    };
    for (const Step& step : steps) {
        cv::Mat picture = pressAndCapture(step.keys);
        ASSERT_FALSE(picture.empty()) << step.keys;
        cv::Point2d c = centroid(shipMask(picture, last));
        cv::Point2d expected = projectPlace(t, step.after, size), previous = projectPlace(t, step.before, size);
        EXPECT_LT(cv::norm(c - expected), 20.0) << step.keys;
        EXPECT_LT(cv::norm(c - expected), cv::norm(c - previous)) << step.keys;
    }
}

TEST_F(ViewerShip, MissingMeshLeavesVideoAndAxes) {
    std::string folder = makeFolderWith({"spaceshiptexture.bmp"});
    ASSERT_FALSE(folder.empty());
    cv::Mat picture = playToEnd(kSampleVideo, folder);
    ASSERT_FALSE(picture.empty());
    cv::Mat last = lastVideoFrame(kSampleVideo, nullptr);
    EXPECT_EQ(cv::countNonZero(shipMask(picture, last)), 0);
    EXPECT_EQ(readFile(viewer.stdoutPath), "width=640 height=480\n");
    std::system(("rm -rf " + folder).c_str());
}

namespace {

// The missing-texture message, dismissed, ends the viewer with status 0.
void expectMessageThenExitWithZero(ChildProcess* viewer, const XServer& server) {
    unsigned long box = findWindow(server, "Quorvane", 30);
    ASSERT_NE(box, 0ul);
    EXPECT_EQ(waitForExit(viewer, 0.5), -1) << "ended before the message was dismissed";
    pressKeys(server, box, "Return");
    EXPECT_EQ(waitForExit(viewer, 20), 0);
    EXPECT_NE(readFile(viewer->stderrPath).find("Image file: spaceshiptexture.bmp not found"), std::string::npos);
}

}  // namespace

TEST_F(ViewerShip, MissingTextureShowsMessageThenExitsWithZero) {
    std::string folder = makeFolderWith({"spaceship.3DS"});
    ASSERT_FALSE(folder.empty());
    viewer = launch({kViewer, kSampleVideo}, server.display, folder);
    expectMessageThenExitWithZero(&viewer, server);
    std::system(("rm -rf " + folder).c_str());
}

// With the self-calibration's worker asked for too: that exit comes before
// any thread starts, so nothing is left running or waiting.
TEST_F(ViewerShip, MissingTextureExitsWithZeroAlsoWithTheSelfCalibration) {
    std::string folder = makeFolderWith({"spaceship.3DS"});
    ASSERT_FALSE(folder.empty());
    viewer = launch({kViewer, kSampleVideo, "--self-calibrate"}, server.display, folder);
    expectMessageThenExitWithZero(&viewer, server);
    std::system(("rm -rf " + folder).c_str());
}
