// The pose filter on exact synthetic poses: what it leaves alone, how much
// noise it takes out, when it starts afresh, how it follows a move, and that
// R stays a rotation.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <random>
#include <vector>

#include "pose_filter.h"
#include "tsai.h"

namespace {

constexpr double kPi = 3.14159265358979323846;
constexpr double kFrameMs = 1000.0 / 30.0;

struct Pose {
    double R[9], T[3];
};

// Rotation by the rotation vector v (Rodrigues).
void rotationFromVector(const double* v, double* R) {
    double angle = std::sqrt(v[0] * v[0] + v[1] * v[1] + v[2] * v[2]);
    double k[3] = {0, 0, 1};
    if (angle > 0) k[0] = v[0] / angle, k[1] = v[1] / angle, k[2] = v[2] / angle;
    double c = std::cos(angle), s = std::sin(angle), t = 1 - c;
    R[0] = c + t * k[0] * k[0], R[1] = t * k[0] * k[1] - s * k[2], R[2] = t * k[0] * k[2] + s * k[1];
    R[3] = t * k[0] * k[1] + s * k[2], R[4] = c + t * k[1] * k[1], R[5] = t * k[1] * k[2] - s * k[0];
    R[6] = t * k[0] * k[2] - s * k[1], R[7] = t * k[1] * k[2] + s * k[0], R[8] = c + t * k[2] * k[2];
}

void multiply(const double* A, const double* B, double* AB) {
    for (int r = 0; r < 3; ++r)
        for (int c = 0; c < 3; ++c) AB[3 * r + c] = A[3 * r] * B[c] + A[3 * r + 1] * B[3 + c] + A[3 * r + 2] * B[6 + c];
}

// A camera 24 units from the board, seen at a slant, turned by the rotation
// vector `turn` about its own centre and moved by `move` (camera frame).
Pose cameraPose(const double* turn, const double* move) {
    const double slant[3] = {0.35, 0.1, 0.2}, T0[3] = {-3.5, -2.5, 24.0};
    double R0[9], Q[9];
    rotationFromVector(slant, R0);
    rotationFromVector(turn, Q);
    Pose p;
    multiply(Q, R0, p.R);
    for (int r = 0; r < 3; ++r) p.T[r] = Q[3 * r] * T0[0] + Q[3 * r + 1] * T0[1] + Q[3 * r + 2] * T0[2] + move[r];
    return p;
}

Pose stillPose() {
    const double zero[3] = {0, 0, 0};
    return cameraPose(zero, zero);
}

double angleBetween(const double* Ra, const double* Rb) {
    double sum = 0.0;
    for (int i = 0; i < 9; ++i) sum += (Ra[i] - Rb[i]) * (Ra[i] - Rb[i]);
    return 2.0 * std::asin(std::fmin(1.0, std::sqrt(sum) / (2.0 * std::sqrt(2.0))));
}

double distance(const double* a, const double* b) { return std::hypot(a[0] - b[0], a[1] - b[1], a[2] - b[2]); }

double largestOrthonormalityError(const double* R) {
    double worst = 0.0;
    for (int a = 0; a < 3; ++a)
        for (int b = 0; b < 3; ++b) {
            double d = R[3 * a] * R[3 * b] + R[3 * a + 1] * R[3 * b + 1] + R[3 * a + 2] * R[3 * b + 2];
            worst = std::fmax(worst, std::fabs(d - (a == b ? 1.0 : 0.0)));
        }
    return worst;
}

double determinant(const double* R) {
    return R[0] * (R[4] * R[8] - R[5] * R[7]) - R[1] * (R[3] * R[8] - R[5] * R[6]) + R[2] * (R[3] * R[7] - R[4] * R[6]);
}

// The board's corners seen through the pose with Gaussian noise of sigma
// px, and the pose calibrated back from them with f known (the least-squares
// pose, as the viewer's smoothing takes it): n frames of a camera that holds still (or moves
// as `at` says), with each pose's corner RMS.
struct NoisyPose {
    Pose pose;
    double rmsPx;
};

constexpr int kColumns = 8, kRows = 6, kCorners = kColumns * kRows;

NoisyPose poseFromNoisyCorners(const Pose& truth, double f, double sigmaPx, std::mt19937* random) {
    std::normal_distribution<double> noise(0.0, sigmaPx);
    double worldX[kCorners], worldY[kCorners], x[kCorners], y[kCorners];
    for (int k = 0; k < kCorners; ++k) {
        worldX[k] = k % kColumns, worldY[k] = k / kColumns;
        tsaiProject(worldX[k], worldY[k], 0.0, &x[k], &y[k], f, truth.T, truth.R);
        x[k] += noise(*random), y[k] += noise(*random);
    }
    NoisyPose out = {truth, 0.0};
    tsaiCalibration2D_Tr(kCorners, worldX, worldY, x, y, f, out.pose.T, out.pose.R);
    tsaiRefinePose(kCorners, worldX, worldY, x, y, f, out.pose.T, out.pose.R);  // as the smoothing measures
    double sum = 0.0;
    for (int k = 0; k < kCorners; ++k) {
        double u, v;
        tsaiProject(worldX[k], worldY[k], 0.0, &u, &v, f, out.pose.T, out.pose.R);
        sum += (u - x[k]) * (u - x[k]) + (v - y[k]) * (v - y[k]);
    }
    out.rmsPx = std::sqrt(sum / kCorners);
    return out;
}

std::vector<NoisyPose> noisyStillPoses(int frames, double f, double sigmaPx, unsigned seed) {
    std::mt19937 random(seed);
    std::vector<NoisyPose> poses;
    for (int i = 0; i < frames; ++i) poses.push_back(poseFromNoisyCorners(stillPose(), f, sigmaPx, &random));
    return poses;
}

// The noise per coordinate from the corners' RMS, as cornerNoisePx gives it.
PoseNoise noiseOf(double f, double rmsPx) {
    return PoseNoise{f, f, rmsPx / std::sqrt(2.0 * (1.0 - 3.0 / kCorners)), kCorners};
}
const PoseNoise kExactNoise = noiseOf(600.0, 0.1);

std::vector<Pose> filtered(const std::vector<NoisyPose>& poses, double f, double minCutoffHz, double beta) {
    PoseFilter filter;
    initPoseFilter(&filter, minCutoffHz, beta);
    std::vector<Pose> out;
    for (size_t i = 0; i < poses.size(); ++i) {
        Pose p = poses[i].pose;
        filterPose(&filter, i * kFrameMs, noiseOf(f, poses[i].rmsPx), p.R, p.T);
        out.push_back(p);
    }
    return out;
}

// Where the pose puts a point 3 squares above the board's far corner, px.
void probePixel(const Pose& p, double f, double* u, double* v) {
    tsaiProject(kColumns - 1, kRows - 1, -3.0, u, v, f, p.T, p.R);
}

// RMS frame-to-frame movement of that point, px, skipping `settle` frames.
double jitterPx(const std::vector<Pose>& poses, double f, size_t settle) {
    double sum = 0.0;
    for (size_t i = settle + 1; i < poses.size(); ++i) {
        double u0, v0, u1, v1;
        probePixel(poses[i - 1], f, &u0, &v0);
        probePixel(poses[i], f, &u1, &v1);
        sum += (u1 - u0) * (u1 - u0) + (v1 - v0) * (v1 - v0);
    }
    return std::sqrt(sum / (poses.size() - settle - 1));
}

// RMS distance of that point from where the true pose puts it, px.
double errorPx(const std::vector<Pose>& poses, const Pose& truth, double f, size_t settle) {
    double sum = 0.0, ut, vt;
    probePixel(truth, f, &ut, &vt);
    for (size_t i = settle; i < poses.size(); ++i) {
        double u, v;
        probePixel(poses[i], f, &u, &v);
        sum += (u - ut) * (u - ut) + (v - vt) * (v - vt);
    }
    return std::sqrt(sum / (poses.size() - settle));
}

std::vector<Pose> rawPoses(const std::vector<NoisyPose>& poses) {
    std::vector<Pose> out;
    for (const NoisyPose& p : poses) out.push_back(p.pose);
    return out;
}

// A still camera that starts to move at constant speed, turning (radians
// per frame about its vertical axis) or sliding sideways (units per frame),
// with exact poses and the noise level of a sharp detection: the lag in
// frames (the filtered pose's distance to the raw one over the step per
// frame) after two seconds, and the largest on the way.
double moveLagFrames(double turnPerFrame, double slidePerFrame, double f, double beta, double* largest = nullptr) {
    PoseFilter filter;
    initPoseFilter(&filter, kPoseFilterMinCutoffHz, beta);
    double lag = 0.0, most = 0.0;
    for (int i = -10; i < 60; ++i) {
        int moving = std::max(i, 0);
        const double turn[3] = {0, turnPerFrame * moving, 0}, move[3] = {slidePerFrame * moving, 0, 0};
        Pose raw = cameraPose(turn, move), out = raw;
        filterPose(&filter, (i + 10) * kFrameMs, noiseOf(f, 0.1), out.R, out.T);
        lag = turnPerFrame > 0 ? angleBetween(out.R, raw.R) / turnPerFrame : distance(out.T, raw.T) / slidePerFrame;
        most = std::fmax(most, lag);
    }
    if (largest) *largest = most;
    return lag;
}

double panLagFrames(double degreesPerSecond, double f, double beta, double* largest = nullptr) {
    return moveLagFrames(degreesPerSecond * kPi / 180.0 / 30.0, 0.0, f, beta, largest);
}

}  // namespace

