// make_board_video through the real program: the clip's format, the corner
// detector against the ground truth, the covered frames, the camera paths'
// geometry, the lens options, other boards, the light's ramp and tint, and the
// command line. The clip is made once per test run by the CTest fixture (or
// here, when a test runs on its own); the other clips are small, for the
// sanitizer build's sake.
#include <gtest/gtest.h>

#include <opencv2/calib3d.hpp>
#include <opencv2/imgproc.hpp>
#include <opencv2/videoio.hpp>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "board_light.h"
#include "board_video_run.h"
#include "camera_file.h"
#include "tsai.h"

namespace {

namespace fs = std::filesystem;

const std::string kClip = BOARD_CLIP;
const std::string kClipOptions = "--frames 160 --samples 2";
constexpr int kClipFrames = 160;

void ensureClip() {
    if (!fs::exists(kClip) || !fs::exists(truthPathOf(kClip))) {
        ASSERT_EQ(runTool(kClipOptions + " --video " + kClip), 0);
    }
}

std::vector<Truth> clipTruth() {
    std::string header;
    return readTruth(truthPathOf(kClip), &header);
}

// Pixel (column, row) where the true camera sees world point (X, Y, Z); the
// principal point is pixel (width/2, height/2), integer halves.
cv::Point2d truePixel(const Truth& t, Vec3 p, cv::Size size) {
    double x, y;
    tsaiProject(p.x, p.y, p.z, &x, &y, t.f, t.T, t.R);
    return {x + size.width / 2, y + size.height / 2};
}

bool insidePicture(cv::Point2d p, cv::Size size) {
    return p.x >= 0 && p.y >= 0 && p.x <= size.width - 1 && p.y <= size.height - 1;
}

// Detected corner k against the true projection of (k mod 8, k div 8, 0).
std::vector<double> cornerErrors(const std::vector<cv::Point2f>& corners, const Truth& t, cv::Size size) {
    std::vector<double> errors;
    for (int k = 0; k < (int)corners.size(); ++k) {
        cv::Point2d expected = truePixel(t, {double(k % 8), double(k / 8), 0.0}, size);
        errors.push_back(std::hypot(corners[k].x - expected.x, corners[k].y - expected.y));
    }
    return errors;
}

bool findBoard(const cv::Mat& frame, std::vector<cv::Point2f>* corners) {
    return cv::findChessboardCorners(frame, cv::Size(8, 6), *corners, cv::CALIB_CB_ADAPTIVE_THRESH);
}

constexpr Vec3 kShipPlace = {16.6, 6.82, -1.2};

class BoardClip : public ::testing::Test {
protected:
    static void SetUpTestSuite() { ensureClip(); }
};

// ---------------------------------------------------------------- the clip

TEST_F(BoardClip, HasTheRequestedSizeRateAndOneTruthRowPerFrame) {
    cv::VideoCapture capture(kClip, cv::CAP_FFMPEG);
    ASSERT_TRUE(capture.isOpened());
    EXPECT_EQ(capture.get(cv::CAP_PROP_FRAME_WIDTH), 640);
    EXPECT_EQ(capture.get(cv::CAP_PROP_FRAME_HEIGHT), 480);
    EXPECT_NEAR(capture.get(cv::CAP_PROP_FPS), 30.0, 1e-6);
    cv::Mat frame;
    int frames = 0;
    for (; capture.read(frame); ++frames) ASSERT_EQ(frame.type(), CV_8UC3);
    EXPECT_EQ(frames, kClipFrames);

    std::string header;
    std::vector<Truth> truth = readTruth(truthPathOf(kClip), &header);
    EXPECT_EQ(header, "frame,f,r1,r2,r3,r4,r5,r6,r7,r8,r9,tx,ty,tz,board_covered,fy,cx,cy,k1,k2,p1,p2,k3");
    ASSERT_EQ((int)truth.size(), kClipFrames);
    for (int i = 0; i < kClipFrames; ++i) {
        EXPECT_EQ(truth[i].frame, i);
        EXPECT_EQ(truth[i].fy, truth[i].f);
        EXPECT_EQ(truth[i].cx, 320);
        EXPECT_EQ(truth[i].cy, 240);
        for (double k : truth[i].k) EXPECT_EQ(k, 0.0);
    }
    CameraModel camera;
    std::string error;
    ASSERT_TRUE(readCameraFile(kClip.substr(0, kClip.size() - 4) + "_camera.yml", 640, 480, &camera, &error)) << error;
    EXPECT_EQ(camera.fx, 600);
    EXPECT_EQ(camera.cx, 320);
}

// Corner k must be the true projection of world (k mod 8, k div 8, 0): this
// checks together the detector's corner order (corner 0 at the origin), the
// pixel-centre convention and the CSV.
TEST_F(BoardClip, DetectorFindsEveryUncoveredBoardAtItsTrueCorners) {
    std::vector<Truth> truth = clipTruth();
    cv::VideoCapture capture(kClip, cv::CAP_FFMPEG);
    cv::Mat frame;
    std::vector<double> errors;
    int checked = 0;
    for (int i = 0; capture.read(frame) && i < (int)truth.size(); ++i) {
        if (truth[i].covered) continue;
        std::vector<cv::Point2f> corners;
        ASSERT_TRUE(findBoard(frame, &corners)) << "frame " << i;
        std::vector<double> e = cornerErrors(corners, truth[i], frame.size());
        ASSERT_LT(e[0], 1.0) << "frame " << i << ": the first corner is not the world origin";
        errors.insert(errors.end(), e.begin(), e.end());
        ++checked;
    }
    EXPECT_GT(checked, kClipFrames * 3 / 4);
    std::sort(errors.begin(), errors.end());
    EXPECT_LT(errors[errors.size() / 2], 0.3) << "median corner error, pixels";
    EXPECT_LT(errors.back(), 1.0) << "largest corner error, pixels";
}

TEST_F(BoardClip, CoveredFramesAreFlaggedAndTheBoardIsNotFoundInThem) {
    std::vector<Truth> truth = clipTruth();
    int covered = (int)std::count_if(truth.begin(), truth.end(), [](const Truth& t) { return t.covered; });
    EXPECT_GE(covered, 3);
    EXPECT_LE(covered, kClipFrames / 10);
    cv::VideoCapture capture(kClip, cv::CAP_FFMPEG);
    cv::Mat frame;
    for (int i = 0; capture.read(frame) && i < (int)truth.size(); ++i) {
        std::vector<cv::Point2f> corners;
        if (truth[i].covered) {
            EXPECT_FALSE(findBoard(frame, &corners)) << "frame " << i;
        }
    }
}

// ---------------------------------------------------------------- the camera path

TEST_F(BoardClip, CameraIsARigidCameraAboveTheBoardWithTheWholeBoardInView) {
    const cv::Size size(640, 480);
    std::vector<Truth> truth = clipTruth();
    for (const Truth& t : truth) {
        EXPECT_EQ(t.f, truth[0].f) << "f changes at frame " << t.frame;
        for (int a = 0; a < 3; ++a)
            for (int b = 0; b < 3; ++b) {
                double d = t.R[3 * a] * t.R[3 * b] + t.R[3 * a + 1] * t.R[3 * b + 1] + t.R[3 * a + 2] * t.R[3 * b + 2];
                ASSERT_NEAR(d, a == b ? 1.0 : 0.0, 1e-12) << "frame " << t.frame;
            }
        EXPECT_LT(cameraCentre(t).z, 0.0) << "frame " << t.frame;
        double tilt = std::acos(t.R[8]) * 180 / kPi;  // viewing axis against the board normal
        EXPECT_TRUE(tilt >= 18 && tilt <= 62) << "tilt " << tilt << " at frame " << t.frame;
        for (double X : {-1.0, 8.0})
            for (double Y : {-1.0, 6.0}) EXPECT_TRUE(insidePicture(truePixel(t, {X, Y, 0}, size), size));
        for (int k = 0; k < 48; ++k) EXPECT_FALSE(hiddenByBuilding(t, {double(k % 8), double(k / 8), 0}));
        cv::Point2d a = truePixel(t, {3.5, 2.0, 0}, size), b = truePixel(t, {3.5, 3.0, 0}, size);
        double roll = std::atan2(-(b.x - a.x), b.y - a.y) * 180 / kPi;  // 0: first row at the top
        EXPECT_LT(std::fabs(roll), 45.0) << "board roll at frame " << t.frame;
    }
}

TEST_F(BoardClip, CameraHoldsStillForAboutOneSecond) {
    std::vector<Truth> truth = clipTruth();
    int longest = 1, run = 1;
    for (size_t i = 1; i < truth.size(); ++i) {
        run = std::equal(truth[i].R, truth[i].R + 9, truth[i - 1].R) &&
                      std::equal(truth[i].T, truth[i].T + 3, truth[i - 1].T)
                  ? run + 1
                  : 1;
        longest = std::max(longest, run);
    }
    EXPECT_GE(longest, 28);
    EXPECT_LE(longest, 45);
}

TEST_F(BoardClip, ShipPlaceIsHiddenByABuildingInSomeFramesAndSeenInOthers) {
    const cv::Size size(640, 480);
    int hidden = 0, seen = 0;
    for (const Truth& t : clipTruth()) {
        if (!insidePicture(truePixel(t, kShipPlace, size), size)) continue;
        ++(hiddenByBuilding(t, kShipPlace) ? hidden : seen);
    }
    EXPECT_GE(hidden, 10);
    EXPECT_GE(seen, 10);
}

// ---------------------------------------------------------------- the lens

// The start of the sweep through a strongly distorting lens, with its
// principal point off the middle and f other than the default: the board
// in the middle (frame 0), on its way out (6) and in the top left corner
// of the picture (12).
const char* const kLensOptions = "--focal 590 --principal-point 331,236 --distortion -0.3,0.12,0.001,-0.0005,-0.03";
constexpr double kLensK[5] = {-0.3, 0.12, 0.001, -0.0005, -0.03};

class LensClip : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        folder = makeScratchFolder();
        video = folder + "/lens.avi";
        status = runTool(std::string("--path sweep --frames 13 --samples 2 ") + kLensOptions + " --video " + video,
                         &errors);
    }
    static void TearDownTestSuite() { fs::remove_all(folder); }
    void SetUp() override { ASSERT_EQ(status, 0) << errors; }
    static std::string folder, video, errors;
    static int status;
};
std::string LensClip::folder, LensClip::video, LensClip::errors;
int LensClip::status = -1;

