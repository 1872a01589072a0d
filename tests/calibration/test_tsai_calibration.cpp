// Coplanar calibration: round trips on synthetic boards, the step-2 and
// step-3 sign rules, the failure table and the rejected inputs.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <random>

#include "support/synthetic_view.h"
#include "tsai.h"
#include "tsai_internal.h"

namespace {

struct PoseCase {
    double f, distance, tilt, azimuth, roll;
    int side;
};

// Tilts 20-60 degrees, both sides of the board, rolls that give r3 of both signs.
const PoseCase kPoses[] = {
    {300, 12, 35, 10, 0, -1},    {500, 20, 50, 120, 30, -1}, {800, 25, 20, 200, -40, -1},
    {1200, 40, 60, 300, 170, 1}, {2000, 60, 45, 45, 90, 1},  {800, 18, 30, 260, -120, -1},
};

void expectSamePose(const SyntheticView& truth, double f, const double* T, const double* R,
                    double fTol, double angleTolDeg, double tTol) {
    EXPECT_NEAR(f, truth.f, fTol * truth.f);
    EXPECT_LT(rotationErrorDegrees(R, truth.R), angleTolDeg);
    double distance = std::sqrt(truth.T[0] * truth.T[0] + truth.T[1] * truth.T[1] + truth.T[2] * truth.T[2]);
    for (int i = 0; i < 3; ++i) EXPECT_NEAR(T[i], truth.T[i], tTol * distance) << "T[" << i << "]";
}

void fill(double* v, int n, double value) {
    for (int i = 0; i < n; ++i) v[i] = value;
}

}  // namespace

TEST(TsaiRoundTrip, ExactDataGivesBackFocalRotationTranslation) {
    std::mt19937 rng(1);
    bool sawPositiveR3 = false, sawNegativeR3 = false;
    for (const PoseCase& c : kPoses) {
        SyntheticView truth = lookAtBoard(c.f, c.distance, c.tilt, c.azimuth, c.roll, c.side);
        (truth.R[2] > 0 ? sawPositiveR3 : sawNegativeR3) = true;
        BoardPoints p = projectBoard(truth, 8, 6, 0.0, rng);
        double f = 0, T[3], R[9];
        ASSERT_EQ(tsaiCalibration2D(p.n, p.worldX, p.worldY, p.imageX, p.imageY, &f, T, R), 1);
        expectSamePose(truth, f, T, R, 1e-7, 1e-6, 1e-7);
    }
    EXPECT_TRUE(sawPositiveR3 && sawNegativeR3);
}

TEST(TsaiRoundTrip, PoseOnlyWithTrueFocalGivesSamePose) {
    std::mt19937 rng(2);
    for (const PoseCase& c : kPoses) {
        SyntheticView truth = lookAtBoard(c.f, c.distance, c.tilt, c.azimuth, c.roll, c.side);
        BoardPoints p = projectBoard(truth, 8, 6, 0.0, rng);
        double T[3], R[9];
        const double f = truth.f;
        ASSERT_EQ(tsaiCalibration2D_Tr(p.n, p.worldX, p.worldY, p.imageX, p.imageY, f, T, R), 1);
        expectSamePose(truth, f, T, R, 0, 1e-6, 1e-7);
    }
}

TEST(TsaiRoundTrip, NoisyCornersStayClose) {
    std::mt19937 rng(3);
    for (const PoseCase& c : kPoses) {
        SyntheticView truth = lookAtBoard(c.f, c.distance, c.tilt, c.azimuth, c.roll, c.side);
        BoardPoints p = projectBoard(truth, 8, 6, 0.3, rng);
        double f = 0, T[3], R[9];
        ASSERT_EQ(tsaiCalibration2D(p.n, p.worldX, p.worldY, p.imageX, p.imageY, &f, T, R), 1);
        expectSamePose(truth, f, T, R, 0.08, 3.0, 0.08);
        ASSERT_EQ(tsaiCalibration2D_Tr(p.n, p.worldX, p.worldY, p.imageX, p.imageY, truth.f, T, R), 1);
        expectSamePose(truth, truth.f, T, R, 0, 2.0, 0.03);
    }
}