TEST(PoseFilterStill, ConstantPoseComesBackUnchanged) {
    PoseFilter filter;
    initPoseFilter(&filter, kPoseFilterMinCutoffHz, kPoseFilterBeta);
    Pose still = stillPose();
    for (int i = 0; i < 100; ++i) {
        Pose p = still;
        EXPECT_EQ(filterPose(&filter, i * kFrameMs, kExactNoise, p.R, p.T), i > 0) << "frame " << i;
        for (int k = 0; k < 9; ++k) ASSERT_NEAR(p.R[k], still.R[k], 1e-12) << "frame " << i;
        for (int k = 0; k < 3; ++k) ASSERT_NEAR(p.T[k], still.T[k], 1e-12) << "frame " << i;
    }
}

TEST(PoseFilterStill, NoiseShrinksAsTheAlphaBetaFilterPredicts) {
    // With beta 0 the gain is constant: a steady-state alpha-beta filter of
    // alpha = 1 / (1 + 1 / (2 pi fc dt)) and beta = alpha^2 / (2 - alpha),
    // which leaves sqrt((2 a^2 + 2 b - 3 a b) / (a (4 - 2 a - b))) of white
    // noise about a still point.
    const double cutoffHz = 1.0, a = 1.0 / (1.0 + 1.0 / (2.0 * kPi * cutoffHz * kFrameMs / 1000.0));
    const double b = a * a / (2.0 - a), expected = std::sqrt((2 * a * a + 2 * b - 3 * a * b) / (a * (4 - 2 * a - b)));
    std::vector<NoisyPose> raw = noisyStillPoses(3000, 600.0, 0.15, 7);
    double before = errorPx(rawPoses(raw), stillPose(), 600.0, 60);
    double after = errorPx(filtered(raw, 600.0, cutoffHz, 0.0), stillPose(), 600.0, 60);
    EXPECT_NEAR(after / before, expected, 0.12 * expected);
}

