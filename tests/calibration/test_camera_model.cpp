// Camera model: projection and back-projection, camera position, and the two
// OpenGL matrices, checked against each other and against known values.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <random>

#include "support/synthetic_view.h"
#include "tsai.h"

namespace {

// out = m . v for a column-major 4 x 4 matrix.
void transform(const double* m, const double* v, double* out) {
    for (int r = 0; r < 4; ++r) {
        out[r] = 0;
        for (int c = 0; c < 4; ++c) out[r] += m[4 * c + r] * v[c];
    }
}

}  // namespace

TEST(CameraModel, IdentityCameraTenUnitsAway) {
    const double R[9] = {1, 0, 0, 0, 1, 0, 0, 0, 1}, T[3] = {0, 0, 10};
    double m[16];
    tsaiOGLModelViewMatrix(T, R, m);
    for (int i = 0; i < 16; ++i) EXPECT_EQ(m[i], (i == 14 ? -10.0 : (i % 5 == 0 ? 1.0 : 0.0))) << i;
    double x, y, z;
    tsaiCameraPosition(&x, &y, &z, T, R);
    EXPECT_NEAR(x, 0, 1e-12);
    EXPECT_NEAR(y, 0, 1e-12);
    EXPECT_NEAR(z, 10, 1e-12);
    double xi, yi;
    tsaiProject(0, 0, 0, &xi, &yi, 800, T, R);
    EXPECT_EQ(xi, 0);
    EXPECT_EQ(yi, 0);
}

TEST(CameraModel, ProjectionMatrixOfTheUsualVideo) {
    double m[16];
    tsaiOGLProjectionMatrix(800, 1, 100, 640, 480, m);
    const double expected[16] = {2.5, 0, 0, 0, 0, 10.0 / 3.0, 0, 0, 0, 0, -101.0 / 99.0, -1, 0, 0, -200.0 / 99.0, 0};
    for (int i = 0; i < 16; ++i) EXPECT_NEAR(m[i], expected[i], 1e-12) << i;
    tsaiOGLProjectionMatrix(700, 1, 100, 800, 300, m);
    EXPECT_NEAR(m[0] / m[5], 300.0 / 800.0, 1e-12);
}

TEST(CameraModel, UnprojectInvertsProjectOnAnyPlane) {
    std::mt19937 rng(11);
    std::uniform_real_distribution<double> u(-3, 10);
    for (int trial = 0; trial < 50; ++trial) {
        SyntheticView v = lookAtBoard(600 + 20 * trial, 15 + trial % 7, 20 + trial % 40, 7.0 * trial, 11.0 * trial, -1);
        double X = u(rng), Y = u(rng), Z = 0.1 * u(rng);
        double xi, yi, backX, backY;
        tsaiProject(X, Y, Z, &xi, &yi, v.f, v.T, v.R);
        tsaiUnproject(xi, yi, &backX, &backY, Z, v.f, v.T, v.R);
        EXPECT_NEAR(backX, X, 1e-8);
        EXPECT_NEAR(backY, Y, 1e-8);
    }
}

TEST(CameraModel, ModelViewSendsCameraPositionToEyeOrigin) {
    for (int trial = 0; trial < 20; ++trial) {
        SyntheticView v = lookAtBoard(800, 10 + trial, 25 + trial, 17.0 * trial, 31.0 * trial, trial % 2 ? 1 : -1);
        double c[4] = {0, 0, 0, 1}, m[16], eye[4];
        tsaiCameraPosition(&c[0], &c[1], &c[2], v.T, v.R);
        tsaiOGLModelViewMatrix(v.T, v.R, m);
        transform(m, c, eye);
        for (int i = 0; i < 3; ++i) EXPECT_NEAR(eye[i], 0, 1e-9);
        EXPECT_NEAR(eye[3], 1, 1e-12);
    }
}

TEST(CameraModel, MatricesDrawWhereProjectPoints) {
    // The vertex (X, Y, -Z) lands at window (xi + w/2, yi + h/2) in a w x h viewport.
    const int w = 640, h = 480;
    SyntheticView v = lookAtBoard(750, 14, 40, 20, 15, -1);
    double mv[16], proj[16];
    tsaiOGLModelViewMatrix(v.T, v.R, mv);
    tsaiOGLProjectionMatrix(v.f, 1, 100, w, h, proj);
    for (double X : {0.0, 3.0, 7.0})
        for (double Y : {0.0, 5.0})
            for (double Z : {0.0, -2.0}) {
                double xi, yi, eye[4], clip[4];
                tsaiProject(X, Y, Z, &xi, &yi, v.f, v.T, v.R);
                const double vertex[4] = {X, Y, -Z, 1};
                transform(mv, vertex, eye);
                transform(proj, eye, clip);
                double winX = (clip[0] / clip[3] + 1) * w / 2, winY = (clip[1] / clip[3] + 1) * h / 2;
                EXPECT_NEAR(winX, xi + w / 2.0, 1e-9);
                EXPECT_NEAR(winY, yi + h / 2.0, 1e-9);
                double depth = clip[2] / clip[3];
                EXPECT_GT(depth, -1);
                EXPECT_LT(depth, 1);
            }
}

TEST(CameraModel, ProjectionMatrixKWithCentredPrincipalPointIsTheCentredOne) {
    // Bit for bit, odd sizes included: the principal point is the integer half.
    const int sizes[][2] = {{640, 480}, {641, 479}, {1920, 1080}, {1, 3}};
    for (const auto& size : sizes)
        for (double f : {333.3, 800.0, 1234.5678})
            for (double zNear : {0.1, 1.0, 7.25}) {
                int w = size[0], h = size[1];
                double plain[16], withK[16];
                tsaiOGLProjectionMatrix(f, zNear, 250.0, w, h, plain);
                tsaiOGLProjectionMatrixK(f, f, w / 2, h / 2, zNear, 250.0, w, h, withK);
                EXPECT_EQ(std::memcmp(plain, withK, sizeof plain), 0) << w << "x" << h << " f " << f;
            }
}

TEST(CameraModel, ProjectionMatrixKDrawsWhereThePinholeProjects) {
    // Clip x must be 2(x - (w/2))/w for the pixel x = fx.xc/zc + cx; y likewise
    // before the application's mirror. Odd sizes make the integer halving show.
    const int w = 641, h = 479;
    const double fx = 700, fy = 760, cx = 301.25, cy = 262.5;
    SyntheticView v = lookAtBoard(700, 14, 40, 20, 15, -1);
    double mv[16], proj[16];
    tsaiOGLModelViewMatrix(v.T, v.R, mv);
    tsaiOGLProjectionMatrixK(fx, fy, cx, cy, 1, 100, w, h, proj);
    for (double X : {0.0, 3.0, 7.0})
        for (double Y : {0.0, 5.0})
            for (double Z : {0.0, -2.0}) {
                double xn, yn, eye[4], clip[4];
                tsaiProject(X, Y, Z, &xn, &yn, 1.0, v.T, v.R);  // xc/zc, yc/zc
                const double vertex[4] = {X, Y, -Z, 1};
                transform(mv, vertex, eye);
                transform(proj, eye, clip);
                double x = fx * xn + cx, y = fy * yn + cy;
                EXPECT_NEAR(clip[0] / clip[3], 2 * (x - w / 2) / w, 1e-12);
                EXPECT_NEAR(clip[1] / clip[3], 2 * (y - h / 2) / h, 1e-12);
                double depth = clip[2] / clip[3];
                EXPECT_GT(depth, -1);
                EXPECT_LT(depth, 1);
            }
}
