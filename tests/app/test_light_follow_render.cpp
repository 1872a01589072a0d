// --light auto through arrender on a clip whose light dims to half and warms
// (make_board_video --illumination 1:0.5@20-50 --tint 0.8,1,1.25: blue down,
// red up), with a grey box drawn through the model loader: the poses' light
// columns follow the board's white squares as this test measures them in
// the clip's frames, and the box's colour follows them too, against a run
// without the option (which divides out how the box's faces turn to the
// camera). The box's colour is averaged in linear light, as the squares are:
// the models' shading scales it linearly with their light.
#include <gtest/gtest.h>
#include <unistd.h>

#include <array>
#include <cmath>
#include <cstdio>
#include <fstream>
#include <sstream>

#include <opencv2/calib3d.hpp>
#include <opencv2/imgcodecs.hpp>
#include <opencv2/imgproc.hpp>
#include <opencv2/videoio.hpp>

#include "board_light.h"
#include "srgb.h"
#include "viewer_harness.h"

namespace {

using Rgb = std::array<double, 3>;

const std::string kRenderer = ARRENDER_PATH;
const std::string kBinFolder = kRenderer.substr(0, kRenderer.find_last_of('/'));
const std::string kRampClip = LIGHT_RAMP_CLIP;
// Before the ramp, and 35 frames (about 4 of the smoothing's time constants)
// after its end.
constexpr int kEarlyFrame = 10, kSettledFrames[] = {80, 85, 89};
constexpr int kSettledFrame = 85;
constexpr double kTolerance = 0.10;

struct RenderRun {
    std::vector<Rgb> light;  // light_r, light_g, light_b per frame; empty without the columns
    cv::Mat early, settled;  // snapshots
};

std::string scratchFolder() {
    char folder[] = "/tmp/light-follow-test-XXXXXX";
    return mkdtemp(folder) ? folder : "";
}

int column(const std::vector<std::string>& header, const std::string& name) {
    for (size_t k = 0; k < header.size(); ++k)
        if (header[k] == name) return static_cast<int>(k);
    return -1;
}

std::vector<std::string> fields(const std::string& line) {
    std::vector<std::string> out;
    std::stringstream in(line);
    for (std::string field; std::getline(in, field, ',');) out.push_back(field);
    return out;
}

std::vector<Rgb> lightColumns(const std::string& posesPath) {
    std::ifstream in(posesPath);
    std::string line;
    std::getline(in, line);
    const std::vector<std::string> header = fields(line);
    const int r = column(header, "light_r"), g = column(header, "light_g"), b = column(header, "light_b");
    std::vector<Rgb> rows;
    if (r < 0 || g < 0 || b < 0) return rows;
    while (std::getline(in, line)) {
        std::vector<std::string> row = fields(line);
        rows.push_back({std::stod(row.at(r)), std::stod(row.at(g)), std::stod(row.at(b))});
    }
    return rows;
}

RenderRun render(bool lightAuto, const std::string& folder) {
    const std::string tag = lightAuto ? "auto" : "fixed", poses = folder + "/poses_" + tag + ".csv";
    const std::string early = folder + "/early_" + tag + ".png", settled = folder + "/settled_" + tag + ".png";
    std::vector<std::string> argv = {kRenderer, kRampClip, "--model", folder + "/box.obj", "--poses", poses,
                                     "--snapshot", std::to_string(kEarlyFrame) + ":" + early, "--snapshot",
                                     std::to_string(kSettledFrame) + ":" + settled};
    if (lightAuto) argv.insert(argv.end(), {"--light", "auto"});
    ChildProcess child = launch(argv, "", kBinFolder);
    EXPECT_EQ(waitForExit(&child, 600), 0) << readFile(child.stderrPath);
    return {lightColumns(poses), cv::imread(early), cv::imread(settled)};
}

void writeGreyBox(const std::string& folder) {
    std::ofstream(folder + "/box.mtl") << "newmtl grey\nKd 0.35 0.35 0.35\n";
    std::ofstream(folder + "/box.obj") << "mtllib box.mtl\nusemtl grey\n"
                                          "v 0 0 0\nv 1 0 0\nv 1 1 0\nv 0 1 0\nv 0 0 1\nv 1 0 1\nv 1 1 1\nv 0 1 1\n"
                                          "f 1 4 3 2\nf 5 6 7 8\nf 1 2 6 5\nf 2 3 7 6\nf 3 4 8 7\nf 4 1 5 8\n";
}

std::vector<cv::Mat> clipFrames() {
    cv::VideoCapture capture(kRampClip, cv::CAP_FFMPEG);
    std::vector<cv::Mat> frames;
    for (cv::Mat frame; capture.read(frame);) frames.push_back(frame.clone());
    return frames;
}

// The white squares' linear red, green, blue in a frame of the clip, from
// the library's own board search.
Rgb whiteSquares(const cv::Mat& frame) {
    std::vector<cv::Point2f> corners;
    cv::Mat grey;
    cv::cvtColor(frame, grey, cv::COLOR_BGR2GRAY);
    if (!cv::findChessboardCorners(grey, cv::Size(8, 6), corners)) return {NAN, NAN, NAN};
    BoardSquares s;
    if (!measureBoardSquares(frame, corners.data(), cv::Size(8, 6), &s)) return {NAN, NAN, NAN};
    return {s.white[0], s.white[1], s.white[2]};
}

// Where a snapshot shows the model: far from the clip's frame, and not on a
// thin line (the board's axes).
cv::Mat modelPixels(const cv::Mat& snapshot, const cv::Mat& frame) {
    cv::Mat difference, grey, mask;
    cv::absdiff(snapshot, frame, difference);
    cv::transform(difference, grey, cv::Matx13f(1, 1, 1));
    mask = grey > 40;
    cv::erode(mask, mask, cv::getStructuringElement(cv::MORPH_RECT, cv::Size(7, 7)));
    return mask;
}

// The mean linear light of the masked pixels: the picture is sRGB-encoded,
// as the video is, and the board's squares are measured in linear light.
Rgb meanColour(const cv::Mat& picture, const cv::Mat& mask) {
    cv::Mat linear(picture.size(), CV_32FC3);
    for (int y = 0; y < picture.rows; ++y)
        for (int x = 0; x < picture.cols; ++x) {
            const cv::Vec3b p = picture.at<cv::Vec3b>(y, x);
            for (int c = 0; c < 3; ++c) {
                linear.at<cv::Vec3f>(y, x)[c] = linearOfSrgbLevels()[p[c]];
            }
        }
    cv::Scalar bgr = cv::mean(linear, mask);
    return {bgr[2], bgr[1], bgr[0]};
}

}  // namespace

