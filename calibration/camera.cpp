// camera.cpp - using a calibrated camera: projection, back-projection onto a
// world plane, optical centre, and the OpenGL modelview and projection matrices.
//
// Plain computations on (f, T, R) in the calibration's conventions; no state,
// no checks: a point at zc = 0, a ray parallel to the plane, f = 0 or
// far = near give IEEE infinities or NaNs. The projection matrix comes with a
// single f and the principal point at the image centre, or with fx, fy and a
// principal point (cx, cy) in pixels from the top-left pixel's centre.
//
// Usage:
//     double xi, yi;
//     tsaiProject(X, Y, 0.0, &xi, &yi, f, T, R);
//     tsaiOGLProjectionMatrix(f, 1.0, 100.0, 640, 480, projection);
//     tsaiOGLProjectionMatrixK(fx, fy, cx, cy, 1.0, 100.0, 640, 480, projection);
#include "tsai.h"
#include "tsai_internal.h"

using namespace tsai_internal;

void tsaiProject(double X, double Y, double Z, double* xi, double* yi,
                 double f, const double* T, const double* R) {
    double xc = R[0] * X + R[1] * Y + R[2] * Z + T[0];
    double yc = R[3] * X + R[4] * Y + R[5] * Z + T[1];
    double zc = R[6] * X + R[7] * Y + R[8] * Z + T[2];
    *xi = (f * xc) / zc;
    *yi = (f * yc) / zc;
}

// Closed-form intersection of the viewing ray through (u, v) with the world
// plane of height Z (Cramer's rule on the two projection equations).
void tsaiUnproject(double xi, double yi, double* X, double* Y, double Z,
                   double f, const double* T, const double* R) {
    double u = xi, v = yi;
    double D = (R[0] * R[7] - R[1] * R[6]) * v + (R[4] * R[6] - R[3] * R[7]) * u
               - f * R[0] * R[4] + f * R[1] * R[3];
    double numX = Z * ((R[1] * R[8] - R[2] * R[7]) * v + (R[5] * R[7] - R[4] * R[8]) * u
                       - f * R[1] * R[5] + f * R[2] * R[4])
                  + (R[1] * T[2] - R[7] * T[0]) * v + (R[7] * T[1] - R[4] * T[2]) * u
                  - f * R[1] * T[1] + f * R[4] * T[0];
    double numY = Z * ((R[0] * R[8] - R[2] * R[6]) * v + (R[5] * R[6] - R[3] * R[8]) * u
                       - f * R[0] * R[5] + f * R[2] * R[3])
                  + (R[0] * T[2] - R[6] * T[0]) * v + (R[6] * T[1] - R[3] * T[2]) * u
                  - f * R[0] * T[1] + f * R[3] * T[0];
    *X = numX / D;
    *Y = -numY / D;
}

// Solves R.C = -T; the OpenGL world frame reverses the third axis.
void tsaiCameraPosition(double* x, double* y, double* z, const double* T, const double* R) {
    double a[3][kSolverRowWidth];
    double c[3] = {-T[0], -T[1], -T[2]};
    for (int r = 0; r < 3; ++r)
        for (int col = 0; col < 3; ++col) a[r][col] = R[3 * r + col];
    if (Gauss(3, a, c) != 0) return;
    *x = c[0];
    *y = c[1];
    *z = -c[2];
}

// diag(1, 1, -1, 1) . [R T; 0 1] . diag(1, 1, -1, 1), column-major.
void tsaiOGLModelViewMatrix(const double* T, const double* R, double* m) {
    m[0] = R[0];
    m[1] = R[3];
    m[2] = -R[6];
    m[3] = 0;
    m[4] = R[1];
    m[5] = R[4];
    m[6] = -R[7];
    m[7] = 0;
    m[8] = -R[2];
    m[9] = -R[5];
    m[10] = R[8];
    m[11] = 0;
    m[12] = T[0];
    m[13] = T[1];
    m[14] = -T[2];
    m[15] = 1;
}

namespace {

// glFrustum's matrix for the near-plane rectangle [left, right] x [bottom, top].
void writeFrustum(double left, double right, double bottom, double top, double zNear,
                  double zFar, double* m) {
    for (int i = 0; i < 16; ++i) m[i] = 0.0;
    m[0] = (zNear + zNear) / (right - left);
    m[5] = (zNear + zNear) / (top - bottom);
    m[8] = (right + left) / (right - left);
    m[9] = (top + bottom) / (top - bottom);
    m[10] = -(zFar + zNear) / (zFar - zNear);
    m[11] = -1.0;
    m[14] = (zFar * (-2.0) * zNear) / (zFar - zNear);
}

}  // namespace

// The image spans (-(width/2) - dx, width - (width/2) - dx) pixels around the
// principal point, dx = cx - (width/2); the centring of the frustum on
// (width/2) is kept so that the application's half-pixel correction holds.
// m[0] = 2fx/width and m[8] = -2dx/width send x = fx.xc/zc + cx to clip
// x = 2(x - (width/2))/width; y likewise. With dx = dy = 0 every term is
// the centred operation's, bit for bit.
void tsaiOGLProjectionMatrixK(double fx, double fy, double cx, double cy, double zNear,
                              double zFar, int width, int height, double* m) {
    double dx = cx - static_cast<double>(width / 2);
    double dy = cy - static_cast<double>(height / 2);
    double right = (((static_cast<double>(width) - 2.0 * dx) * zNear) / 2.0) / fx;
    double left = -((((static_cast<double>(width) + 2.0 * dx) * zNear) / 2.0) / fx);
    double top = (((static_cast<double>(height) - 2.0 * dy) * zNear) / 2.0) / fy;
    double bottom = -((((static_cast<double>(height) + 2.0 * dy) * zNear) / 2.0) / fy);
    writeFrustum(left, right, bottom, top, zNear, zFar, m);
}

// OpenGL's frustum for the image's half-extents carried from the focal
// distance f to the near distance; m[0] = 2f/width, m[5] = 2f/height: the
// off-centre one with the principal point at the centre.
void tsaiOGLProjectionMatrix(double f, double zNear, double zFar, int width, int height,
                             double* m) {
    tsaiOGLProjectionMatrixK(f, f, width / 2, height / 2, zNear, zFar, width, height, m);
}