TEST(TsaiRoundTrip, ResultOfOneAlwaysComesWithFiniteOutputs) {
    // Boards seen from straight above (radicands of exactly 0) to nearly edge-on.
    std::mt19937 rng(4);
    for (double tilt : {0.0, 1e-9, 0.5, 5.0, 85.0, 89.9}) {
        for (double roll : {0.0, 45.0, 90.0}) {
            SyntheticView truth = lookAtBoard(800, 20, tilt, 0, roll, -1);
            BoardPoints p = projectBoard(truth, 8, 6, 0.0, rng);
            double f = 0, T[3], R[9];
            if (tsaiCalibration2D(p.n, p.worldX, p.worldY, p.imageX, p.imageY, &f, T, R)) {
                EXPECT_TRUE(std::isfinite(f));
                for (double v : T) EXPECT_TRUE(std::isfinite(v));
                for (double v : R) EXPECT_TRUE(std::isfinite(v));
                EXPECT_GE(f, 0.0);
            }
            // Exactly face-on, the (f, Tz) system that fixes the depth sign is
            // singular and the pose-only calibration fails too.
            int result = tsaiCalibration2D_Tr(p.n, p.worldX, p.worldY, p.imageX, p.imageY, 800, T, R);
            if (tilt < 0.5 && result == 0) continue;
            ASSERT_EQ(result, 1) << "tilt " << tilt << " roll " << roll;
            expectSamePose(truth, 800, T, R, 0, 0.05, 1e-4);
        }
    }
}

TEST(TsaiRejectedInput, PointCountsOutsideTheWorkAreas) {
    std::mt19937 rng(5);
    SyntheticView truth = lookAtBoard(800, 20, 40, 30, 10, -1);
    BoardPoints p = projectBoard(truth, 10, 10, 0.0, rng);  // 100 points
    for (int n : {0, 4, 65, 100}) {
        double f = -7, T[3], R[9];
        fill(T, 3, -7);
        fill(R, 9, -7);
        EXPECT_EQ(tsaiCalibration2D(n, p.worldX, p.worldY, p.imageX, p.imageY, &f, T, R), 0) << n;
        EXPECT_EQ(tsaiCalibration2D_Tr(n, p.worldX, p.worldY, p.imageX, p.imageY, 800, T, R), 0) << n;
        EXPECT_EQ(f, -7);
        for (double v : T) EXPECT_EQ(v, -7);
        for (double v : R) EXPECT_EQ(v, -7);
    }
    double f, T[3], R[9];
    EXPECT_EQ(tsaiCalibration2D(64, p.worldX, p.worldY, p.imageX, p.imageY, &f, T, R), 1);
    const int spread[5] = {0, 9, 45, 90, 97};
    double wx[5], wy[5], ix[5], iy[5];
    for (int i = 0; i < 5; ++i)
        wx[i] = p.worldX[spread[i]], wy[i] = p.worldY[spread[i]], ix[i] = p.imageX[spread[i]], iy[i] = p.imageY[spread[i]];
    EXPECT_EQ(tsaiCalibration2D(5, wx, wy, ix, iy, &f, T, R), 1);
}

TEST(TsaiRejectedInput, AllPointsAtImageCentreLeaveOutputsUntouched) {
    double wx[48], wy[48], ix[48] = {0}, iy[48] = {0};
    for (int k = 0; k < 48; ++k) wx[k] = k % 8, wy[k] = k / 8;
    double f = 3, T[3] = {1, 2, 3}, R[9] = {9, 8, 7, 6, 5, 4, 3, 2, 1};
    EXPECT_EQ(tsaiCalibration2D(48, wx, wy, ix, iy, &f, T, R), 0);
    EXPECT_EQ(tsaiCalibration2D_Tr(48, wx, wy, ix, iy, 500, T, R), 0);
    EXPECT_EQ(f, 3);
    EXPECT_EQ(T[2], 3);
    EXPECT_EQ(R[0], 9);
}