TEST_F(LensClip, TruthAndCameraFileCarryTheLensOfTheOptions) {
    std::string header;
    std::vector<Truth> truth = readTruth(truthPathOf(video), &header);
    ASSERT_EQ(truth.size(), 13u);
    for (const Truth& t : truth) {
        EXPECT_EQ(t.f, 590);
        EXPECT_EQ(t.fy, 590);
        EXPECT_EQ(t.cx, 331);
        EXPECT_EQ(t.cy, 236);
        for (int i = 0; i < 5; ++i) EXPECT_EQ(t.k[i], kLensK[i]) << i;
    }
    CameraModel camera;
    std::string error;
    ASSERT_TRUE(readCameraFile(folder + "/lens_camera.yml", 640, 480, &camera, &error)) << error;
    EXPECT_EQ(camera.fx, 590);
    EXPECT_EQ(camera.fy, 590);
    EXPECT_EQ(camera.cx, 331);
    EXPECT_EQ(camera.cy, 236);
    EXPECT_EQ(camera.distortionCount, 5);
    for (int i = 0; i < 5; ++i) EXPECT_EQ(camera.distortion[i], kLensK[i]) << i;
    EXPECT_EQ(camera.boardColumns, 8);
    EXPECT_EQ(camera.boardRows, 6);
}

