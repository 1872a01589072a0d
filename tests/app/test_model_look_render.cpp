// Models through the model loader, shaded, as arrender draws them on the
// sample video (one run per model, shared by the checks): the PLY cube's
// faces differ in brightness and none of its pixels saturates; the Collada
// duck shows its texture's yellow; the textured glTF box's white parts are
// lit differently on different faces.
#include <gtest/gtest.h>

#include <algorithm>
#include <map>

#include <opencv2/imgcodecs.hpp>
#include <opencv2/imgproc.hpp>

#include "viewer_harness.h"

namespace {

const std::string kRenderer = ARRENDER_PATH;
const std::string kBinFolder = kRenderer.substr(0, kRenderer.find_last_of('/'));
const std::string kSampleVideo = SAMPLE_VIDEO;
const std::string kModels = "/usr/share/assimp/models/";
constexpr int kFrame = 40;        // the board is found and the model placed
constexpr int kMinimumPixels = 500;

struct Look {
    cv::Mat picture;  // BGR
    cv::Mat mask;     // the model's pixels
};

Look render(const std::string& model, const std::string& name) {
    const std::string path = ::testing::TempDir() + "/model_look_" + name + ".png";
    ChildProcess child = launch({kRenderer, kSampleVideo, "--model", kModels + model, "--frames",
                                 std::to_string(kFrame + 1), "--snapshot", std::to_string(kFrame) + ":" + path},
                                "", kBinFolder);
    EXPECT_EQ(waitForExit(&child, 300), 0) << readFile(child.stderrPath);
    EXPECT_EQ(readFile(child.stderrPath).find("shading:"), std::string::npos) << readFile(child.stderrPath);
    Look look;
    look.picture = cv::imread(path);
    if (look.picture.empty()) return look;
    look.mask = overlayMask(look.picture, videoFrameAt(kSampleVideo, kFrame));
    // Away from the silhouette, where pixels mix model and video.
    cv::erode(look.mask, look.mask, cv::Mat(), cv::Point(-1, -1), 1);
    return look;
}

// The values of one channel (or the grey level, channel -1) under the mask, sorted.
std::vector<int> valuesUnder(const Look& look, int channel, const cv::Mat& also = cv::Mat()) {
    cv::Mat grey;
    cv::cvtColor(look.picture, grey, cv::COLOR_BGR2GRAY);
    std::vector<int> values;
    for (int y = 0; y < look.mask.rows; ++y)
        for (int x = 0; x < look.mask.cols; ++x) {
            if (!look.mask.at<uchar>(y, x) || (!also.empty() && !also.at<uchar>(y, x))) continue;
            values.push_back(channel < 0 ? grey.at<uchar>(y, x) : look.picture.at<cv::Vec3b>(y, x)[channel]);
        }
    std::sort(values.begin(), values.end());
    return values;
}

int percentile(const std::vector<int>& sorted, double share) {
    return sorted.empty() ? 0 : sorted[static_cast<std::size_t>(share * (sorted.size() - 1))];
}

class ModelLook : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        looks["cube"] = render("PLY/cube.ply", "cube");
        looks["duck"] = render("Collada/duck.dae", "duck");
        looks["box"] = render("glTF/BoxTextured-glTF/BoxTextured.gltf", "box");
    }
    static std::map<std::string, Look> looks;
};
std::map<std::string, Look> ModelLook::looks;

}  // namespace

TEST_F(ModelLook, TheCubesFacesDifferAndNoneOfItsPixelsSaturates) {
    const Look& cube = looks["cube"];
    ASSERT_FALSE(cube.picture.empty());
    const std::vector<int> grey = valuesUnder(cube, -1);
    ASSERT_GT(grey.size(), static_cast<std::size_t>(kMinimumPixels));
    EXPECT_GT(percentile(grey, 0.9) - percentile(grey, 0.1), 25) << "the faces are lit alike";
    for (int channel = 0; channel < 3; ++channel) EXPECT_LT(valuesUnder(cube, channel).back(), 255) << channel;
}

TEST_F(ModelLook, TheDuckShowsItsTexturesYellow) {
    const Look& duck = looks["duck"];
    ASSERT_FALSE(duck.picture.empty());
    const cv::Scalar mean = cv::mean(duck.picture, duck.mask);  // blue, green, red
    ASSERT_GT(cv::countNonZero(duck.mask), kMinimumPixels);
    EXPECT_GT(mean[2], mean[0] + 60) << mean;
    EXPECT_GT(mean[1], mean[0] + 40) << mean;
}

TEST_F(ModelLook, TheTexturedBoxsWhitePartsAreLitDifferentlyOnItsFaces) {
    const Look& box = looks["box"];
    ASSERT_FALSE(box.picture.empty());
    cv::Mat hsv, pale;
    cv::cvtColor(box.picture, hsv, cv::COLOR_BGR2HSV);
    cv::inRange(hsv, cv::Scalar(0, 0, 60), cv::Scalar(180, 40, 255), pale);  // the logo's white, however lit
    const std::vector<int> grey = valuesUnder(box, -1, pale);
    ASSERT_GT(grey.size(), static_cast<std::size_t>(kMinimumPixels / 4));
    EXPECT_GT(percentile(grey, 0.9) - percentile(grey, 0.1), 25) << "every face as bright";
}
