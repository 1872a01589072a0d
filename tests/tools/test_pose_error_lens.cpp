// pose_error with lenses: principal points and fy from either file (or their
// defaults from the picture's size), a distorted truth, the picture
// undistorted with a camera file (--camera) over the frames with its lens,
// other boards, and points past a lens's fold.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <string>
#include <vector>

#include "pose_error_run.h"

namespace {

// A camera's lens beside f: fy, the principal point, k1 k2 p1 p2 k3.
struct Lens {
    double fy, cx, cy, k[5];
};

constexpr Lens kCentred = {kF, 320, 240, {0, 0, 0, 0, 0}};
constexpr Lens kStrongLens = {605, 327.5, 236.25, {-0.28, 0.09, 0.0012, -0.0008, -0.015}};

std::string numbers(const double* values, int n) {
    std::string text;
    char number[40];
    for (int i = 0; i < n; ++i) {
        std::snprintf(number, sizeof number, ",%.17g", values[i]);
        text += number;
    }
    return text;
}

std::string lensTruthText(const std::vector<Cam>& cams, const Lens& lens) {
    std::string text = "frame,f,r1,r2,r3,r4,r5,r6,r7,r8,r9,tx,ty,tz,board_covered,fy,cx,cy,k1,k2,p1,p2,k3\n";
    const double values[3] = {lens.fy, lens.cx, lens.cy};
    for (size_t i = 0; i < cams.size(); ++i)
        text += std::to_string(i) + "," + cameraFields(cams[i]) + ",0" + numbers(values, 3) + numbers(lens.k, 5) + "\n";
    return text;
}

// arrender's layout: fy, cx, cy after the reprojection RMS, one lens a row.
std::string lensPosesText(const std::vector<Cam>& cams, const std::vector<Lens>& lenses) {
    std::string text = "frame,found,f,r1,r2,r3,r4,r5,r6,r7,r8,r9,tx,ty,tz,rms_px,fy,cx,cy,ms_track\n";
    for (size_t i = 0; i < cams.size(); ++i) {
        const Lens& lens = lenses[i < lenses.size() ? i : lenses.size() - 1];
        const double values[3] = {lens.fy, lens.cx, lens.cy};
        text += std::to_string(i) + ",1," + cameraFields(cams[i]) + ",0.1" + numbers(values, 3) + ",1.5\n";
    }
    return text;
}

// The lens as OpenCV's calibration sample writes it.
std::string cameraFileText(int width, int height, double f, const Lens& lens) {
    char text[1024];
    std::snprintf(text, sizeof text,
                  "%%YAML:1.0\n---\nimage_width: %d\nimage_height: %d\n"
                  "camera_matrix: !!opencv-matrix\n   rows: 3\n   cols: 3\n   dt: d\n"
                  "   data: [ %.17g, 0., %.17g, 0., %.17g, %.17g, 0., 0., 1. ]\n"
                  "distortion_coefficients: !!opencv-matrix\n   rows: 5\n   cols: 1\n   dt: d\n"
                  "   data: [ %.17g, %.17g, %.17g, %.17g, %.17g ]\n",
                  width, height, f, lens.cx, lens.fy, lens.cy, lens.k[0], lens.k[1], lens.k[2], lens.k[3], lens.k[4]);
    return text;
}

class PoseErrorLens : public PoseError {
protected:
    ToolOutput run(const std::string& options) {
        ToolOutput r = runPoseError(poses + " " + truth + " --csv " + options);
        EXPECT_EQ(r.status, 0) << r.err;
        EXPECT_FALSE(r.figures.empty()) << r.out;
        return r;
    }
};

std::vector<Cam> generalViews() { return {tilted(0, 0), tilted(20, -10), tilted(-25, 15), tilted(35, 30)}; }

// ---------------------------------------------------------------- principal point and fy

TEST_F(PoseErrorLens, PrincipalPointsOfBothFilesPlaceThePixels) {
    Lens off = kCentred;
    off.cx = 330, off.cy = 235;
    write(truth, lensTruthText({frontal()}, off));
    write(poses, lensPosesText({frontal()}, {kCentred}));
    ToolOutput r = run("");
    EXPECT_NEAR(figure(r, "board_max_px_median"), std::hypot(10, 5), 1e-6);
    EXPECT_NEAR(figure(r, "board_mean_px_median"), std::hypot(10, 5), 1e-6);
    EXPECT_NEAR(figure(r, "rotation_deg_median"), 0, kExact);
}

// A log without fy, cx, cy has the middle of the picture: 330, 235 for
// 660 x 470 from --size or from the camera file beside the truth, 320, 240
// for the default 640 x 480.
TEST_F(PoseErrorLens, FilesWithoutALensHaveThePictureMiddleOfTheGivenSize) {
    Lens middle = kCentred;
    middle.cx = 330, middle.cy = 235;
    truth = dir + "/clip_truth.csv";
    write(truth, lensTruthText({frontal()}, middle));
    write(poses, posesText({frontal()}));
    EXPECT_NEAR(figure(run("--size 660x470"), "board_max_px_median"), 0, kExact);
    EXPECT_NEAR(figure(run(""), "board_max_px_median"), std::hypot(10, 5), 1e-6);
    write(dir + "/clip_camera.yml", cameraFileText(660, 470, kF, middle));
    EXPECT_NEAR(figure(run(""), "board_max_px_median"), 0, kExact);
    EXPECT_NEAR(figure(run("--size 640x480"), "board_max_px_median"), std::hypot(10, 5), 1e-6);
}

// fy 2 % longer in the truth stretches the frontal picture vertically: a
// corner at height y from the middle moves by 0.02 f y / 20.
TEST_F(PoseErrorLens, TrueFyStretchesThePictureVertically) {
    Lens tall = kCentred;
    tall.fy = 1.02 * kF;
    write(truth, lensTruthText({frontal()}, tall));
    write(poses, lensPosesText({frontal()}, {kCentred}));
    ToolOutput r = run("");
    double perUnit = 0.02 * kF / kFrontalDepth;
    EXPECT_NEAR(figure(r, "board_max_px_median"), perUnit * 2.5, 1e-7);
    EXPECT_NEAR(figure(r, "board_mean_px_median"), perUnit * 1.5, 1e-7);  // mean |y - 2.5| over y = 0..5
}

// ---------------------------------------------------------------- distortion

// A pinhole overlay on a picture with k1 = -0.2: each board corner at
// normalised radius r is off by f |k1| r^3.
TEST_F(PoseErrorLens, DistortedTruthMovesEachCornerByItsLensDisplacement) {
    Lens barrel = kCentred;
    barrel.k[0] = -0.2;
    write(truth, lensTruthText({frontal()}, barrel));
    write(poses, lensPosesText({frontal()}, {kCentred}));
    ToolOutput r = run("");
    double sum = 0, largest = 0;
    for (int k = 0; k < 48; ++k) {
        double radius = std::hypot(k % 8 - kBoardCentre[0], k / 8 - kBoardCentre[1]) / kFrontalDepth;
        double d = kF * 0.2 * radius * radius * radius;
        sum += d, largest = std::max(largest, d);
    }
    EXPECT_NEAR(figure(r, "board_max_px_median"), largest, 1e-7);
    EXPECT_NEAR(figure(r, "board_mean_px_median"), sum / 48, 1e-7);
}

// The true cameras with the true lens, measured in the picture undistorted
// with the truth's own camera file: nothing left but rounding. Without
// --camera, the same overlay misses the distorted picture by pixels.
TEST_F(PoseErrorLens, UndistortedWithTheTruthsOwnFileTheTrueCameraRegistersExactly) {
    std::vector<Cam> cams = generalViews();
    write(truth, lensTruthText(cams, kStrongLens));
    write(poses, lensPosesText(cams, {kStrongLens}));
    std::string camera = dir + "/camera.yml";
    write(camera, cameraFileText(640, 480, kF, kStrongLens));
    ToolOutput r = run("--camera " + camera);
    EXPECT_EQ(figure(r, "measured"), 4);
    EXPECT_EQ(figure(r, "first_measured"), 0);
    for (const char* name : {"board_max_px_p95", "buildings_max_px_p95", "all_mean_px_p95"})
        EXPECT_LT(figure(r, name), 1e-6) << name;
    EXPECT_GT(figure(run(""), "board_max_px_p95"), 1.0);
}

// Undistorting with a file without distortion leaves the picture as it is.
TEST_F(PoseErrorLens, UndistortingWithAPinholeFileMeasuresThePictureItself) {
    std::vector<Cam> cams = generalViews();
    Lens pinhole = kStrongLens;
    for (double& k : pinhole.k) k = 0;
    write(truth, lensTruthText(cams, kStrongLens));
    write(poses, lensPosesText(cams, {pinhole}));
    std::string camera = dir + "/pinhole.yml";
    write(camera, cameraFileText(640, 480, kF, pinhole));
    ToolOutput undistorted = run("--camera " + camera), picture = run("");
    // The board is in the picture; building corners outside it, which the
    // undistorted picture cannot show, are left out with --camera only.
    for (const char* name : {"board_mean_px_median", "board_max_px_p95"})
        EXPECT_NEAR(figure(undistorted, name), figure(picture, name), 1e-7) << name;
    EXPECT_LE(figure(undistorted, "buildings_max_px_p95"), figure(picture, "buildings_max_px_p95"));
}

// A self-calibrating run: frames 0-2 with the start-up lens, from frame 3 on
// with the file's; only those count.
TEST_F(PoseErrorLens, OnlyFramesWithTheFilesLensAreMeasuredFromTheSwitchOn) {
    std::vector<Cam> cams;
    for (int i = 0; i < 6; ++i) cams.push_back(tilted(5 * i, -3 * i));
    std::vector<Cam> estimates = cams;
    for (int i = 0; i < 3; ++i) estimates[i].f = 590;
    Lens startUp = {590, 320, 240, {0, 0, 0, 0, 0}};
    write(truth, lensTruthText(cams, kStrongLens));
    write(poses, lensPosesText(estimates, {startUp, startUp, startUp, kStrongLens}));
    std::string camera = dir + "/camera.yml";
    write(camera, cameraFileText(640, 480, kF, kStrongLens));
    ToolOutput r = run("--camera " + camera);
    EXPECT_EQ(figure(r, "found"), 6);
    EXPECT_EQ(figure(r, "measured"), 3);
    EXPECT_EQ(figure(r, "first_measured"), 3);
    EXPECT_LT(figure(r, "all_max_px_p95"), 1e-6);
    ToolOutput table = runPoseError(poses + " " + truth + " --camera " + camera);
    EXPECT_NE(table.out.find("camera.yml: 3 frames with its lens, from frame 3"), std::string::npos) << table.out;
}

// arrender's lens columns: every row measured in the picture its own lens
// shows, and the changes of lens reported as switches.
std::string switchingPosesText(const std::vector<Cam>& cams, const std::vector<Lens>& lenses) {
    std::string text = "frame,found,f,r1,r2,r3,r4,r5,r6,r7,r8,r9,tx,ty,tz,rms_px,fy,cx,cy,ms_track,k1,k2,p1,p2,k3,k4,k5,k6\n";
    for (size_t i = 0; i < cams.size(); ++i) {
        const Lens& lens = lenses[i < lenses.size() ? i : lenses.size() - 1];
        const double values[3] = {lens.fy, lens.cx, lens.cy}, rational[3] = {0, 0, 0};
        text += std::to_string(i) + ",1," + cameraFields(cams[i]) + ",0.1" + numbers(values, 3) + ",1.5" +
                numbers(lens.k, 5) + numbers(rational, 3) + "\n";
    }
    return text;
}

TEST_F(PoseErrorLens, EachRowIsMeasuredWithItsOwnLensAndTheSwitchesAreReported) {
    std::vector<Cam> cams;
    for (int i = 0; i < 8; ++i) cams.push_back(tilted(5 * i, -3 * i));
    std::vector<Cam> estimates = cams;
    for (int i = 0; i < 3; ++i) estimates[i].f = 590;
    Lens startUp = {590, 320, 240, {0, 0, 0, 0, 0}}, near = kStrongLens;
    near.k[0] += 0.01;
    write(truth, lensTruthText(cams, kStrongLens));
    write(poses, switchingPosesText(estimates, {startUp, startUp, startUp, near, near, kStrongLens}));
    ToolOutput r = run("");
    EXPECT_EQ(figure(r, "measured"), 8);
    EXPECT_EQ(figure(r, "switches"), 2);
    EXPECT_EQ(figure(r, "first_switch"), 3);
    EXPECT_NEAR(figure(r, "switch_f_pct"), 0.0, 1e-9);
    EXPECT_NEAR(figure(r, "final_centre_px"), 0.0, 1e-9);
    EXPECT_GT(figure(r, "before_all_mean_px_median"), 1.0);  // the raw picture through a pinhole camera
    EXPECT_LT(figure(r, "after_all_mean_px_median"), 0.5);
    EXPECT_LT(figure(r, "worst_switch_rise_px"), 0.0);
    ToolOutput table = runPoseError(poses + " " + truth);
    EXPECT_NE(table.out.find("lens switches at frames 3 5;"), std::string::npos) << table.out;
}

TEST_F(PoseErrorLens, ACameraFileThatFitsNoFrameOrThePictureIsRefused) {
    std::vector<Cam> cams = generalViews();
    write(truth, lensTruthText(cams, kStrongLens));
    write(poses, lensPosesText(cams, {kCentred}));
    std::string camera = dir + "/camera.yml", wide = dir + "/wide.yml";
    write(camera, cameraFileText(640, 480, kF, kStrongLens));
    write(wide, cameraFileText(1280, 720, kF, kStrongLens));
    ToolOutput noFrame = runPoseError(poses + " " + truth + " --camera " + camera);
    EXPECT_EQ(noFrame.status, 1);
    EXPECT_EQ(noFrame.err.rfind("pose_error: " + poses + ": no frame", 0), 0u) << noFrame.err;
    ToolOutput missing = runPoseError(poses + " " + truth + " --camera " + dir + "/absent.yml");
    EXPECT_EQ(missing.status, 1);
    EXPECT_NE(missing.err.find("absent.yml: cannot read"), std::string::npos) << missing.err;
    ToolOutput otherShape = runPoseError(poses + " " + truth + " --camera " + wide);
    EXPECT_EQ(otherShape.status, 1);
    EXPECT_NE(otherShape.err.find("made for 1280 x 720"), std::string::npos) << otherShape.err;
}

// k1 = -0.8 folds at r = 0.645: predio2's roof corners (r about 0.76 from
// the frontal camera) come back into the picture elsewhere and are left
// out; the other corners are measured.
TEST_F(PoseErrorLens, PointsPastTheFoldOfTheTrueLensAreLeftOut) {
    Lens folding = kCentred;
    folding.k[0] = -0.8;
    write(truth, lensTruthText({frontal()}, folding));
    write(poses, lensPosesText({frontal()}, {kCentred}));
    ToolOutput r = run("");
    EXPECT_TRUE(std::isfinite(figure(r, "buildings_max_px_median")));
    EXPECT_TRUE(std::isfinite(figure(r, "all_mean_px_median")));
    ToolOutput table = runPoseError(poses + " " + truth);
    EXPECT_NE(table.out.find("left out"), std::string::npos) << table.out;
}

// ---------------------------------------------------------------- other boards

// As for 8 x 6: a turn about the optical axis moves the corner at rho from
// the origin by (f / depth) 2 rho sin(angle/2); the farthest of a 9 x 6
// board is (8, 5).
TEST_F(PoseErrorLens, BoardOptionMeasuresThatBoardsCorners) {
    Cam truthCam = frontal(), estimate = frontal();
    const double opticalAxis[3] = {0, 0, 1};
    turn(opticalAxis, 1.0, estimate.R);
    write(truth, truthText({truthCam}));
    write(poses, posesText({estimate}));
    ToolOutput r = run("--board 9x6");
    double pixelsPerUnit = 2 * std::sin(0.5 * kPi / 180) * kF / kFrontalDepth, sum = 0;
    for (int k = 0; k < 54; ++k) sum += pixelsPerUnit * std::hypot(k % 9, k / 9);
    EXPECT_NEAR(figure(r, "board_max_px_median"), pixelsPerUnit * std::hypot(8, 5), 1e-4);
    EXPECT_NEAR(figure(r, "board_mean_px_median"), sum / 54, 1e-4);
}

// ---------------------------------------------------------------- refused input

TEST_F(PoseErrorLens, BadLensColumnsAndOptionsAreRefused) {
    std::vector<Cam> cams = {frontal()};
    write(poses, lensPosesText(cams, {kCentred}));
    Lens flat = kCentred;
    flat.fy = 0;
    std::string withNan = lensTruthText(cams, kCentred);
    withNan.replace(withNan.rfind(",0\n"), 3, ",nan\n");
    std::string twice = lensTruthText(cams, kCentred);
    twice.replace(twice.find(",k3"), 3, ",k2");
    for (const std::string& text : {lensTruthText(cams, flat), withNan, twice}) {
        write(truth, text);
        ToolOutput r = runPoseError(poses + " " + truth);
        EXPECT_EQ(r.status, 1) << text;
        EXPECT_EQ(r.err.rfind("pose_error: " + truth + ": line ", 0), 0u) << r.err;
    }
    write(truth, lensTruthText(cams, kCentred));
    for (const char* options : {"--size 640", "--size 0x480", "--size 640x", "--board 8x8", "--board 7", "--camera"}) {
        ToolOutput r = runPoseError(poses + " " + truth + " " + options);
        EXPECT_EQ(r.status, 2) << options;
        EXPECT_EQ(r.err.rfind("pose_error: ", 0), 0u) << options << ": " << r.err;
    }
}

}  // namespace