TEST(PoseFilterStill, DefaultsHalveTheJitterOfAStillCameraWhateverTheLensAndNoise) {
    // A short and a long lens, a sharp and a noisy detector: the same
    // defaults at least halve the overlay's frame-to-frame jitter.
    for (double f : {500.0, 1500.0})
        for (double sigma : {0.05, 0.4}) {
            std::vector<NoisyPose> raw = noisyStillPoses(400, f, sigma, 11);
            double before = jitterPx(rawPoses(raw), f, 30), after = jitterPx(filtered(raw, f, kPoseFilterMinCutoffHz,
                                                                                            kPoseFilterBeta), f, 30);
            EXPECT_LT(after, 0.5 * before) << "f " << f << ", noise " << sigma << " px";
        }
}

TEST(PoseFilterRestarts, JumpOfRotationOrTranslationPassesThrough) {
    const double none[3] = {0, 0, 0}, bigTurn[3] = {0, 1.5 * kPoseFilterJumpRad, 0},
                 bigMove[3] = {1.5 * kPoseFilterJumpRad * 24.5, 0, 0}, smallTurn[3] = {0, 0.5 * kPoseFilterJumpRad, 0};
    for (const double* turn : {bigTurn, none}) {
        const double* move = turn == none ? bigMove : none;
        PoseFilter filter;
        initPoseFilter(&filter, kPoseFilterMinCutoffHz, kPoseFilterBeta);
        int frame = 0;
        for (; frame < 10; ++frame) {
            Pose p = stillPose();
            filterPose(&filter, frame * kFrameMs, kExactNoise, p.R, p.T);
        }
        Pose raw = cameraPose(turn, move), p = raw;
        EXPECT_FALSE(filterPose(&filter, frame * kFrameMs, kExactNoise, p.R, p.T));
        for (int k = 0; k < 9; ++k) EXPECT_NEAR(p.R[k], raw.R[k], 1e-12);
        for (int k = 0; k < 3; ++k) EXPECT_EQ(p.T[k], raw.T[k]);
    }
    // Below the threshold the same kind of step is smoothed: in the noise of
    // a noisy detector (2 px), a small turn is partly held back.
    PoseFilter filter;
    initPoseFilter(&filter, kPoseFilterMinCutoffHz, kPoseFilterBeta);
    Pose p = stillPose();
    filterPose(&filter, 0.0, noiseOf(600.0, 2.0), p.R, p.T);
    const double tinyTurn[3] = {0, 0.002, 0};
    Pose raw = cameraPose(tinyTurn, none);
    p = raw;
    EXPECT_TRUE(filterPose(&filter, kFrameMs, noiseOf(600.0, 2.0), p.R, p.T));
    EXPECT_GT(angleBetween(p.R, raw.R), 1e-3);
    (void)smallTurn;
}

