// A real lens in the viewer, on a distorted sample sweep (barrel distortion,
// principal point off centre) with its truth: corners undistorted as OpenCV
// projects them, the undistorted picture's straight board edges, the
// overlay's registration with the true camera file, self-calibration in
// arrender (deterministic) and in the real viewer (frames keep coming), and
// a board of another size.
#include <gtest/gtest.h>

#include <unistd.h>

#include <cmath>
#include <cstdlib>
#include <fstream>
#include <sstream>

#include <opencv2/calib3d.hpp>
#include <opencv2/imgcodecs.hpp>
#include <opencv2/imgproc.hpp>

#include "camera_file.h"
#include "lens.h"
#include "viewer_fixture.h"

namespace {

const std::string kRenderer = ARRENDER_PATH;
const std::string kViewer = ARVIEWER_PATH;
const std::string kPoseError = POSE_ERROR_PATH;
const std::string kBinFolder = folderOf(kRenderer);
const std::string kLensClip = LENS_CLIP;  // NAME.avi, NAME_truth.csv, NAME_camera.yml
const std::string kLensTruth = kLensClip.substr(0, kLensClip.size() - 4) + "_truth.csv";
const std::string kLensCamera = kLensClip.substr(0, kLensClip.size() - 4) + "_camera.yml";
const std::string kNineBySixClip = NINE_BY_SIX_CLIP;
const std::string kDeskLensClip = DESK_LENS_CLIP;
const std::string kDeskLensTruth = kDeskLensClip.substr(0, kDeskLensClip.size() - 4) + "_truth.csv";
const std::string kDeskLensCamera = kDeskLensClip.substr(0, kDeskLensClip.size() - 4) + "_camera.yml";
const std::string kSampleClip = SAMPLE_CLIP, kSampleClipTruth = SAMPLE_CLIP_TRUTH;
const std::string kHdClip = HD_CLIP, kHdClipTruth = HD_CLIP_TRUTH;  // the sample path at 1280 x 720, f 900
const std::string kBlurredSwing = BLURRED_SWING_CLIP;
const std::string kBlurredSwingTruth = kBlurredSwing.substr(0, kBlurredSwing.size() - 4) + "_truth.csv";
const std::string kDimDesk = DIM_DESK_CLIP;
const std::string kDimDeskTruth = kDimDesk.substr(0, kDimDesk.size() - 4) + "_truth.csv";
const std::string kNineBySixTruth = kNineBySixClip.substr(0, kNineBySixClip.size() - 4) + "_truth.csv";

std::string scratchFolder() {
    char folder[] = "/tmp/lens-test-XXXXXX";
    return mkdtemp(folder) ? folder : "";
}

int run(const std::string& program, const std::vector<std::string>& arguments, ChildProcess* child) {
    std::vector<std::string> argv = {program};
    argv.insert(argv.end(), arguments.begin(), arguments.end());
    *child = launch(argv, "", kBinFolder);
    return waitForExit(child, 600);
}

// pose_error's --csv figures, by column name.
std::map<std::string, double> poseError(const std::vector<std::string>& arguments) {
    std::vector<std::string> all = arguments;
    all.push_back("--csv");
    ChildProcess child;
    std::map<std::string, double> figures;
    if (run(kPoseError, all, &child) != 0) {
        ADD_FAILURE() << readFile(child.stderrPath);
        return figures;
    }
    std::istringstream lines(readFile(child.stdoutPath));
    std::string header, values, name, value;
    std::getline(lines, header);
    std::getline(lines, values);
    std::istringstream names(header), numbers(values);
    while (std::getline(names, name, ',') && std::getline(numbers, value, ',')) figures[name] = std::atof(value.c_str());
    return figures;
}

// The pose columns of an arrender log (its times left out).
std::string poseColumns(const std::string& path) {
    std::ifstream in(path);
    std::string line, text;
    while (std::getline(in, line)) {
        std::istringstream fields(line);
        std::string field;
        for (int i = 0; i < 20 && std::getline(fields, field, ','); ++i) text += field + ",";
        text += "\n";
    }
    return text;
}

// Largest distance of a row of corners from the straight line through its
// two ends, over the board's rows, pixels.
double largestBend(const std::vector<cv::Point2f>& corners, cv::Size pattern) {
    double largest = 0;
    for (int row = 0; row < pattern.height; ++row) {
        cv::Point2f a = corners[row * pattern.width], b = corners[row * pattern.width + pattern.width - 1];
        cv::Point2f d = (b - a) / cv::norm(b - a);
        for (int k = 1; k < pattern.width - 1; ++k) {
            cv::Point2f p = corners[row * pattern.width + k] - a;
            largest = std::max(largest, std::fabs(static_cast<double>(p.x * d.y - p.y * d.x)));
        }
    }
    return largest;
}

bool findCorners(const cv::Mat& picture, std::vector<cv::Point2f>* corners) {
    cv::Mat grey;
    cv::cvtColor(picture, grey, cv::COLOR_BGR2GRAY);
    if (!cv::findChessboardCorners(grey, cv::Size(8, 6), *corners, cv::CALIB_CB_ADAPTIVE_THRESH)) return false;
    cv::cornerSubPix(grey, *corners, cv::Size(5, 5), cv::Size(-1, -1),
                     cv::TermCriteria(cv::TermCriteria::EPS | cv::TermCriteria::COUNT, 50, 0.001));
    return true;
}

}  // namespace

