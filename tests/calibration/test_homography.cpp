// Homography estimate and synthetic grids: exact maps, the scale fixed by the
// last correspondence, grid order, degenerate input and concurrent use.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <thread>
#include <vector>

#include "tsai.h"
#include "tsai_internal.h"

using tsai_internal::EncontraHomografia;

namespace {

void applyH(const double* H, double X, double Y, double* x, double* y) {
    double w = H[6] * X + H[7] * Y + H[8];
    *x = (H[0] * X + H[1] * Y + H[2]) / w;
    *y = (H[3] * X + H[4] * Y + H[5]) / w;
}

struct Correspondences {
    int n = 0;
    double X[130], Y[130], x[130], y[130];
};

Correspondences board(const double* H, int cols, int rows) {
    Correspondences c;
    for (int k = 0; k < cols * rows; ++k) {
        c.X[k] = k % cols;
        c.Y[k] = k / cols;
        applyH(H, c.X[k], c.Y[k], &c.x[k], &c.y[k]);
    }
    c.n = cols * rows;
    return c;
}

const double kProjective[9] = {60, 5, 100, -4, 55, 80, 0.01, 0.02, 1};

}  // namespace

TEST(Homography, FourPointsMapExactly) {
    double X[4] = {0, 3, 3, 0}, Y[4] = {0, 0, 2, 2}, x[4] = {10, 250, 230, -5}, y[4] = {7, 15, 180, 160};
    double H[9];
    ASSERT_EQ(EncontraHomografia(H, 4, X, Y, x, y), 1);
    for (int i = 0; i < 4; ++i) {
        double u, v;
        applyH(H, X[i], Y[i], &u, &v);
        EXPECT_NEAR(u, x[i], 1e-6);
        EXPECT_NEAR(v, y[i], 1e-6);
    }
    EXPECT_NEAR(H[6] * X[3] + H[7] * Y[3] + H[8], 1.0, 1e-9);
}

TEST(Homography, AffineMapComesBackUnscaled) {
    const double A[9] = {2, 0.5, 30, -0.25, 3, 40, 0, 0, 1};
    Correspondences c = board(A, 8, 6);
    double H[9];
    ASSERT_EQ(EncontraHomografia(H, c.n, c.X, c.Y, c.x, c.y), 1);
    for (int i = 0; i < 9; ++i) EXPECT_NEAR(H[i], A[i], 1e-7) << i;
}

TEST(Homography, ProjectiveMapScaledByLastWeight) {
    Correspondences c = board(kProjective, 8, 6);
    double H[9];
    ASSERT_EQ(EncontraHomografia(H, c.n, c.X, c.Y, c.x, c.y), 1);
    double w = kProjective[6] * c.X[47] + kProjective[7] * c.Y[47] + kProjective[8];
    for (int i = 0; i < 9; ++i) EXPECT_NEAR(H[i], kProjective[i] / w, 1e-6 * std::fabs(kProjective[i] / w) + 1e-9) << i;

    Correspondences reversed;
    reversed.n = c.n;
    for (int k = 0; k < c.n; ++k) {
        reversed.X[k] = c.X[c.n - 1 - k], reversed.Y[k] = c.Y[c.n - 1 - k];
        reversed.x[k] = c.x[c.n - 1 - k], reversed.y[k] = c.y[c.n - 1 - k];
    }
    double Hr[9];
    ASSERT_EQ(EncontraHomografia(Hr, reversed.n, reversed.X, reversed.Y, reversed.x, reversed.y), 1);
    EXPECT_NEAR(Hr[8], 1.0, 1e-6);  // the last point is now (0, 0), whose weight is H[8]
    EXPECT_GT(std::fabs(Hr[8] - H[8]), 0.1);
    for (int k = 0; k < c.n; k += 5) {
        double u, v;
        applyH(Hr, c.X[k], c.Y[k], &u, &v);
        EXPECT_NEAR(u, c.x[k], 1e-6);
        EXPECT_NEAR(v, c.y[k], 1e-6);
    }
}

TEST(SyntheticGrid, BoardSpanGivesLatticeInWorldXMajorOrder) {
    Correspondences c = board(kProjective, 8, 6);
    double gx[48], gy[48], gu[48], gv[48];
    ASSERT_EQ(tsaiBuildNewData(c.n, c.X, c.Y, c.x, c.y, 8, 6, gx, gy, gu, gv), 1);
    for (int k = 0; k < 48; ++k) {
        EXPECT_NEAR(gx[k], k / 6, 1e-12) << k;
        EXPECT_NEAR(gy[k], k % 6, 1e-12) << k;
        double u, v;
        applyH(kProjective, gx[k], gy[k], &u, &v);
        EXPECT_NEAR(gu[k], u, 1e-6);
        EXPECT_NEAR(gv[k], v, 1e-6);
    }
}