TEST(PoseFilterRestarts, LostBoardTimeGapAndTimeGoingBackStartAfresh) {
    const double none[3] = {0, 0, 0}, turn[3] = {0, 0.05, 0};
    Pose first = stillPose(), second = cameraPose(turn, none);
    // Each case: the time of the second pose, and whether the board was lost between.
    struct Case {
        double timeMs;
        bool lost;
    } cases[] = {{kFrameMs, true}, {kPoseFilterMaxGapMs + 1.0, false}, {0.0, false}, {-kFrameMs, false}};
    for (const Case& c : cases) {
        PoseFilter filter;
        initPoseFilter(&filter, kPoseFilterMinCutoffHz, kPoseFilterBeta);
        Pose p = first;
        filterPose(&filter, 0.0, kExactNoise, p.R, p.T);
        if (c.lost) resetPoseFilter(&filter);
        p = second;
        EXPECT_FALSE(filterPose(&filter, c.timeMs, kExactNoise, p.R, p.T)) << c.timeMs;
        for (int k = 0; k < 9; ++k) EXPECT_NEAR(p.R[k], second.R[k], 1e-12);
        for (int k = 0; k < 3; ++k) EXPECT_EQ(p.T[k], second.T[k]);
    }
}

TEST(PoseFilterRestarts, NonFinitePoseOrCameraComesBackUntouched) {
    PoseFilter filter;
    initPoseFilter(&filter, kPoseFilterMinCutoffHz, kPoseFilterBeta);
    Pose p = stillPose();
    filterPose(&filter, 0.0, kExactNoise, p.R, p.T);
    p.T[2] = NAN;
    Pose bad = p;
    EXPECT_FALSE(filterPose(&filter, kFrameMs, kExactNoise, p.R, p.T));
    for (int k = 0; k < 9; ++k) EXPECT_EQ(p.R[k], bad.R[k]);
    EXPECT_TRUE(std::isnan(p.T[2]));
    Pose mirrored = stillPose();  // determinant -1: no rotation
    for (int k = 0; k < 3; ++k) mirrored.R[k] = -mirrored.R[k];
    Pose q = mirrored;
    EXPECT_FALSE(filterPose(&filter, 2 * kFrameMs, kExactNoise, q.R, q.T));
    for (int k = 0; k < 9; ++k) EXPECT_EQ(q.R[k], mirrored.R[k]);
    // No focal length, or a NaN noise level: the pose as it came.
    Pose r = stillPose(), s2 = stillPose();
    filterPose(&filter, 3 * kFrameMs, kExactNoise, r.R, r.T);
    EXPECT_FALSE(filterPose(&filter, 4 * kFrameMs, noiseOf(0.0, 0.1), s2.R, s2.T));
    Pose t = stillPose();
    filterPose(&filter, 5 * kFrameMs, noiseOf(600.0, NAN), t.R, t.T);
    for (int k = 0; k < 9; ++k) EXPECT_TRUE(std::isfinite(t.R[k]));
}