// The detector, refined to subpixels, against OpenCV's projection through
// the true lens: the renderer's rays and the truth's pixels agree, and the
// lens moves the corners by far more than that.
TEST_F(LensClip, DetectedCornersLieWhereTheTrueLensPutsThem) {
    std::string header;
    std::vector<Truth> truth = readTruth(truthPathOf(video), &header);
    cv::VideoCapture capture(video, cv::CAP_FFMPEG);
    cv::Mat frame, grey;
    std::vector<double> errors;
    double largestDistortion = 0;
    for (size_t i = 0; i < truth.size() && capture.read(frame); ++i) {
        if (i % 6 != 0) continue;
        cv::cvtColor(frame, grey, cv::COLOR_BGR2GRAY);
        std::vector<cv::Point2f> corners;
        ASSERT_TRUE(cv::findChessboardCorners(grey, cv::Size(8, 6), corners, cv::CALIB_CB_ADAPTIVE_THRESH)) << i;
        cv::cornerSubPix(grey, corners, cv::Size(5, 5), cv::Size(-1, -1),
                         cv::TermCriteria(cv::TermCriteria::EPS + cv::TermCriteria::COUNT, 50, 1e-4));
        std::vector<cv::Point2d> expected = projectThroughLens(truth[i], boardCorners(8, 6));
        std::vector<cv::Point2d> pinhole = projectThroughLens(truth[i], boardCorners(8, 6), false);
        for (size_t k = 0; k < corners.size(); ++k) {
            errors.push_back(std::hypot(corners[k].x - expected[k].x, corners[k].y - expected[k].y));
            largestDistortion = std::max(largestDistortion, cv::norm(expected[k] - pinhole[k]));
        }
    }
    ASSERT_EQ(errors.size(), 3 * 48u);
    std::sort(errors.begin(), errors.end());
    EXPECT_LT(errors[errors.size() / 2], 0.15) << "median corner error, pixels";
    EXPECT_LT(errors.back(), 0.5) << "largest corner error, pixels";
    EXPECT_GT(largestDistortion, 10.0) << "the lens should move corners by pixels";
}

