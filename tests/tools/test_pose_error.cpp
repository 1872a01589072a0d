// pose_error on hand-made pose logs and truths: exact cameras, perturbations
// whose pixel errors follow from the geometry, which frames count, the still
// stretch and its jitter, and inputs that must be refused.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "pose_error_run.h"

namespace {

const char* const kPixelFigures[] = {"board_mean_px", "board_max_px", "buildings_mean_px",
                                     "buildings_max_px", "all_mean_px", "all_max_px"};

// ---------------------------------------------------------------- exact and perturbed cameras

TEST_F(PoseError, IdenticalCamerasGiveZeroErrors) {
    std::vector<Cam> cams = {tilted(0, 0), tilted(20, 0), tilted(-15, 25), tilted(35, -10)};
    ToolOutput r = measure(cams, cams);
    EXPECT_EQ(figure(r, "frames"), 4);
    EXPECT_EQ(figure(r, "found"), 4);
    EXPECT_EQ(figure(r, "measured"), 4);
    for (const char* name : kPixelFigures) {
        EXPECT_NEAR(figure(r, std::string(name) + "_median"), 0.0, kExact) << name;
        EXPECT_NEAR(figure(r, std::string(name) + "_p95"), 0.0, kExact) << name;
    }
    for (const char* name : {"rotation_deg_p95", "translation_pct_p95", "focal_pct_p95"})
        EXPECT_NEAR(figure(r, name), 0.0, kExact) << name;
}

// A sideways shift d of a frontal camera moves an image point at depth z by
// f d / z: the whole board alike, the buildings' tops most.
TEST_F(PoseError, SidewaysShiftOfOnePercentMovesTheBoardByFdOverZ) {
    Cam truthCam = frontal(), estimate = frontal();
    double d = 0.01 * distance(truthCam);
    estimate.T[0] += d;
    ToolOutput r = measure({estimate}, {truthCam});
    EXPECT_NEAR(figure(r, "translation_pct_median"), 1.0, 1e-4);
    EXPECT_NEAR(figure(r, "rotation_deg_median"), 0.0, kExact);
    EXPECT_NEAR(figure(r, "focal_pct_median"), 0.0, kExact);
    double onBoard = kF * d / kFrontalDepth, onTallestTop = kF * d / (kFrontalDepth - kTallestBuilding);
    EXPECT_NEAR(figure(r, "board_mean_px_median"), onBoard, 1e-4);
    EXPECT_NEAR(figure(r, "board_max_px_median"), onBoard, 1e-4);
    EXPECT_NEAR(figure(r, "buildings_max_px_median"), onTallestTop, 1e-4);
    EXPECT_GT(figure(r, "buildings_mean_px_median"), onBoard);
    EXPECT_LT(figure(r, "buildings_mean_px_median"), onTallestTop);
    EXPECT_NEAR(figure(r, "all_max_px_median"), onTallestTop, 1e-4);
    double allMean = (48 * onBoard + 16 * figure(r, "buildings_mean_px_median")) / 64;
    EXPECT_NEAR(figure(r, "all_mean_px_median"), allMean, 1e-4);
}

// Turning R about the optical axis with T kept turns a frontal camera's
// picture about the board's origin corner: a corner at rho from it moves by
// (f / depth) 2 rho sin(angle/2).
TEST_F(PoseError, TurnOfOneDegreeAboutTheOpticalAxisIsOneDegreeAndMovesCornersAlongArcs) {
    Cam truthCam = frontal(), estimate = frontal();
    const double opticalAxis[3] = {0, 0, 1};
    turn(opticalAxis, 1.0, estimate.R);
    ToolOutput r = measure({estimate}, {truthCam});
    EXPECT_NEAR(figure(r, "rotation_deg_median"), 1.0, 1e-6);
    EXPECT_NEAR(figure(r, "translation_pct_median"), 0.0, kExact);
    double pixelsPerUnit = 2 * std::sin(0.5 * kPi / 180) * kF / kFrontalDepth, sum = 0;
    for (int k = 0; k < 48; ++k) sum += pixelsPerUnit * std::hypot(k % 8, k / 8);
    EXPECT_NEAR(figure(r, "board_mean_px_median"), sum / 48, 1e-4);
    EXPECT_NEAR(figure(r, "board_max_px_median"), pixelsPerUnit * std::hypot(7, 5), 1e-4);
}

TEST_F(PoseError, RotationErrorIsTheAngleBetweenTheCamerasWhateverTheAxis) {
    std::vector<Cam> trueCams = {tilted(25, 10), tilted(-30, 5), tilted(10, -40)};
    std::vector<Cam> estimates = trueCams;
    const double axes[3][3] = {{1, 0, 0}, {0, 0.6, 0.8}, {0.48, -0.6, 0.64}};
    for (int i = 0; i < 3; ++i) turn(axes[i], 1.0, estimates[i].R);
    ToolOutput r = measure(estimates, trueCams);
    EXPECT_NEAR(figure(r, "rotation_deg_median"), 1.0, 1e-6);
    EXPECT_NEAR(figure(r, "rotation_deg_p95"), 1.0, 1e-6);
    EXPECT_GT(figure(r, "board_mean_px_median"), 1.0);
}

// A frontal camera with f 2 % too long scales the picture about its centre.
TEST_F(PoseError, FocalLengthTwoPercentLongScalesThePictureByTwoPercent) {
    Cam truthCam = frontal(), estimate = frontal();
    estimate.f = 1.02 * kF;
    ToolOutput r = measure({estimate}, {truthCam});
    EXPECT_NEAR(figure(r, "focal_pct_median"), 2.0, 1e-9);
    double farthest = 0.02 * kF / kFrontalDepth * std::hypot(kBoardCentre[0], kBoardCentre[1]);
    EXPECT_NEAR(figure(r, "board_max_px_median"), farthest, 1e-4);
}

// Frame k off by k % of the distance, k = 0..20: the median is 10 %, the
// 95th percentile 19 % (rank 0.95 x 20).
TEST_F(PoseError, MedianAndPercentileAreTakenOverTheMeasuredFrames) {
    std::vector<Cam> trueCams, estimates;
    for (int k = 0; k <= 20; ++k) {
        Cam c = tilted(k, -k), e = c;
        for (double& t : e.T) t *= 1.0 + k / 100.0;
        trueCams.push_back(c);
        estimates.push_back(e);
    }
    ToolOutput r = measure(estimates, trueCams);
    EXPECT_NEAR(figure(r, "translation_pct_median"), 10.0, 1e-6);
    EXPECT_NEAR(figure(r, "translation_pct_p95"), 19.0, 1e-6);
}

// ---------------------------------------------------------------- which frames count

TEST_F(PoseError, FramesWithoutTheBoardOrBeforeTheFirstCalibrationAreLeftOut) {
    std::vector<Cam> trueCams = {tilted(0, 0), tilted(5, 0), tilted(10, 0), tilted(15, 0), tilted(20, 0)};
    std::vector<Cam> estimates = trueCams;
    estimates[0] = Cam{};                  // found, but no camera yet: zeros
    for (double& t : estimates[1].T) t *= 1.5;  // not found: the stale camera in force
    ToolOutput r = measure(estimates, trueCams, {true, false, true, true, true});
    EXPECT_EQ(figure(r, "found"), 4);
    EXPECT_EQ(figure(r, "measured"), 3);
    EXPECT_NEAR(figure(r, "translation_pct_p95"), 0.0, kExact);
    EXPECT_NEAR(figure(r, "all_max_px_p95"), 0.0, kExact);
}

TEST_F(PoseError, LogOfAShorterRunIsComparedWithTheTruthsFirstFrames) {
    std::vector<Cam> trueCams = {tilted(0, 0), tilted(5, 0), tilted(10, 0), tilted(15, 0)};
    ToolOutput r = measure({trueCams[0], trueCams[1]}, trueCams);
    EXPECT_EQ(figure(r, "frames"), 2);
    EXPECT_NEAR(figure(r, "all_max_px_p95"), 0.0, kExact);
}

// An estimate behind the board (the picture mirrored) must not pass for a
// small error, nor crash.
TEST_F(PoseError, PointsBehindTheEstimatedCameraCountAsInfinitelyFar) {
    Cam truthCam = frontal(), estimate = frontal();
    estimate.T[2] = -kFrontalDepth;
    ToolOutput r = measure({estimate}, {truthCam});
    EXPECT_TRUE(std::isinf(figure(r, "board_mean_px_median")));
    EXPECT_TRUE(std::isinf(figure(r, "all_max_px_p95")));
    EXPECT_NEAR(figure(r, "translation_pct_median"), 200.0 * kFrontalDepth / distance(truthCam), 1e-4);
}

TEST_F(PoseError, WindowsLineEndsReadAsUnixOnes) {
    std::vector<Cam> cams = {tilted(0, 0), tilted(5, 5)};
    std::string text = truthText(cams), crlf;
    for (char c : text) crlf += c == '\n' ? std::string("\r\n") : std::string(1, c);
    write(truth, crlf);
    write(poses, posesText(cams));
    ToolOutput r = runPoseError(poses + " " + truth + " --csv");
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(figure(r, "measured"), 2);
}

// ---------------------------------------------------------------- the still stretch

// Frames 2-4 and 9-15 hold still; everything else moves.
std::vector<Cam> clipWithTwoStillRuns() {
    std::vector<Cam> cams;
    for (int i = 0; i < 20; ++i) {
        int pose = i >= 2 && i <= 4 ? 2 : i >= 9 && i <= 15 ? 9 : i;
        Cam c = frontal();
        c.T[0] += 0.1 * pose;
        cams.push_back(c);
    }
    return cams;
}

TEST_F(PoseError, StillStretchIsTheLongestRunOfIdenticalTrueCameras) {
    std::vector<Cam> cams = clipWithTwoStillRuns();
    ToolOutput r = measure(cams, cams);
    EXPECT_EQ(figure(r, "still_first"), 9);
    EXPECT_EQ(figure(r, "still_last"), 15);
    EXPECT_EQ(figure(r, "true_camera_still"), 1);
    EXPECT_EQ(figure(r, "jitter_pairs"), 6);
    EXPECT_NEAR(figure(r, "jitter_max_px"), 0.0, kExact);
}

// Estimates alternating by +-d sideways move a building corner at depth z by
// 2 f d / z between frames: at most at the tallest top, at least on the
// table. Frame 12 without the board takes out its two pairs.
TEST_F(PoseError, JitterIsTheFrameToFrameMotionOfTheBuildingCornersOnTheStillStretch) {
    std::vector<Cam> trueCams = clipWithTwoStillRuns(), estimates = trueCams;
    const double d = 0.01;
    for (int i = 9; i <= 15; ++i) estimates[i].T[0] += i % 2 ? d : -d;
    std::vector<bool> found(20, true);
    found[12] = false;
    ToolOutput r = measure(estimates, trueCams, found);
    EXPECT_EQ(figure(r, "jitter_pairs"), 4);
    // A corner moves by 2 f d / depth: from the table's depth to the tallest
    // top's; only the corners inside the picture count (the frontal camera
    // does not show every top).
    double onTable = 2 * kF * d / kFrontalDepth, onTallestTop = 2 * kF * d / (kFrontalDepth - kTallestBuilding);
    EXPECT_GT(figure(r, "jitter_max_px"), onTable);
    EXPECT_LE(figure(r, "jitter_max_px"), onTallestTop + 1e-6);
    EXPECT_GT(figure(r, "jitter_rms_px"), onTable);
    EXPECT_LT(figure(r, "jitter_rms_px"), onTallestTop);
}

TEST_F(PoseError, StillOptionChoosesTheStretchAndTellsWhenTheTrueCameraMoves) {
    std::vector<Cam> cams = clipWithTwoStillRuns();
    ToolOutput r = measure(cams, cams, {}, "--still 4:7");
    EXPECT_EQ(figure(r, "still_first"), 4);
    EXPECT_EQ(figure(r, "still_last"), 7);
    EXPECT_EQ(figure(r, "true_camera_still"), 0);
    EXPECT_EQ(figure(r, "jitter_pairs"), 3);
    EXPECT_GT(figure(r, "jitter_max_px"), 1.0);  // the true motion, 0.1 units per frame

    ToolOutput table = runPoseError(poses + " " + truth + " --still 4:7");
    EXPECT_EQ(table.status, 0);
    EXPECT_NE(table.out.find("frames 4-7 (the true camera moves there)"), std::string::npos) << table.out;
}

TEST_F(PoseError, ClipWithoutAStillStretchReportsNoJitter) {
    std::vector<Cam> cams;
    for (int i = 0; i < 5; ++i) cams.push_back(tilted(3 * i, 0));
    ToolOutput r = measure(cams, cams);
    EXPECT_EQ(figure(r, "still_first"), -1);
    EXPECT_EQ(figure(r, "jitter_pairs"), 0);
    EXPECT_TRUE(std::isnan(figure(r, "jitter_rms_px")));

    ToolOutput table = runPoseError(poses + " " + truth);
    EXPECT_EQ(table.status, 0);
    EXPECT_NE(table.out.find("no still stretch"), std::string::npos) << table.out;
}

// ---------------------------------------------------------------- refused input

TEST_F(PoseError, BadArgumentsFailWithAUsageMessage) {
    std::vector<Cam> cams = {frontal(), frontal()};
    write(poses, posesText(cams));
    write(truth, truthText(cams));
    const std::string files = poses + " " + truth;
    for (const std::string& arguments :
         {std::string(""), poses, files + " " + poses, files + " --bogus", files + " --still",
          files + " --still 5", files + " --still 5:3", files + " --still 4:4", files + " --still a:b",
          files + " --still 3:", files + " --still -1:2"}) {
        ToolOutput r = runPoseError(arguments);
        EXPECT_EQ(r.status, 2) << arguments;
        EXPECT_EQ(r.err.rfind("pose_error: ", 0), 0u) << arguments << ": " << r.err;
        EXPECT_TRUE(r.out.empty()) << arguments;
    }
    ToolOutput help = runPoseError("--help");
    EXPECT_EQ(help.status, 0);
    EXPECT_NE(help.out.find("Usage: pose_error [OPTIONS] POSES TRUTH"), std::string::npos) << help.out;
}

struct BadInput {
    const char* what;
    std::string poses, truth;
    const char* blamed;  // "poses" or "truth": the file the message names
};

std::vector<BadInput> badInputs() {
    std::vector<Cam> two = {frontal(), tilted(10, 0)}, three = {frontal(), tilted(10, 0), tilted(20, 0)};
    std::string p = posesText(two), t = truthText(two);
    std::string notRotation = truthText({frontal()}), zeroFocal = truthText({frontal()});
    notRotation.replace(notRotation.find(",1,0,0,"), 7, ",2,0,0,");
    zeroFocal.replace(zeroFocal.find("\n0,600,") + 3, 3, "0");
    std::string longLine = kPosesHeader + std::string(5000, '1') + "\n";
    std::string outOfOrder =
        kTruthHeader + ("1," + cameraFields(two[1]) + ",0\n") + ("0," + cameraFields(two[0]) + ",0\n");
    return {
        {"empty poses", "", t, "poses"},
        {"poses without rows", kPosesHeader, t, "poses"},
        {"poses header", "frame,found,f\n0,1,600\n", t, "poses"},
        {"truth header", p, "frame,f,r1\n", "truth"},
        {"truth with extra column", p, "frame,f,r1,r2,r3,r4,r5,r6,r7,r8,r9,tx,ty,tz,board_covered,x\n", "truth"},
        {"short row", p + "2,1,600,1,0\n", truthText(three), "poses"},
        {"long row", p.substr(0, p.size() - 1) + ",7\n", t, "poses"},
        {"blank line", p + "\n", t, "poses"},
        {"word for f", kPosesHeader + std::string("0,1,six,1,0,0,0,1,0,0,0,1,0,0,20,0.1,1\n"), t, "poses"},
        {"nan in R", kPosesHeader + std::string("0,1,600,nan,0,0,0,1,0,0,0,1,0,0,20,0.1,1\n"), t, "poses"},
        {"infinite T", kPosesHeader + std::string("0,1,600,1,0,0,0,1,0,0,0,1,0,0,1e999,0.1,1\n"), t, "poses"},
        {"found 2", kPosesHeader + std::string("0,2,600,1,0,0,0,1,0,0,0,1,0,0,20,0.1,1\n"), t, "poses"},
        {"frame skipped", kPosesHeader + std::string("1,1,600,1,0,0,0,1,0,0,0,1,0,0,20,0.1,1\n"), t, "poses"},
        {"log longer than the truth", posesText(three), t, "poses"},
        {"truth frames out of order", p, outOfOrder, "truth"},
        {"truth R not a rotation", posesText({frontal()}), notRotation, "truth"},
        {"truth f zero", posesText({frontal()}), zeroFocal, "truth"},
        {"board never found", posesText(two, {false, false}), t, "poses"},
        {"line too long", longLine, t, "poses"},
        {"binary", std::string("frame\0found\xff\xfe\n\0\0\0", 17), t, "poses"},
    };
}

TEST_F(PoseError, MalformedOrMismatchedFilesFailNamingTheFile) {
    for (const BadInput& bad : badInputs()) {
        write(poses, bad.poses);
        write(truth, bad.truth);
        ToolOutput r = runPoseError(poses + " " + truth);
        EXPECT_EQ(r.status, 1) << bad.what;
        const std::string& blamed = std::string(bad.blamed) == "poses" ? poses : truth;
        EXPECT_EQ(r.err.rfind("pose_error: " + blamed + ": ", 0), 0u) << bad.what << ": " << r.err;
        EXPECT_TRUE(r.out.empty()) << bad.what;
    }
}

TEST_F(PoseError, MissingFilesAndAStillStretchPastTheTruthFail) {
    std::vector<Cam> cams = {frontal(), frontal()};
    write(truth, truthText(cams));
    ToolOutput missing = runPoseError(dir + "/absent.csv " + truth);
    EXPECT_EQ(missing.status, 1);
    EXPECT_NE(missing.err.find("absent.csv: cannot read"), std::string::npos) << missing.err;

    write(poses, posesText(cams));
    ToolOutput pastTheEnd = runPoseError(poses + " " + truth + " --still 0:2");
    EXPECT_EQ(pastTheEnd.status, 1);
    EXPECT_NE(pastTheEnd.err.find("--still"), std::string::npos) << pastTheEnd.err;
}

}  // namespace