TEST(Lens, CornersUndistortToWhereThePinholeCameraProjectsThem) {
    CameraModel model = centredPinholeCamera(640, 480, 600.0);
    model.cx = 331.5, model.cy = 236.0, model.fy = 604.0;
    const double distortion[5] = {-0.3, 0.1, 0.001, -0.001, 0.02};
    for (int i = 0; i < 5; ++i) model.distortion[i] = distortion[i];
    model.distortionCount = 5;
    Lens lens = {};
    ASSERT_TRUE(setUpLens(model, 640, 480, &lens));
    // Points seen all over the picture, out to its corners.
    std::vector<cv::Point3d> points;
    for (double x = -0.5; x <= 0.51; x += 0.1)
        for (double y = -0.38; y <= 0.39; y += 0.095) points.push_back({x, y, 1.0});
    std::vector<cv::Point2d> distorted, pinhole;
    cv::Mat K = (cv::Mat_<double>(3, 3) << model.fx, 0, model.cx, 0, model.fy, model.cy, 0, 0, 1);
    cv::Mat D(1, 5, CV_64F, model.distortion);
    cv::projectPoints(points, cv::Vec3d(0, 0, 0), cv::Vec3d(0, 0, 0), K, D, distorted);
    cv::projectPoints(points, cv::Vec3d(0, 0, 0), cv::Vec3d(0, 0, 0), K, cv::noArray(), pinhole);
    std::vector<cv::Point2f> corners(distorted.begin(), distorted.end());
    std::vector<cv::Point2d> undistorted(corners.size());
    undistortCorners(&lens, corners.data(), static_cast<int>(corners.size()), undistorted.data());
    double largest = 0;
    for (size_t i = 0; i < corners.size(); ++i) {
        // The corners come as floats: compare with the float's own pixel.
        largest = std::max(largest, cv::norm(undistorted[i] - pinhole[i]));
    }
    EXPECT_LT(largest, 1e-3) << "float corners allow about 1e-4 px, the iteration's own error is far below";
}

TEST(Lens, UndistortedPictureHasStraightBoardEdgesAndTheOverlayRegisters) {
    std::string folder = scratchFolder();
    std::ofstream(folder + "/bare.yml") << "occluders: []\naxes: 0\nmodel: {file: spaceship.3DS, texture: "
                                           "spaceshiptexture.bmp, position: [40, 0, 40]}\n";
    ChildProcess child;
    ASSERT_EQ(run(kRenderer, {kLensClip, "--camera", kLensCamera, "--scene", folder + "/bare.yml", "--poses",
                              folder + "/poses.csv", "--snapshot", "10:" + folder + "/frame10.png"},
                  &child),
              0)
        << readFile(child.stderrPath);
    // The sweep's frame 10 shows the board near the picture's top-left
    // corner, where the lens bends its rows most.
    std::vector<cv::Point2f> raw, shown;
    ASSERT_TRUE(findCorners(videoFrameAt(kLensClip, 10), &raw));
    ASSERT_TRUE(findCorners(cv::imread(folder + "/frame10.png"), &shown));
    EXPECT_GT(largestBend(raw, cv::Size(8, 6)), 1.0) << "the clip should bend the board's rows";
    EXPECT_LT(largestBend(shown, cv::Size(8, 6)), 0.3);
    auto figures = poseError({folder + "/poses.csv", kLensTruth, "--camera", kLensCamera});
    EXPECT_EQ(figures["measured"], figures["found"]);
    EXPECT_LT(figures["all_mean_px_median"], 0.3);
    EXPECT_LT(figures["board_mean_px_median"], 0.2);
    std::system(("rm -rf " + folder).c_str());
}

