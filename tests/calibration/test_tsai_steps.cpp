// The private steps of the calibration: the case order of the Ty formula,
// the sign rules of Ty and r6, and the reference point.
#include <gtest/gtest.h>

#include <cmath>

#include "tsai_internal.h"

using namespace tsai_internal;

namespace {

void setU(double u0, double u1, double u2, double u3, double u4) {
    U[0] = u0, U[1] = u1, U[2] = u2, U[3] = u3, U[4] = u4;
}

}  // namespace

TEST(TsaiStepTwo, CaseOrderPicksFirstMatchingFormula) {
    double X[1] = {1}, Y[1] = {1}, x[1] = {1}, y[1] = {1};
    double T[3] = {0, 0, 0};
    // U0, U1 and U3 all small: case 1 (from U3 and U4), not case 3 (U1 and U4).
    setU(0, 0, 0, 0, 0.5);
    ASSERT_EQ(cc_compute_Tx_and_Ty(1, X, Y, x, y, T), 1);
    EXPECT_DOUBLE_EQ(T[1] * T[1], 4.0);
    // U3, U4 small: case 2.
    setU(0.25, 0.0, 0, 1e-9, 0);
    ASSERT_EQ(cc_compute_Tx_and_Ty(1, X, Y, x, y, T), 1);
    EXPECT_DOUBLE_EQ(T[1] * T[1], 16.0);
    // General case: Ty^2 = (Sr - sqrt(Sr^2 - 4 D^2)) / (2 D^2).
    setU(0.1, 0.2, 0, 0.3, 0.5);
    ASSERT_EQ(cc_compute_Tx_and_Ty(1, X, Y, x, y, T), 1);
    double Sr = 0.01 + 0.04 + 0.09 + 0.25, D = 0.1 * 0.5 - 0.3 * 0.2;
    EXPECT_NEAR(T[1] * T[1], (Sr - std::sqrt(Sr * Sr - 4 * D * D)) / (2 * D * D), 1e-9);
}

TEST(TsaiStepTwo, EdgeOnBoardFailsWithTranslationUntouched) {
    double X[1] = {1}, Y[1] = {1}, x[1] = {1}, y[1] = {1};
    double T[3] = {7, 8, 9};
    setU(1, 2, 0, 2, 4);  // D = 1*4 - 2*2 = 0, no ratio small
    EXPECT_EQ(cc_compute_Tx_and_Ty(1, X, Y, x, y, T), 0);
    EXPECT_EQ(T[0], 7);
    EXPECT_EQ(T[1], 8);
}

TEST(TsaiStepTwo, SignFollowsReferencePoint) {
    double T[3];
    // U = (1, 0, 0, 0, 1): Ty = 1, xc = X, yc = Y + 1 for Ty = +1.
    setU(1, 0, 0, 0, 1);
    {   // x_k = 0 and xc < 0: zero counts as not positive on both sides, no flip.
        double X[1] = {-2}, Y[1] = {0}, x[1] = {0}, y[1] = {3};
        ASSERT_EQ(cc_compute_Tx_and_Ty(1, X, Y, x, y, T), 1);
        EXPECT_EQ(T[1], 1.0);
    }
    {   // x_k = 0 and xc > 0: signs differ, Ty negated.
        double X[1] = {2}, Y[1] = {0}, x[1] = {0}, y[1] = {3};
        ASSERT_EQ(cc_compute_Tx_and_Ty(1, X, Y, x, y, T), 1);
        EXPECT_EQ(T[1], -1.0);
    }
    {   // Two points share the largest distance: the first one decides.
        double X[2] = {2, 2}, Y[2] = {0, 0}, x[2] = {3, -3}, y[2] = {4, 4};
        ASSERT_EQ(cc_compute_Tx_and_Ty(2, X, Y, x, y, T), 1);
        EXPECT_EQ(T[1], 1.0);
        double xr[2] = {-3, 3};
        ASSERT_EQ(cc_compute_Tx_and_Ty(2, X, Y, xr, y, T), 1);
        EXPECT_EQ(T[1], -1.0);  // the first point now has x < 0 but xc > 0
    }
}

TEST(TsaiStepThree, SixthEntryPositiveUnlessRowsPointSameWay) {
    double T[3] = {0, 1, 0}, R[9];
    setU(0.6, 0, 0, 0, 0.8);  // r1 r4 + r2 r5 = 0 exactly
    cc_compute_R(T, R);
    EXPECT_GT(R[5], 0.0);
    EXPECT_DOUBLE_EQ(R[2], 0.8);
    setU(0.6, 0.0, 0, 0.1, 0.5);  // r1 r4 + r2 r5 > 0
    cc_compute_R(T, R);
    EXPECT_LT(R[5], 0.0);
    // The third row is the cross product of the first two.
    EXPECT_DOUBLE_EQ(R[6], R[1] * R[5] - R[2] * R[4]);
    EXPECT_DOUBLE_EQ(R[8], R[0] * R[4] - R[1] * R[3]);
}

TEST(TsaiStepThree, RoundingBelowZeroGivesZeroNotNaN) {
    double T[3] = {0, 1, 0}, R[9];
    setU(1.0 + 1e-15, 0, 0, 0, 1.0 + 1e-15);  // 1 - r1^2 slightly negative
    cc_compute_R(T, R);
    for (double v : R) EXPECT_TRUE(std::isfinite(v));
    EXPECT_EQ(R[2], 0.0);
    EXPECT_EQ(R[5], 0.0);
}