// ---------------------------------------------------------------- other occluders, tracked frames

// A sideways shift moves a point by f d / depth: a scene's single occluder
// lying in the board's plane moves exactly as the board does, the built-in
// buildings (standing above it) more.
TEST_F(PoseError, SceneFilesOccludersAreMeasuredInsteadOfTheBuildings) {
    Cam truthCam = frontal(), estimate = frontal();
    estimate.T[0] += 0.01 * distance(truthCam);
    write(dir + "/flat.yml",
          "occluders:\n  - corners: [[1,0,1],[1,0,2],[2,0,2],[2,0,1],[3,0,1],[3,0,2],[4,0,2],[4,0,1]]\n"
          "model: {file: flat.obj}\n");
    write(dir + "/flat.obj", "v 0 0 0\nv 1 0 0\nv 0 1 0\nf 1 2 3\n");
    ToolOutput withScene = measure({estimate}, {truthCam}, {}, "--scene " + dir + "/flat.yml");
    ToolOutput builtIn = measure({estimate}, {truthCam});
    EXPECT_NEAR(figure(withScene, "buildings_max_px_median"), figure(withScene, "board_max_px_median"), 1e-6);
    EXPECT_GT(figure(builtIn, "buildings_max_px_median"), figure(builtIn, "board_max_px_median") + 0.1);
    ToolOutput bad = runPoseError(poses + " " + truth + " --scene " + dir + "/missing.yml");
    EXPECT_EQ(bad.status, 1);
    EXPECT_NE(bad.err.find("missing.yml"), std::string::npos) << bad.err;
}