TEST(SelfCalibration, SwitchesWithinTheSweepRegistersAndRepeatsExactly) {
    std::string folder = scratchFolder();
    ChildProcess child;
    for (const char* run_ : {"a", "b"}) {
        std::string name = folder + "/" + run_;
        ASSERT_EQ(run(kRenderer, {kLensClip, "--self-calibrate", "--save-camera", name + ".yml", "--poses", name + ".csv"},
                      &child),
                  0)
            << readFile(child.stderrPath);
        EXPECT_NE(readFile(child.stderrPath).find("self-calibration: the lens is calibrated"), std::string::npos);
    }
    EXPECT_EQ(poseColumns(folder + "/a.csv"), poseColumns(folder + "/b.csv"));
    CameraModel found, truth;
    std::string error;
    ASSERT_TRUE(readCameraFile(folder + "/a.yml", 0, 0, &found, &error)) << error;
    ASSERT_TRUE(readCameraFile(kLensCamera, 0, 0, &truth, &error)) << error;
    EXPECT_NEAR(found.fx, truth.fx, 0.02 * truth.fx);
    EXPECT_NEAR(found.cx, truth.cx, 6.0);
    EXPECT_NEAR(found.cy, truth.cy, 6.0);
    auto figures = poseError({folder + "/a.csv", kLensTruth, "--camera", folder + "/a.yml"});
    EXPECT_GT(figures["measured"], 0.5 * figures["found"]);
    EXPECT_LT(figures["board_mean_px_median"], 0.5);
    EXPECT_LT(figures["all_mean_px_median"], 2.0);
    std::system(("rm -rf " + folder).c_str());
}

// Self-calibrating twice gives the same poses; pose_error's figures of it.
std::map<std::string, double> selfCalibratedFigures(const std::string& clip, const std::vector<std::string>& measure,
                                                    std::string* log) {
    std::string folder = scratchFolder();
    ChildProcess child;
    for (const char* name : {"a", "b"}) {
        EXPECT_EQ(run(kRenderer, {clip, "--self-calibrate", "--poses", folder + "/" + name + ".csv"}, &child), 0)
            << readFile(child.stderrPath);
    }
    *log = readFile(child.stderrPath);
    EXPECT_EQ(poseColumns(folder + "/a.csv"), poseColumns(folder + "/b.csv"));
    std::vector<std::string> arguments = {folder + "/a.csv"};
    arguments.insert(arguments.end(), measure.begin(), measure.end());
    auto figures = poseError(arguments);
    std::system(("rm -rf " + folder).c_str());
    return figures;
}

// A board held at a desk, in the middle of the picture, before a barrel
// lens: the self-calibration switches within 5 s, and the overlay then sits
// within half a pixel; no switch makes it worse, against the true lens's
// run over the same frames.
TEST(SelfCalibration, AtADeskSwitchesWithinFiveSecondsAndRegisters) {
    std::string folder = scratchFolder(), log;
    ChildProcess child;
    ASSERT_EQ(run(kRenderer, {kDeskLensClip, "--camera", kDeskLensCamera, "--poses", folder + "/floor.csv"}, &child), 0);
    auto f = selfCalibratedFigures(kDeskLensClip, {kDeskLensTruth, "--reference", folder + "/floor.csv"}, &log);
    EXPECT_NE(log.find("self-calibration: the lens is calibrated from"), std::string::npos) << log;
    EXPECT_GE(f["switches"], 1);
    EXPECT_LE(f["first_switch"], 150);
    EXPECT_LT(f["after_all_mean_px_median"], 0.5);
    EXPECT_LT(f["after_seen_mean_px_median"], 0.25);
    EXPECT_LT(f["worst_switch_net_rise_px"], 0.05);
    std::system(("rm -rf " + folder).c_str());
}

