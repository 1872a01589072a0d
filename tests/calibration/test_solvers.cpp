// Gauss pivoting and MinQuad least squares: the private solvers of the
// calibration module, reached through its test-only header.
#include <gtest/gtest.h>

#include <random>

#include "tsai_internal.h"

using tsai_internal::Gauss;
using tsai_internal::kSolverRowWidth;
using tsai_internal::MinQuad;

namespace {

struct System {
    double a[kSolverRowWidth][kSolverRowWidth];
    double b[kSolverRowWidth];
};

}  // namespace

TEST(GaussPivoting, OrderOneDividesOrRejectsAtThreshold) {
    System s;
    s.a[0][0] = 4.0;
    s.b[0] = 2.0;
    EXPECT_EQ(Gauss(1, s.a, s.b), 0);
    EXPECT_DOUBLE_EQ(s.b[0], 0.5);
    s.a[0][0] = 1e-10;
    s.b[0] = 2.0;
    EXPECT_EQ(Gauss(1, s.a, s.b), -1);
    s.a[0][0] = -2e-10;
    s.b[0] = 1.0;
    EXPECT_EQ(Gauss(1, s.a, s.b), 0);
    EXPECT_DOUBLE_EQ(s.b[0], -5e9);
}

TEST(GaussPivoting, ScaledPivotPrefersRowWithLargerRelativeEntry) {
    System s;
    s.a[0][0] = 1; s.a[0][1] = 1000;
    s.a[1][0] = 0.5; s.a[1][1] = 0.6;
    // x = (2, 1): b = (1002, 1.6)
    s.b[0] = 1002; s.b[1] = 1.6;
    ASSERT_EQ(Gauss(2, s.a, s.b), 0);
    // Row 1 became the pivot row: it now stands first.
    EXPECT_DOUBLE_EQ(s.a[0][0], 0.5);
    EXPECT_DOUBLE_EQ(s.a[0][1], 0.6);
    EXPECT_NEAR(s.b[0], 2.0, 1e-12);
    EXPECT_NEAR(s.b[1], 1.0, 1e-12);
}

TEST(GaussPivoting, TieKeepsEarlierRowAndReportsSingular) {
    System s;
    s.a[0][0] = 1; s.a[0][1] = 2;
    s.a[1][0] = 2; s.a[1][1] = 4;
    s.b[0] = 1; s.b[1] = 2;
    EXPECT_EQ(Gauss(2, s.a, s.b), -1);
    EXPECT_DOUBLE_EQ(s.a[0][0], 1.0);  // no exchange took place
    EXPECT_DOUBLE_EQ(s.a[1][1], 0.0);
}

TEST(GaussPivoting, SingularShapesGiveTheirCodes) {
    System zeroRow;
    zeroRow.a[0][0] = 1; zeroRow.a[0][1] = 2; zeroRow.a[0][2] = 3;
    zeroRow.a[1][0] = 0; zeroRow.a[1][1] = 0; zeroRow.a[1][2] = 0;
    zeroRow.a[2][0] = 4; zeroRow.a[2][1] = 5; zeroRow.a[2][2] = 7;
    zeroRow.b[0] = zeroRow.b[1] = zeroRow.b[2] = 1;
    EXPECT_EQ(Gauss(3, zeroRow.a, zeroRow.b), -1);

    System noPivot;
    noPivot.a[0][0] = 0; noPivot.a[0][1] = 1;
    noPivot.a[1][0] = 0; noPivot.a[1][1] = 1;
    noPivot.b[0] = noPivot.b[1] = 1;
    EXPECT_EQ(Gauss(2, noPivot.a, noPivot.b), 1);
}

TEST(GaussPivoting, ThresholdAcceptsIntermediatePivotRejectsLastDiagonal) {
    System s;
    s.a[0][0] = 1e-10; s.a[0][1] = 0;
    s.a[1][0] = 0; s.a[1][1] = 1;
    s.b[0] = 3e-10; s.b[1] = 5;
    ASSERT_EQ(Gauss(2, s.a, s.b), 0);
    EXPECT_DOUBLE_EQ(s.b[0], 3.0);
    EXPECT_DOUBLE_EQ(s.b[1], 5.0);

    System last;
    last.a[0][0] = 1; last.a[0][1] = 0;
    last.a[1][0] = 0; last.a[1][1] = 1e-10;
    last.b[0] = last.b[1] = 1;
    EXPECT_EQ(Gauss(2, last.a, last.b), -1);
}

TEST(GaussPivoting, SolvesRandomSystemsUpToFullOrder) {
    std::mt19937 rng(7);
    std::uniform_real_distribution<double> value(-1.0, 1.0);
    static System s;
    for (int n : {2, 3, 9, 57, kSolverRowWidth}) {
        double x[kSolverRowWidth];
        for (int i = 0; i < n; ++i) x[i] = value(rng);
        for (int r = 0; r < n; ++r) {
            s.b[r] = 0.0;
            for (int c = 0; c < n; ++c) {
                s.a[r][c] = value(rng) + (r == c ? n : 0.0);  // diagonally dominant
                s.b[r] += s.a[r][c] * x[c];
            }
        }
        ASSERT_EQ(Gauss(n, s.a, s.b), 0) << "order " << n;
        for (int i = 0; i < n; ++i) EXPECT_NEAR(s.b[i], x[i], 1e-9) << "order " << n;
    }
}

TEST(MinQuadLeastSquares, OneUnknownIsProjection) {
    double a[3][5] = {{1}, {2}, {2}};
    double b[3] = {1, 2, 5};
    ASSERT_EQ(MinQuad(3, 1, a, b), 1);
    EXPECT_DOUBLE_EQ(b[0], (1.0 + 4.0 + 10.0) / 9.0);
    EXPECT_DOUBLE_EQ(b[1], 2.0);  // entries past n untouched

    double tiny[2][5] = {{5e-6}, {5e-6}};  // sum of squares 5e-11
    double obs[2] = {1, 1};
    EXPECT_EQ(MinQuad(2, 1, tiny, obs), 0);
    EXPECT_DOUBLE_EQ(obs[0], 1.0);
}

TEST(MinQuadLeastSquares, ConsistentOverdeterminedSystemIsExact) {
    const double x[3] = {1.5, -2.0, 0.25};
    double a[10][5], b[10];
    for (int k = 0; k < 10; ++k) {
        a[k][0] = k;
        a[k][1] = 1.0;
        a[k][2] = k * k * 0.1;
        b[k] = a[k][0] * x[0] + a[k][1] * x[1] + a[k][2] * x[2];
    }
    ASSERT_EQ(MinQuad(10, 3, a, b), 1);
    for (int i = 0; i < 3; ++i) EXPECT_NEAR(b[i], x[i], 1e-10);
}

TEST(MinQuadLeastSquares, FailureLeavesObservationsUnchanged) {
    double a[4][5] = {{1, 2}, {2, 4}, {3, 6}, {4, 8}};  // rank 1
    double b[4] = {1, 2, 3, 5};
    EXPECT_EQ(MinQuad(4, 2, a, b), 0);
    EXPECT_DOUBLE_EQ(b[0], 1);
    EXPECT_DOUBLE_EQ(b[1], 2);
    EXPECT_DOUBLE_EQ(b[3], 5);
}