TEST(SyntheticGrid, SingleColumnAndEmptyGrids) {
    Correspondences c = board(kProjective, 8, 6);
    double gx[6], gy[6], gu[6], gv[6];
    ASSERT_EQ(tsaiBuildNewData(c.n, c.X, c.Y, c.x, c.y, 1, 6, gx, gy, gu, gv), 1);
    for (int k = 0; k < 6; ++k) {
        EXPECT_EQ(gx[k], 0.0);
        EXPECT_NEAR(gy[k], k, 1e-12);
        EXPECT_TRUE(std::isfinite(gu[k]));
    }
    double untouched[1] = {-1};
    EXPECT_EQ(tsaiBuildNewData(c.n, c.X, c.Y, c.x, c.y, 0, 6, untouched, untouched, untouched, untouched), 1);
    EXPECT_EQ(untouched[0], -1);
}

TEST(SyntheticGrid, DegenerateOrOutOfRangeInputWritesNothing) {
    double X[10], Y[10], x[10], y[10];
    for (int i = 0; i < 10; ++i) X[i] = i, Y[i] = 2 * i, x[i] = 3 * i, y[i] = 5 * i + 1;  // one line
    double gx[4] = {-1, -1, -1, -1}, gy[4], gu[4], gv[4];
    EXPECT_EQ(tsaiBuildNewData(10, X, Y, x, y, 2, 2, gx, gy, gu, gv), 0);
    EXPECT_EQ(gx[0], -1);

    Correspondences c = board(kProjective, 13, 10);  // 130 points
    EXPECT_EQ(tsaiBuildNewData(130, c.X, c.Y, c.x, c.y, 2, 2, gx, gy, gu, gv), 0);
    EXPECT_EQ(tsaiBuildNewData(3, c.X, c.Y, c.x, c.y, 2, 2, gx, gy, gu, gv), 0);
    EXPECT_EQ(gx[0], -1);
    EXPECT_EQ(tsaiBuildNewData(129, c.X, c.Y, c.x, c.y, 2, 2, gx, gy, gu, gv), 1);
}

TEST(SyntheticGrid, SafeOnSeveralThreadsAtOnce) {
    Correspondences c = board(kProjective, 8, 6);
    double expected[4][48];
    ASSERT_EQ(tsaiBuildNewData(c.n, c.X, c.Y, c.x, c.y, 8, 6, expected[0], expected[1], expected[2], expected[3]), 1);
    std::vector<std::thread> threads;
    bool same[4] = {false, false, false, false};
    for (int t = 0; t < 4; ++t)
        threads.emplace_back([&, t] {
            double out[4][48];
            bool ok = true;
            for (int round = 0; round < 50; ++round) {
                ok &= tsaiBuildNewData(c.n, c.X, c.Y, c.x, c.y, 8, 6, out[0], out[1], out[2], out[3]) == 1;
                for (int a = 0; a < 4; ++a)
                    for (int k = 0; k < 48; ++k) ok &= out[a][k] == expected[a][k];
            }
            same[t] = ok;
        });
    for (std::thread& th : threads) th.join();
    for (bool s : same) EXPECT_TRUE(s);
}

TEST(SyntheticGrid, NonFiniteInputWritesNothing) {
    // Once reported success with NaN image points.
    const double bad[3] = {NAN, INFINITY, -INFINITY};
    for (int array = 0; array < 4; ++array)
        for (double value : bad)
            for (int at : {0, 20, 47}) {
                Correspondences c = board(kProjective, 8, 6);
                double* target[4] = {c.X, c.Y, c.x, c.y};
                target[array][at] = value;
                double out[4][48];
                std::memset(out, 0x5a, sizeof out);
                double before[4][48];
                std::memcpy(before, out, sizeof out);
                EXPECT_EQ(tsaiBuildNewData(c.n, c.X, c.Y, c.x, c.y, 8, 6, out[0], out[1], out[2], out[3]), 0)
                    << "array " << array << " point " << at << " value " << value;
                EXPECT_EQ(std::memcmp(out, before, sizeof out), 0);
            }
}

TEST(SyntheticGrid, GridAcrossTheHorizonIsFiniteOrNotWritten) {
    // The line w = 0 of this map crosses the board's rectangle at X = 5 between
    // the given columns; grid points near it map far away or to infinity.
    const double H[9] = {1, 0, 0, 0, 1, 0, 0.5, 0, -2.5};
    Correspondences c;
    for (int X : {0, 1, 2, 3, 4, 6, 7})
        for (int Y = 0; Y < 6; ++Y, ++c.n) {
            c.X[c.n] = X, c.Y[c.n] = Y;
            applyH(H, X, Y, &c.x[c.n], &c.y[c.n]);
        }
    for (int nx = 2; nx <= 40; ++nx) {
        double out[4][240];
        std::memset(out, 0x5a, sizeof out);
        double before[4][240];
        std::memcpy(before, out, sizeof out);
        int result = tsaiBuildNewData(c.n, c.X, c.Y, c.x, c.y, nx, 6, out[0], out[1], out[2], out[3]);
        if (result == 0) {
            EXPECT_EQ(std::memcmp(out, before, sizeof out), 0) << nx;
            continue;
        }
        for (int a = 0; a < 4; ++a)
            for (int k = 0; k < nx * 6; ++k) ASSERT_TRUE(std::isfinite(out[a][k])) << nx << " " << a << " " << k;
    }
}