// The sample video: the focal length alone, found from a few tilted views,
// puts the building corners (up to 6 squares above the board) where they
// are, where the first frame's f put them 1.3 px off.
TEST(SelfCalibration, OnTheSampleVideoPlacesTheBuildingCorners) {
    std::string log;
    auto f = selfCalibratedFigures(kSampleClip, {kSampleClipTruth}, &log);
    EXPECT_NE(log.find(", stage f;"), std::string::npos) << log;
    EXPECT_LE(f["first_switch"], 148);
    EXPECT_LT(f["after_buildings_mean_px_median"], 0.3);
    EXPECT_LT(std::fabs(f["final_f_pct"]), 0.3);
    EXPECT_LT(f["worst_switch_rise_px"], 0.05);
}

// --smooth with its defaults, at two scales (f 600 at 640 x 480, f 900 at
// 1280 x 720): the jitter of the still camera (from 5 frames after it stops)
// at most half the raw one, and no registration lost while it moves.
TEST(Smoothing, DefaultsHoldAtTwoScales) {
    struct Clip {
        std::string video, truth, size;
    } clips[] = {{kSampleClip, kSampleClipTruth, "640x480"}, {kHdClip, kHdClipTruth, "1280x720"}};
    std::string folder = scratchFolder();
    ChildProcess child;
    for (const Clip& c : clips) {
        std::map<std::string, double> figures[2];
        for (int smooth = 0; smooth < 2; ++smooth) {
            std::vector<std::string> arguments = {c.video, "--poses", folder + "/poses.csv"};
            if (smooth) arguments.push_back("--smooth");
            ASSERT_EQ(run(kRenderer, arguments, &child), 0) << readFile(child.stderrPath);
            figures[smooth] = poseError({folder + "/poses.csv", c.truth, "--still", "44:69", "--size", c.size});
        }
        const auto &raw = figures[0], &smoothed = figures[1];
        EXPECT_LT(smoothed.at("jitter_rms_px"), 0.5 * raw.at("jitter_rms_px")) << c.size;
        EXPECT_LT(smoothed.at("moving_all_mean_px_median"), raw.at("moving_all_mean_px_median") + 0.1) << c.size;
        EXPECT_LT(smoothed.at("moving_all_mean_px_p95"), raw.at("moving_all_mean_px_p95") + 0.2) << c.size;
    }
    std::system(("rm -rf " + folder).c_str());
}

// A fast swing through a 33 ms shutter: the board smeared by up to 23 px.
// The bounded search finds most frames; with --track nearly all are found
// or tracked, the board's corners within 0.6 px.
TEST(MotionBlur, FastSwingIsFoundOrTrackedAndRegistered) {
    std::string folder = scratchFolder();
    ChildProcess child;
    ASSERT_EQ(run(kRenderer, {kBlurredSwing, "--poses", folder + "/plain.csv"}, &child), 0);
    auto plain = poseError({folder + "/plain.csv", kBlurredSwingTruth});
    EXPECT_GE(plain["found"], 0.8 * plain["frames"]);
    ASSERT_EQ(run(kRenderer, {kBlurredSwing, "--track", "--poses", folder + "/track.csv"}, &child), 0);
    auto tracked = poseError({folder + "/track.csv", kBlurredSwingTruth});
    EXPECT_GE(tracked["found"] + tracked["tracked"], 0.95 * tracked["frames"]);
    EXPECT_LT(tracked["board_mean_px_median"], 0.6);
    std::system(("rm -rf " + folder).c_str());
}

// A dim room: sensor noise of 8 grey levels on a board at a desk.
TEST(SensorNoise, BoardAtADeskInADimRoomIsFound) {
    std::string folder = scratchFolder();
    ChildProcess child;
    ASSERT_EQ(run(kRenderer, {kDimDesk, "--poses", folder + "/poses.csv"}, &child), 0);
    auto f = poseError({folder + "/poses.csv", kDimDeskTruth});
    EXPECT_GE(f["found"], 0.98 * f["frames"]);
    EXPECT_LT(f["board_mean_px_median"], 0.6);
    std::system(("rm -rf " + folder).c_str());
}