// The whole sweep, rendered tiny: its geometry is that of any size.
class SweepPath : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        folder = makeScratchFolder();
        std::string video = folder + "/sweep.avi", errors;
        status = runTool("--path sweep --width 160 --height 120 --samples 1 --video " + video, &errors);
        std::string header;
        if (status == 0) truth = readTruth(truthPathOf(video), &header);
    }
    static void TearDownTestSuite() { fs::remove_all(folder); }
    void SetUp() override {
        ASSERT_EQ(status, 0);
        ASSERT_EQ(truth.size(), 240u);
    }
    static std::string folder;
    static int status;
    static std::vector<Truth> truth;
    const cv::Size size{160, 120};
};
std::string SweepPath::folder;
int SweepPath::status = -1;
std::vector<Truth> SweepPath::truth;

TEST_F(SweepPath, BoardCornersReachEveryPartOfThePictureAndItsCorners) {
    int cells[3][3] = {};
    bool nearCorner[4] = {};  // within a tenth of the picture's size of each corner
    for (const Truth& t : truth)
        for (const cv::Point2d& p : projectThroughLens(t, boardCorners(8, 6))) {
            if (!insidePicture(p, size)) continue;
            ++cells[int(3 * p.y / size.height)][int(3 * p.x / size.width)];
            bool left = p.x < size.width / 10.0, right = p.x > size.width * 0.9;
            bool top = p.y < size.height / 10.0, bottom = p.y > size.height * 0.9;
            nearCorner[0] |= left && top, nearCorner[1] |= right && top;
            nearCorner[2] |= left && bottom, nearCorner[3] |= right && bottom;
        }
    for (int row = 0; row < 3; ++row)
        for (int column = 0; column < 3; ++column)
            EXPECT_GE(cells[row][column], 200) << "cell " << row << ", " << column;
    for (int c = 0; c < 4; ++c) EXPECT_TRUE(nearCorner[c]) << "picture corner " << c;
}