TEST(TsaiRejectedInput, FaceOnBoardCannotGiveFocalLength) {
    // Face-on, image coordinates exact: f and Tz are not separable, so the
    // (f, Tz) system is singular; T[0], T[1] and R are written, f and T[2] not.
    double wx[48], wy[48], ix[48], iy[48];
    for (int k = 0; k < 48; ++k) {
        wx[k] = k % 8, wy[k] = k / 8;
        ix[k] = 10 * (wx[k] - 3.5), iy[k] = 10 * (wy[k] - 2.5);
    }
    double f = 42, T[3] = {0, 0, 42}, R[9];
    fill(R, 9, 42);
    ASSERT_EQ(tsaiCalibration2D(48, wx, wy, ix, iy, &f, T, R), 0);
    EXPECT_EQ(f, 42);
    EXPECT_EQ(T[2], 42);
    EXPECT_NEAR(std::fabs(T[0] / T[1]), 3.5 / 2.5, 1e-9);
    EXPECT_NEAR(std::fabs(R[0]), 1.0, 1e-6);
    EXPECT_NEAR(std::fabs(R[8]), 1.0, 1e-6);
}

TEST(TsaiFocalSign, FullCalibrationNeverReturnsNegativeFocal) {
    std::mt19937 rng(6);
    for (int trial = 0; trial < 100; ++trial) {
        std::uniform_real_distribution<double> u(0, 1);
        // The board spans 200 to 500 pixels of the image.
        double f = 300 + 1700 * u(rng);
        double distance = f * 8 / (200 + 300 * u(rng));
        double tilt = 20 + 40 * u(rng), azimuth = 360 * u(rng), roll = -180 + 360 * u(rng);
        SyntheticView truth = lookAtBoard(f, distance, tilt, azimuth, roll, u(rng) < 0.5 ? -1 : 1);
        BoardPoints p = projectBoard(truth, 8, 6, 0.5, rng);
        double T[3], R[9];
        ASSERT_EQ(tsaiCalibration2D(p.n, p.worldX, p.worldY, p.imageX, p.imageY, &f, T, R), 1);
        EXPECT_GT(f, 0.0);
        EXPECT_GT(T[2], 0.0);  // the board is in front of the camera
    }
}

TEST(TsaiRejectedInput, NonFiniteInputWritesNothing) {
    std::mt19937 rng(7);
    SyntheticView truth = lookAtBoard(800, 20, 40, 30, 10, -1);
    for (int array = 0; array < 4; ++array)
        for (double value : {NAN, INFINITY, -INFINITY})
            for (int at : {0, 13, 47}) {
                BoardPoints p = projectBoard(truth, 8, 6, 0.0, rng);
                double* target[4] = {p.worldX, p.worldY, p.imageX, p.imageY};
                target[array][at] = value;
                double out[13], before[13];
                fill(out, 13, -7);
                fill(before, 13, -7);
                EXPECT_EQ(tsaiCalibration2D(p.n, p.worldX, p.worldY, p.imageX, p.imageY, &out[0], out + 1, out + 4), 0);
                EXPECT_EQ(tsaiCalibration2D_Tr(p.n, p.worldX, p.worldY, p.imageX, p.imageY, 800, out + 1, out + 4), 0);
                EXPECT_EQ(std::memcmp(out, before, sizeof out), 0) << array << " " << at << " " << value;
            }
    BoardPoints p = projectBoard(truth, 8, 6, 0.0, rng);
    double T[3] = {-7, -7, -7}, R[9];
    fill(R, 9, -7);
    for (double f : {NAN, INFINITY}) EXPECT_EQ(tsaiCalibration2D_Tr(p.n, p.worldX, p.worldY, p.imageX, p.imageY, f, T, R), 0);
    for (double v : T) EXPECT_EQ(v, -7);
    for (double v : R) EXPECT_EQ(v, -7);
}