TEST(LightFollowing, TheModelsLightFollowsTheBoardsWhiteSquaresThroughADimmingWarmingRamp) {
    const std::string folder = scratchFolder();
    ASSERT_FALSE(folder.empty());
    writeGreyBox(folder);
    const std::vector<cv::Mat> frames = clipFrames();
    ASSERT_GT(frames.size(), static_cast<size_t>(kSettledFrames[2])) << kRampClip;
    const RenderRun followed = render(true, folder), fixed = render(false, folder);
    ASSERT_EQ(followed.light.size(), frames.size()) << "no light columns with --light auto";
    EXPECT_TRUE(fixed.light.empty()) << "light columns without the option";

    // (a) The poses' gain against the white squares over the first frame's.
    const Rgb first = whiteSquares(frames[0]);
    for (int frame : kSettledFrames) {
        const Rgb white = whiteSquares(frames[frame]);
        for (int c = 0; c < 3; ++c) {
            const double expected = white[c] / first[c];
            std::printf("frame %d channel %d: light %.4f, white squares %.4f\n", frame, c, followed.light[frame][c],
                        expected);
            EXPECT_NEAR(followed.light[frame][c], expected, kTolerance * expected)
                << "frame " << frame << ", channel " << c;
        }
    }

    // (b) The model's colour, settled over early, against the run without
    // the option, follows the same ratio.
    ASSERT_FALSE(followed.early.empty() || followed.settled.empty() || fixed.early.empty() || fixed.settled.empty());
    const cv::Mat &earlyFrame = frames[kEarlyFrame], &settledFrame = frames[kSettledFrame];
    cv::Mat earlyMask = modelPixels(followed.early, earlyFrame) & modelPixels(fixed.early, earlyFrame);
    cv::Mat settledMask = modelPixels(followed.settled, settledFrame) & modelPixels(fixed.settled, settledFrame);
    ASSERT_GT(cv::countNonZero(earlyMask), 500) << "the model is not in the early picture";
    ASSERT_GT(cv::countNonZero(settledMask), 500) << "the model is not in the settled picture";
    const Rgb followedEarly = meanColour(followed.early, earlyMask);
    const Rgb followedSettled = meanColour(followed.settled, settledMask);
    const Rgb fixedEarly = meanColour(fixed.early, earlyMask), fixedSettled = meanColour(fixed.settled, settledMask);
    const Rgb whiteEarly = whiteSquares(earlyFrame), whiteSettled = whiteSquares(settledFrame);
    for (int c = 0; c < 3; ++c) {
        const double expected = whiteSettled[c] / whiteEarly[c];
        const double measured = (followedSettled[c] / followedEarly[c]) / (fixedSettled[c] / fixedEarly[c]);
        std::printf("channel %d: model %.4f, white squares %.4f\n", c, measured, expected);
        EXPECT_NEAR(measured, expected, kTolerance * expected)
            << "channel " << c << ": the model's colour settled/early " << followedSettled[c] << "/"
            << followedEarly[c] << " with the light followed, " << fixedSettled[c] << "/" << fixedEarly[c]
            << " without";
    }
}