TEST_F(SweepPath, TiltsSpan15To55DegreesAndTheBoardTurnsBothWaysKeepingItsFirstRowUp) {
    double lowest = 90, highest = 0, mostLeft = 0, mostRight = 0;
    for (const Truth& t : truth) {
        double tilt = std::acos(t.R[8]) * 180 / kPi;
        lowest = std::min(lowest, tilt), highest = std::max(highest, tilt);
        EXPECT_GE(tilt, 15 - 1e-6) << "frame " << t.frame;
        EXPECT_LE(tilt, 55 + 1e-6) << "frame " << t.frame;
        EXPECT_LT(cameraCentre(t).z, 0.0) << "frame " << t.frame;
        cv::Point2d a = truePixel(t, {3.5, 2.0, 0}, size), b = truePixel(t, {3.5, 3.0, 0}, size);
        double roll = std::atan2(-(b.x - a.x), b.y - a.y) * 180 / kPi;
        EXPECT_LT(std::fabs(roll), 40.0) << "frame " << t.frame;
        mostLeft = std::min(mostLeft, roll), mostRight = std::max(mostRight, roll);
        for (int k = 0; k < 48; ++k) EXPECT_FALSE(hiddenByBuilding(t, {double(k % 8), double(k / 8), 0}));
    }
    EXPECT_LE(lowest, 16.0);
    EXPECT_GE(highest, 54.0);
    EXPECT_LE(mostLeft, -25.0);
    EXPECT_GE(mostRight, 25.0);
}

// Corners of the sweep's whole-board views seen through a lens, with
// 0.1 px of noise at 640 x 480: OpenCV's calibration finds f, the principal
// point and k1 k2 k3 again. Every fourth frame: a calibration's time grows
// steeply with its views.
TEST_F(SweepPath, WholeBoardViewsDetermineTheLensForACalibration) {
    const double noise = 0.1 * size.width / 640.0;
    cv::RNG rng(7);
    std::vector<std::vector<cv::Point3f>> objectPoints;
    std::vector<std::vector<cv::Point2f>> imagePoints;
    for (size_t i = 0; i < truth.size(); i += 4) {
        Truth t = truth[i];
        std::copy(kLensK, kLensK + 5, t.k);
        std::vector<cv::Point2d> pixels = projectThroughLens(t, boardCorners(8, 6));
        std::vector<cv::Point2f> view;
        for (const cv::Point2d& p : pixels)
            if (insidePicture(p, size)) view.push_back(cv::Point2f(p.x + rng.gaussian(noise), p.y + rng.gaussian(noise)));
        if (view.size() < pixels.size()) continue;
        imagePoints.push_back(view);
        std::vector<cv::Point3f> board;
        for (const cv::Point3d& c : boardCorners(8, 6)) board.push_back(cv::Point3f(c));
        objectPoints.push_back(board);
    }
    ASSERT_GE(imagePoints.size(), 25u);
    cv::Mat K, D;
    std::vector<cv::Mat> rvecs, tvecs;
    double rms = cv::calibrateCamera(objectPoints, imagePoints, size, K, D, rvecs, tvecs);
    EXPECT_LT(rms, 2 * noise);
    const Truth& t = truth[0];
    EXPECT_NEAR(K.at<double>(0, 0), t.f, 0.002 * t.f);
    EXPECT_NEAR(K.at<double>(0, 2), t.cx, 0.002 * size.width);
    EXPECT_NEAR(K.at<double>(1, 2), t.cy, 0.002 * size.width);
    EXPECT_NEAR(D.at<double>(0), kLensK[0], 0.005);
    EXPECT_NEAR(D.at<double>(1), kLensK[1], 0.03);
    EXPECT_NEAR(D.at<double>(4), kLensK[4], 0.05);
}

// ---------------------------------------------------------------- other boards