// While the lens is searched, --hud tints the picture cells the views cover
// and frames where to bring the board; once the whole model is in use they
// are gone and only the text lines remain.
TEST(SelfCalibration, HudShowsTheCoveredCellsUntilTheLensIsDone) {
    std::string folder = scratchFolder();
    ChildProcess child;
    for (const char* hud : {"", "--hud"}) {
        std::vector<std::string> arguments = {kLensClip, "--self-calibrate", "--snapshot",
                                              "12:" + folder + "/early" + hud + ".png", "--snapshot",
                                              "last:" + folder + "/last" + hud + ".png"};
        if (*hud) arguments.push_back(hud);
        ASSERT_EQ(run(kRenderer, arguments, &child), 0) << readFile(child.stderrPath);
    }
    EXPECT_NE(readFile(child.stderrPath).find(", stage full;"), std::string::npos) << readFile(child.stderrPath);
    auto changedBelowText = [&](const std::string& name) {
        cv::Mat plain = cv::imread(folder + "/" + name + ".png"), hud = cv::imread(folder + "/" + name + "--hud.png");
        EXPECT_FALSE(plain.empty() || hud.empty()) << name;
        if (plain.empty() || hud.empty()) return cv::Mat();
        cv::Rect below(0, 60, plain.cols, plain.rows - 60);
        cv::Mat difference, grey;
        cv::absdiff(plain(below), hud(below), difference);
        cv::cvtColor(difference, grey, cv::COLOR_BGR2GRAY);
        return cv::Mat(grey > 0);
    };
    cv::Mat early = changedBelowText("early"), last = changedBelowText("last");
    ASSERT_FALSE(early.empty() || last.empty());
    EXPECT_GT(cv::countNonZero(early), static_cast<int>(early.total() / 20)) << "no cells drawn";
    EXPECT_EQ(cv::countNonZero(last), 0) << "cells left once the lens is done";
    std::system(("rm -rf " + folder).c_str());
}

class ViewerLens : public ViewerTest {};

TEST_F(ViewerLens, SelfCalibratesWhileFramesKeepComing) {
    std::string folder = scratchFolder();
    viewer = launch({kViewer, kLensClip, "--self-calibrate", "--save-camera", folder + "/lens.yml"}, server.display,
                    kBinFolder);
    window = findWindow(server, kViewerTitle, 30);
    ASSERT_NE(window, 0ul);
    ASSERT_FALSE(waitForStillPicture(server, window, 300).empty());
    std::string error = readFile(viewer.stderrPath);
    size_t line = error.find("self-calibration: the lens is calibrated from ");
    ASSERT_NE(line, std::string::npos) << error;
    long meanwhile = std::atol(error.c_str() + error.find('(', line) + 1);
    EXPECT_GE(meanwhile, 1) << "the loop waited for the calibration";
    ASSERT_TRUE(pressClosingKey(server, window, "q"));
    EXPECT_EQ(waitForExit(&viewer, 30), 0);
    CameraModel model;
    std::string problem;
    EXPECT_TRUE(readCameraFile(folder + "/lens.yml", 640, 480, &model, &problem)) << problem;
    std::system(("rm -rf " + folder).c_str());
}

TEST(OtherBoards, NineBySixBoardIsFoundAndRegistered) {
    std::string folder = scratchFolder();
    ChildProcess child;
    ASSERT_EQ(run(kRenderer, {kNineBySixClip, "--board", "9x6", "--poses", folder + "/nine.csv"}, &child), 0);
    auto figures = poseError({folder + "/nine.csv", kNineBySixTruth, "--board", "9x6"});
    EXPECT_GE(figures["found"], 0.9 * figures["frames"]);
    EXPECT_LT(figures["board_mean_px_median"], 0.3);
    // The default board is not this one.
    ASSERT_EQ(run(kRenderer, {kNineBySixClip, "--poses", folder + "/eight.csv"}, &child), 0);
    std::string eight = readFile(folder + "/eight.csv");
    EXPECT_EQ(eight.find("\n0,1,"), std::string::npos);
    std::system(("rm -rf " + folder).c_str());
}
