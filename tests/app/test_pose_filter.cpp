// The pose filter on exact synthetic poses: what it leaves alone, how much
// noise it takes out, when it starts afresh, how it follows a move, and that
// R stays a rotation.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <random>
#include <vector>

#include "pose_filter.h"

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

// A still camera with Gaussian noise on its rotation (radians per axis) and
// translation (units per axis), reproducible from the seed.
std::vector<Pose> noisyStillPoses(int frames, double rotationSigma, double translationSigma, unsigned seed) {
    std::mt19937 random(seed);
    std::normal_distribution<double> rotationNoise(0.0, rotationSigma), translationNoise(0.0, translationSigma);
    std::vector<Pose> poses;
    for (int i = 0; i < frames; ++i) {
        double turn[3], move[3];
        for (double& v : turn) v = rotationNoise(random);
        for (double& v : move) v = translationNoise(random);
        poses.push_back(cameraPose(turn, move));
    }
    return poses;
}

std::vector<Pose> filtered(std::vector<Pose> poses, double minCutoffHz, double beta) {
    PoseFilter filter;
    initPoseFilter(&filter, minCutoffHz, beta);
    for (size_t i = 0; i < poses.size(); ++i) filterPose(&filter, i * kFrameMs, poses[i].R, poses[i].T);
    return poses;
}

// RMS of the frame-to-frame rotation (radians) and translation, skipping
// the first `settle` frames.
void frameToFrameRms(const std::vector<Pose>& poses, size_t settle, double* rotation, double* translation) {
    double sumR = 0.0, sumT = 0.0;
    for (size_t i = settle + 1; i < poses.size(); ++i) {
        double a = angleBetween(poses[i].R, poses[i - 1].R), d = distance(poses[i].T, poses[i - 1].T);
        sumR += a * a, sumT += d * d;
    }
    size_t n = poses.size() - settle - 1;
    *rotation = std::sqrt(sumR / n), *translation = std::sqrt(sumT / n);
}

// A still camera that starts to move at constant speed, turning (radians
// per frame about its vertical axis) or sliding sideways (units per frame):
// the lag in frames (the filtered pose's distance to the raw one over the
// step per frame) after two seconds, and the largest on the way.
double moveLagFrames(double turnPerFrame, double slidePerFrame, double beta, double* largest = nullptr) {
    PoseFilter filter;
    initPoseFilter(&filter, kPoseFilterMinCutoffHz, beta);
    double lag = 0.0, most = 0.0;
    for (int i = -10; i < 60; ++i) {
        int moving = std::max(i, 0);
        const double turn[3] = {0, turnPerFrame * moving, 0}, move[3] = {slidePerFrame * moving, 0, 0};
        Pose raw = cameraPose(turn, move), out = raw;
        filterPose(&filter, (i + 10) * kFrameMs, out.R, out.T);
        lag = turnPerFrame > 0 ? angleBetween(out.R, raw.R) / turnPerFrame : distance(out.T, raw.T) / slidePerFrame;
        most = std::fmax(most, lag);
    }
    if (largest) *largest = most;
    return lag;
}

double panLagFrames(double degreesPerSecond, double beta, double* largest = nullptr) {
    return moveLagFrames(degreesPerSecond * kPi / 180.0 / 30.0, 0.0, beta, largest);
}

}  // namespace

TEST(PoseFilterStill, ConstantPoseComesBackUnchanged) {
    PoseFilter filter;
    initPoseFilter(&filter, kPoseFilterMinCutoffHz, kPoseFilterBeta);
    Pose still = stillPose();
    for (int i = 0; i < 100; ++i) {
        Pose p = still;
        EXPECT_EQ(filterPose(&filter, i * kFrameMs, p.R, p.T), i > 0) << "frame " << i;
        for (int k = 0; k < 9; ++k) ASSERT_NEAR(p.R[k], still.R[k], 1e-12) << "frame " << i;
        for (int k = 0; k < 3; ++k) ASSERT_NEAR(p.T[k], still.T[k], 1e-12) << "frame " << i;
    }
}

TEST(PoseFilterStill, NoiseShrinksAsTheLowPassPredicts) {
    // White noise through a first-order low-pass of weight alpha: the
    // frame-to-frame steps shrink by alpha / sqrt(2 - alpha).
    const double cutoffHz = 1.0, alpha = 1.0 / (1.0 + 1.0 / (2.0 * kPi * cutoffHz * kFrameMs / 1000.0));
    const double expected = alpha / std::sqrt(2.0 - alpha);
    std::vector<Pose> raw = noisyStillPoses(3000, 2e-4, 5e-3, 7);
    double rawRotation, rawTranslation, rotation, translation;
    frameToFrameRms(raw, 30, &rawRotation, &rawTranslation);
    frameToFrameRms(filtered(raw, cutoffHz, 0.0), 30, &rotation, &translation);
    EXPECT_NEAR(rotation / rawRotation, expected, 0.1 * expected);
    EXPECT_NEAR(translation / rawTranslation, expected, 0.1 * expected);
}

