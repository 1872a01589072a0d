// The overlay's look through arrender on the sample video: --shadows darkens
// the video beside the ship by at least a fifth and changes nothing far from
// it; --antialias changes only pixels along the ship's silhouette; neither
// brightens the video.
#include <gtest/gtest.h>

#include <opencv2/imgcodecs.hpp>
#include <opencv2/imgproc.hpp>

#include "viewer_harness.h"

namespace {

const std::string kRenderer = ARRENDER_PATH;
const std::string kBinFolder = kRenderer.substr(0, kRenderer.find_last_of('/'));
const std::string kSampleVideo = SAMPLE_VIDEO;
constexpr int kFrames = 40;

cv::Mat snapshot(const std::vector<std::string>& options, const std::string& name) {
    const std::string path = ::testing::TempDir() + "/overlay_look_" + name + ".png";
    std::vector<std::string> argv = {kRenderer, kSampleVideo, "--frames", std::to_string(kFrames), "--snapshot",
                                     std::to_string(kFrames - 1) + ":" + path};
    argv.insert(argv.end(), options.begin(), options.end());
    ChildProcess child = launch(argv, "", kBinFolder);
    EXPECT_EQ(waitForExit(&child, 300), 0) << readFile(child.stderrPath);
    cv::Mat picture = cv::imread(path, cv::IMREAD_GRAYSCALE);
    EXPECT_FALSE(picture.empty()) << path;
    return picture;
}

}  // namespace

TEST(OverlayLook, ShadowsDarkenBesideTheShipAndAntialiasingTouchesOnlyItsEdges) {
    cv::Mat plain = snapshot({}, "plain"), shadowed = snapshot({"--shadows"}, "shadows"),
            smooth = snapshot({"--antialias"}, "antialias");
    ASSERT_FALSE(plain.empty() || shadowed.empty() || smooth.empty());
    cv::Mat plainWide, shadowedWide, smoothWide;
    plain.convertTo(plainWide, CV_32S);
    shadowed.convertTo(shadowedWide, CV_32S);
    smooth.convertTo(smoothWide, CV_32S);

    cv::Mat darker = shadowedWide * 5 <= plainWide * 4;  // by a fifth at least
    cv::Mat changed = shadowedWide != plainWide;
    EXPECT_GT(cv::countNonZero(darker), 300) << "no shadow";
    EXPECT_EQ(cv::countNonZero(shadowedWide > plainWide + 1), 0) << "the shadow brightened the video";
    cv::Rect where = cv::boundingRect(changed);
    EXPECT_LT(where.area(), plain.total() / 8) << "pixels far from the ship changed: " << where;

    cv::Mat edges = smoothWide != plainWide;
    EXPECT_GT(cv::countNonZero(edges), 30) << "the silhouette was not smoothed";
    cv::Rect edgeBox = cv::boundingRect(edges);
    EXPECT_LT(edgeBox.area(), plain.total() / 20) << "pixels away from the ship changed: " << edgeBox;
    EXPECT_LT(cv::countNonZero(edges), edgeBox.area() / 2) << "more than the silhouette changed";
}