TEST(PoseFilterMoves, SteadyPanIsFollowedWithoutLagOnceUnderWay) {
    // The motion model predicts a steady pan: even with a constant gain
    // (beta 0) the lag dies out; beta only shortens the start.
    double largestWithoutBeta = 0.0, largestWithBeta = 0.0;
    EXPECT_LT(panLagFrames(20.0, 600.0, 0.0, &largestWithoutBeta), 0.05);
    panLagFrames(20.0, 600.0, kPoseFilterBeta, &largestWithBeta);
    EXPECT_LT(largestWithBeta, largestWithoutBeta);
}

TEST(PoseFilterMoves, DefaultsNeverFallAFrameBehindASuddenMoveOnShortOrLongLenses) {
    for (double f : {500.0, 1500.0}) {
        for (double speed : {10.0, 30.0, 60.0, 120.0}) {
            double largest = 0.0, settled = panLagFrames(speed, f, kPoseFilterBeta, &largest);
            EXPECT_LT(largest, 0.5) << speed << " deg/s, f " << f;
            EXPECT_LT(settled, 0.1) << speed << " deg/s, f " << f;
        }
        // The board sliding sideways, R unchanged: 5 and 20 units per second
        // at a distance of 24.
        for (double unitsPerSecond : {5.0, 20.0}) {
            double largest = 0.0, settled = moveLagFrames(0.0, unitsPerSecond / 30.0, f, kPoseFilterBeta, &largest);
            EXPECT_LT(largest, 0.5) << unitsPerSecond << " units/s, f " << f;
            EXPECT_LT(settled, 0.1) << unitsPerSecond << " units/s, f " << f;
        }
    }
}

TEST(PoseFilterMoves, RotationStaysOrthonormal) {
    // A long random walk, its raw R slightly off a rotation as the coplanar
    // calibration's is.
    std::mt19937 random(3);
    std::normal_distribution<double> step(0.0, 0.01), skew(0.0, 1e-3);
    PoseFilter filter;
    initPoseFilter(&filter, kPoseFilterMinCutoffHz, kPoseFilterBeta);
    double turn[3] = {0, 0, 0}, none[3] = {0, 0, 0}, worst = 0.0;
    for (int i = 0; i < 20000; ++i) {
        for (double& v : turn) v += step(random);
        Pose p = cameraPose(turn, none);
        for (double& r : p.R) r += skew(random);
        filterPose(&filter, i * kFrameMs, kExactNoise, p.R, p.T);
        worst = std::fmax(worst, largestOrthonormalityError(p.R));
        ASSERT_GT(determinant(p.R), 0.0);
    }
    EXPECT_LT(worst, 1e-12);
}

TEST(PoseFilterMoves, SamePosesGiveSameOutputAfterAReset) {
    std::vector<NoisyPose> raw = noisyStillPoses(200, 600.0, 0.3, 5);
    std::vector<Pose> once = filtered(raw, 600.0, kPoseFilterMinCutoffHz, kPoseFilterBeta);
    PoseFilter filter;
    initPoseFilter(&filter, kPoseFilterMinCutoffHz, kPoseFilterBeta);
    for (int pass = 0; pass < 2; ++pass) {
        resetPoseFilter(&filter);
        for (size_t i = 0; i < raw.size(); ++i) {
            Pose p = raw[i].pose;
            filterPose(&filter, i * kFrameMs, noiseOf(600.0, raw[i].rmsPx), p.R, p.T);
            for (int k = 0; k < 9; ++k) ASSERT_EQ(p.R[k], once[i].R[k]) << "pass " << pass << " frame " << i;
            for (int k = 0; k < 3; ++k) ASSERT_EQ(p.T[k], once[i].T[k]) << "pass " << pass << " frame " << i;
        }
    }
}