TEST(PoseFilterStill, DefaultsHalveTheJitterOfAStillCamera) {
    // About the sample video's jitter: 0.15 px at f = 600 px.
    std::vector<Pose> raw = noisyStillPoses(600, 2e-4, 5e-3, 11);
    double rawRotation, rawTranslation, rotation, translation;
    frameToFrameRms(raw, 30, &rawRotation, &rawTranslation);
    frameToFrameRms(filtered(raw, kPoseFilterMinCutoffHz, kPoseFilterBeta), 30, &rotation, &translation);
    EXPECT_LT(rotation, 0.5 * rawRotation);
    EXPECT_LT(translation, 0.5 * rawTranslation);
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
            filterPose(&filter, frame * kFrameMs, p.R, p.T);
        }
        Pose raw = cameraPose(turn, move), p = raw;
        EXPECT_FALSE(filterPose(&filter, frame * kFrameMs, p.R, p.T));
        for (int k = 0; k < 9; ++k) EXPECT_NEAR(p.R[k], raw.R[k], 1e-12);
        for (int k = 0; k < 3; ++k) EXPECT_EQ(p.T[k], raw.T[k]);
    }
    // Below the threshold the same kind of step is smoothed.
    PoseFilter filter;
    initPoseFilter(&filter, kPoseFilterMinCutoffHz, kPoseFilterBeta);
    Pose p = stillPose();
    filterPose(&filter, 0.0, p.R, p.T);
    Pose raw = cameraPose(smallTurn, none);
    p = raw;
    EXPECT_TRUE(filterPose(&filter, kFrameMs, p.R, p.T));
    EXPECT_GT(angleBetween(p.R, raw.R), 1e-3);
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
        filterPose(&filter, 0.0, p.R, p.T);
        if (c.lost) resetPoseFilter(&filter);
        p = second;
        EXPECT_FALSE(filterPose(&filter, c.timeMs, p.R, p.T)) << c.timeMs;
        for (int k = 0; k < 9; ++k) EXPECT_NEAR(p.R[k], second.R[k], 1e-12);
        for (int k = 0; k < 3; ++k) EXPECT_EQ(p.T[k], second.T[k]);
    }
}

TEST(PoseFilterRestarts, NonFinitePoseComesBackUntouched) {
    PoseFilter filter;
    initPoseFilter(&filter, kPoseFilterMinCutoffHz, kPoseFilterBeta);
    Pose p = stillPose();
    filterPose(&filter, 0.0, p.R, p.T);
    p.T[2] = NAN;
    Pose bad = p;
    EXPECT_FALSE(filterPose(&filter, kFrameMs, p.R, p.T));
    for (int k = 0; k < 9; ++k) EXPECT_EQ(p.R[k], bad.R[k]);
    EXPECT_TRUE(std::isnan(p.T[2]));
    Pose mirrored = stillPose();  // determinant -1: no rotation
    for (int k = 0; k < 3; ++k) mirrored.R[k] = -mirrored.R[k];
    Pose q = mirrored;
    EXPECT_FALSE(filterPose(&filter, 2 * kFrameMs, q.R, q.T));
    for (int k = 0; k < 9; ++k) EXPECT_EQ(q.R[k], mirrored.R[k]);
}

TEST(PoseFilterMoves, RampLagShrinksAsBetaGrows) {
    // With beta 0 the lag is the low-pass's time constant, 1 / (2 pi fc)
    // (at a speed slow enough for that lag not to count as a jump).
    double lowPassLag = 1.0 / (2.0 * kPi * kPoseFilterMinCutoffHz) * 30.0;
    EXPECT_NEAR(panLagFrames(20.0, 0.0), lowPassLag, 0.05 * lowPassLag);
    double previous = INFINITY;
    for (double beta : {5.0, 20.0, kPoseFilterBeta, 200.0}) {
        double lag = panLagFrames(20.0, beta);
        EXPECT_LT(lag, previous) << "beta " << beta;
        previous = lag;
    }
}

TEST(PoseFilterMoves, DefaultsNeverFallAFrameBehindASuddenMove) {
    for (double speed : {10.0, 30.0, 90.0}) {
        double largest = 0.0, settled = panLagFrames(speed, kPoseFilterBeta, &largest);
        EXPECT_LT(largest, 0.5) << speed << " deg/s";
        EXPECT_LT(settled, 0.25) << speed << " deg/s";
    }
    // The board sliding sideways, R unchanged: 5 and 20 units per second at
    // a distance of 24.
    for (double unitsPerSecond : {5.0, 20.0}) {
        double largest = 0.0, settled = moveLagFrames(0.0, unitsPerSecond / 30.0, kPoseFilterBeta, &largest);
        EXPECT_LT(largest, 0.5) << unitsPerSecond << " units/s";
        EXPECT_LT(settled, 0.25) << unitsPerSecond << " units/s";
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
        filterPose(&filter, i * kFrameMs, p.R, p.T);
        worst = std::fmax(worst, largestOrthonormalityError(p.R));
        ASSERT_GT(determinant(p.R), 0.0);
    }
    EXPECT_LT(worst, 1e-12);
}

TEST(PoseFilterMoves, SamePosesGiveSameOutputAfterAReset) {
    std::vector<Pose> raw = noisyStillPoses(200, 1e-3, 2e-2, 5);
    std::vector<Pose> once = filtered(raw, kPoseFilterMinCutoffHz, kPoseFilterBeta);
    PoseFilter filter;
    initPoseFilter(&filter, kPoseFilterMinCutoffHz, kPoseFilterBeta);
    for (int pass = 0; pass < 2; ++pass) {
        resetPoseFilter(&filter);
        for (size_t i = 0; i < raw.size(); ++i) {
            Pose p = raw[i];
            filterPose(&filter, i * kFrameMs, p.R, p.T);
            for (int k = 0; k < 9; ++k) ASSERT_EQ(p.R[k], once[i].R[k]) << "pass " << pass << " frame " << i;
            for (int k = 0; k < 3; ++k) ASSERT_EQ(p.T[k], once[i].T[k]) << "pass " << pass << " frame " << i;
        }
    }
}