// Frames whose pose came from tracked corners count, and those in which
// something covers the board are also measured on their own.
TEST_F(PoseError, TrackedFramesCountAndCoveredFramesAreMeasuredApart) {
    std::vector<Cam> cams = {tilted(0, 0), tilted(5, 0), tilted(10, 0), tilted(15, 0)};
    std::string posesWithTracking = "frame,found,f,r1,r2,r3,r4,r5,r6,r7,r8,r9,tx,ty,tz,rms_px,tracked\n";
    std::string coveredTruth = kTruthHeader;
    for (size_t i = 0; i < cams.size(); ++i) {
        bool covered = i == 2;
        posesWithTracking += std::to_string(i) + (covered ? ",0," : ",1,") + cameraFields(cams[i]) +
                             (covered ? ",nan,1\n" : ",0.1,0\n");
        coveredTruth += std::to_string(i) + "," + cameraFields(cams[i]) + (covered ? ",1\n" : ",0\n");
    }
    write(poses, posesWithTracking);
    write(truth, coveredTruth);
    ToolOutput r = runPoseError(poses + " " + truth + " --csv");
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(figure(r, "found"), 3);
    EXPECT_EQ(figure(r, "tracked"), 1);
    EXPECT_EQ(figure(r, "measured"), 4);
    EXPECT_EQ(figure(r, "covered_frames"), 1);
    EXPECT_EQ(figure(r, "covered_measured"), 1);
    EXPECT_NEAR(figure(r, "covered_all_mean_px_median"), 0.0, kExact);
}