TEST(OtherBoards, ANineBySixBoardIsFoundWithNineBySixCornersAtItsTruth) {
    std::string folder = makeScratchFolder(), video = folder + "/nine.avi", errors;
    ASSERT_EQ(runTool("--board 9x6 --frames 2 --samples 2 --video " + video, &errors), 0) << errors;
    std::string header;
    std::vector<Truth> truth = readTruth(truthPathOf(video), &header);
    cv::VideoCapture capture(video, cv::CAP_FFMPEG);
    cv::Mat frame;
    for (size_t i = 0; i < truth.size() && capture.read(frame); ++i) {
        std::vector<cv::Point2f> corners;
        EXPECT_FALSE(cv::findChessboardCorners(frame, cv::Size(8, 6), corners, cv::CALIB_CB_ADAPTIVE_THRESH));
        ASSERT_TRUE(cv::findChessboardCorners(frame, cv::Size(9, 6), corners, cv::CALIB_CB_ADAPTIVE_THRESH)) << i;
        std::vector<cv::Point2d> expected = projectThroughLens(truth[i], boardCorners(9, 6));
        for (size_t k = 0; k < corners.size(); ++k)
            EXPECT_LT(std::hypot(corners[k].x - expected[k].x, corners[k].y - expected[k].y), 1.0)
                << "frame " << i << " corner " << k;
    }
    CameraModel camera;
    ASSERT_TRUE(readCameraFile(folder + "/nine_camera.yml", 640, 480, &camera, &errors)) << errors;
    EXPECT_EQ(camera.boardColumns, 9);
    fs::remove_all(folder);
}

// ---------------------------------------------------------------- the command line

class ToolRun : public ::testing::Test {
protected:
    void SetUp() override {
        char pattern[] = "/tmp/board_video_test_XXXXXX";
        ASSERT_NE(mkdtemp(pattern), nullptr);
        dir = pattern;
    }
    void TearDown() override { fs::remove_all(dir); }
    bool dirEmpty() const { return fs::is_empty(dir); }
    std::string dir;
};

// 642 x 480: rows of 3 x 642 bytes are not a multiple of 4, which the
// viewer's tests need; the centre used is still (width/2, height/2).
TEST_F(ToolRun, OtherSizesKeepThePixelCentreConvention) {
    std::string video = dir + "/wide.avi";
    ASSERT_EQ(runTool("--width 642 --height 480 --frames 2 --samples 2 --video " + video), 0);
    cv::VideoCapture capture(video, cv::CAP_FFMPEG);
    cv::Mat frame;
    ASSERT_TRUE(capture.read(frame));
    EXPECT_EQ(frame.size(), cv::Size(642, 480));
    std::string header;
    std::vector<Truth> truth = readTruth(truthPathOf(video), &header);
    ASSERT_EQ(truth.size(), 2u);
    std::vector<cv::Point2f> corners;
    ASSERT_TRUE(findBoard(frame, &corners));
    std::vector<double> errors = cornerErrors(corners, truth[0], frame.size());
    EXPECT_LT(*std::max_element(errors.begin(), errors.end()), 1.0);
}

TEST_F(ToolRun, BadArgumentsFailWithAMessageAndWriteNothing) {
    const std::string out = " --video " + dir + "/out.avi";
    const std::vector<std::string> cases = {
        "--frames 0" + out, "--frames 12x" + out, "--width 641" + out, "--height 8" + out, "--samples 9" + out,
        "--seed -1" + out, "--bogus" + out, out + " --frames", "--video " + dir + "/out.mp4",
        out + " --truth " + dir + "/out.avi", out + " --truth " + dir + "/out_camera.yml",
        "--focal 0" + out, "--focal -600" + out, "--focal nan" + out, "--focal 1" + out, "--focal 6e5" + out,
        "--principal-point 700,240" + out, "--principal-point 320,-1" + out, "--principal-point 320" + out,
        "--principal-point 320,240,1" + out, "--distortion 0.1,0.2,0" + out, "--distortion 0,0,0,0,0,0" + out,
        "--distortion a,b,c,d,e" + out, "--distortion 0.1,inf,0,0,0" + out, "--distortion -0.9,0,0,0,0" + out,
        "--path loop" + out, "--board 12x5" + out, "--board 8x8" + out, "--board 6x8" + out,
        "--distortion -0.9,0,0,0,0 --report" + out};
    for (const std::string& arguments : cases) {
        std::string errors;
        EXPECT_NE(runTool(arguments, &errors), 0) << arguments;
        EXPECT_NE(errors.find("make_board_video: "), std::string::npos) << arguments << ": " << errors;
        EXPECT_TRUE(dirEmpty()) << arguments;
    }
    std::string errors;
    EXPECT_EQ(runTool("--help", &errors), 0);
    EXPECT_TRUE(errors.empty());
}

TEST_F(ToolRun, MalformedLightIsRefusedWithOneLine) {
    const std::string out = " --frames 2 --video " + dir + "/out.avi";
    for (const char* arguments :
         {"--illumination -1:1@0-5", "--illumination 1:-0.5@0-5", "--illumination 1:1@9-5", "--illumination a:1@0-5",
          "--illumination 1:1", "--illumination 1:1@5", "--illumination 1:1@-2-5", "--illumination 1:nan@0-5",
          "--illumination 1:20@0-5", "--tint 1,2", "--tint 1,-1,1", "--tint x,1,1", "--tint 1,1,1,1", "--tint"}) {
        std::string errors;
        EXPECT_NE(runTool(std::string(arguments) + out, &errors), 0) << arguments;
        EXPECT_EQ(std::count(errors.begin(), errors.end(), '\n'), 1) << arguments << ": " << errors;
        EXPECT_NE(errors.find("make_board_video: "), std::string::npos) << arguments << ": " << errors;
        EXPECT_TRUE(dirEmpty()) << arguments;
    }
}

// The tint and the ramp's gain multiply the white squares' linear light,
// channel by channel in B, G, R order: frame 0 at the ramp's start, frame 3
// past its end.
TEST_F(ToolRun, IlluminationScalesTheBoardsLinearLightPerChannel) {
    const std::string plain = dir + "/plain.avi", lit = dir + "/lit.avi";
    const std::string common = " --frames 4 --samples 1 --noise 0 --video ";
    ASSERT_EQ(runTool(common + plain), 0);
    ASSERT_EQ(runTool("--illumination 1:0.6@1-2 --tint 0.8,1,1.25" + common + lit), 0);
    auto whiteOf = [](const std::string& video, int frameIndex, float white[3]) {
        cv::VideoCapture capture(video, cv::CAP_FFMPEG);
        cv::Mat frame;
        for (int k = 0; k <= frameIndex; ++k) ASSERT_TRUE(capture.read(frame));
        std::vector<cv::Point2f> corners;
        ASSERT_TRUE(findBoard(frame, &corners));
        BoardSquares s;
        ASSERT_TRUE(measureBoardSquares(frame, corners.data(), cv::Size(8, 6), &s));
        std::copy(s.white, s.white + 3, white);
    };
    float before[3], litBefore[3], after[3], litAfter[3];
    whiteOf(plain, 0, before);
    whiteOf(lit, 0, litBefore);
    whiteOf(plain, 3, after);
    whiteOf(lit, 3, litAfter);
    const double expected[3] = {0.6 * 1.25, 0.6, 0.6 * 0.8};  // red, green, blue
    for (int c = 0; c < 3; ++c) {
        EXPECT_NEAR(litBefore[c] / before[c], 1.0, 0.03) << "channel " << c << " before the ramp";
        EXPECT_NEAR(litAfter[c] / after[c], expected[c], 0.03 * expected[c]) << "channel " << c << " after it";
    }
}

TEST_F(ToolRun, UnwritableOutputFailsAndLeavesNoFileBehind) {
    std::string errors;
    const std::string quick = "--frames 2 --samples 1 ";
    EXPECT_NE(runTool(quick + "--video " + dir + "/missing/out.avi --truth " + dir + "/t.csv", &errors), 0);
    EXPECT_NE(errors.find("out.avi"), std::string::npos) << errors;
    EXPECT_NE(runTool(quick + "--video " + dir + "/out.avi --truth " + dir + "/missing/t.csv", &errors), 0);
    EXPECT_NE(errors.find("t.csv"), std::string::npos) << errors;
    EXPECT_TRUE(dirEmpty());
}

}  // namespace
