// tsai.cpp - coplanar Tsai calibration: full (f, R, T) and pose-only (R, T).
//
// Five linear steps: the ratios U of the first two rows of [R T] to Ty (step 1,
// 5 unknowns, one equation per point), Tx and Ty with their sign (step 2), R
// (step 3), then f and Tz (step 4) or Tz alone for a known f (step 5). No lens
// distortion, unit aspect ratio, principal point subtracted by the caller.
// Takes 5..64 points and rejects NaN or infinite coordinates before any
// step; a result of 1 always comes with finite outputs.
//
// Usage:
//     double f, T[3], R[9];
//     if (tsaiCalibration2D(n, wx, wy, ix, iy, &f, T, R)) ...
//     tsaiCalibration2D_Tr(n, wx, wy, ix, iy, f, T, R);   // later frames
#include "tsai.h"
#include "tsai_internal.h"

#include <cmath>

namespace tsai_internal {

// Near-zero test on the entries of U when choosing the Ty formula.
constexpr double kSmallRatio = 1e-8;

double U[5] = {0, 0, 0, 0, 0};

bool allFinite(const double* v, int count) {
    for (int i = 0; i < count; ++i)
        if (!std::isfinite(v[i])) return false;
    return true;
}

bool validPoints(int n, const double* worldX, const double* worldY, const double* imageX,
                 const double* imageY) {
    return n >= kMinCalibrationPoints && n <= kMaxCalibrationPoints && allFinite(worldX, n) &&
           allFinite(worldY, n) && allFinite(imageX, n) && allFinite(imageY, n);
}

namespace {

bool isSmall(double v) { return std::fabs(v) < kSmallRatio; }

// Rounding can push a radicand that is truly 0 (a board seen face-on) a
// little below it.
double sqrtClamped(double v) { return v > 0.0 ? std::sqrt(v) : 0.0; }

// Ty squared from the ratios, by the first case that applies; 0 when the
// ratios leave Ty undetermined (D = 0: the board seen edge-on).
double tySquared() {
    double U0 = U[0], U1 = U[1], U3 = U[3], U4 = U[4];
    if (isSmall(U0) && isSmall(U1)) return 1.0 / (U3 * U3 + U4 * U4);
    if (isSmall(U3) && isSmall(U4)) return 1.0 / (U0 * U0 + U1 * U1);
    if (isSmall(U0) && isSmall(U3)) return 1.0 / (U1 * U1 + U4 * U4);
    if (isSmall(U1) && isSmall(U4)) return 1.0 / (U0 * U0 + U3 * U3);
    double Sr = U0 * U0 + U1 * U1 + U3 * U3 + U4 * U4;
    double D = U0 * U4 - U3 * U1;
    if (D == 0.0) return 0.0;
    return (Sr - sqrtClamped(Sr * Sr - 4.0 * D * D)) / (2.0 * D * D);
}

// The point farthest from the image centre; the first of equal maxima.
int farthestPoint(int n, const double* imageX, const double* imageY) {
    int k = 0;
    double best = 0.0;
    for (int i = 0; i < n; ++i) {
        double d = imageX[i] * imageX[i] + imageY[i] * imageY[i];
        if (d > best) {
            best = d;
            k = i;
        }
    }
    return k;
}

void copy(const double* from, double* to, int count) {
    for (int i = 0; i < count; ++i) to[i] = from[i];
}

// A negative focal estimate means the third row and column of R came out
// with the wrong sign; r9 is shared and keeps its sign.
void flipDepthSign(double* R) {
    R[2] = -R[2];
    R[5] = -R[5];
    R[6] = -R[6];
    R[7] = -R[7];
}

// Steps 1 to 3, common to both calibrations. 0 when R and T are unusable.
int computePose(int n, const double* worldX, const double* worldY,
                const double* imageX, const double* imageY, double* T, double* R) {
    if (!cc_compute_U(n, worldX, worldY, imageX, imageY)) return 0;
    if (!cc_compute_Tx_and_Ty(n, worldX, worldY, imageX, imageY, T)) return 0;
    cc_compute_R(T, R);
    return allFinite(R, 9);
}

// Writes what a failed final step leaves behind: T[0], T[1], R, and T[2]
// when it holds an estimate; nothing if any of it is not finite.
void writePartialPose(const double* poseT, const double* poseR, bool withTz,
                      double* T, double* R) {
    if (!allFinite(poseT, withTz ? 3 : 2) || !allFinite(poseR, 9)) return;
    copy(poseT, T, withTz ? 3 : 2);
    copy(poseR, R, 9);
}

}  // namespace

// One equation per point: y.X.u0 + y.Y.u1 + y.u2 - x.X.u3 - x.Y.u4 = x.
int cc_compute_U(int n, const double* worldX, const double* worldY,
                 const double* imageX, const double* imageY) {
    double a[kStepRows][5];
    double b[kStepRows];
    for (int i = 0; i < n; ++i) {
        double X = worldX[i], Y = worldY[i], x = imageX[i], y = imageY[i];
        a[i][0] = y * X;
        a[i][1] = y * Y;
        a[i][2] = y;
        a[i][3] = -x * X;
        a[i][4] = -x * Y;
        b[i] = x;
    }
    if (!MinQuad(n, 5, a, b)) return 0;
    copy(b, U, 5);
    return 1;
}

// |Ty| from U; its sign makes the farthest point's predicted camera-frame
// x and y agree in sign with its image x and y.
int cc_compute_Tx_and_Ty(int n, const double* worldX, const double* worldY,
                         const double* imageX, const double* imageY, double* T) {
    double Ty2 = tySquared();
    if (!(Ty2 > 0.0) || !std::isfinite(Ty2)) return 0;
    int k = farthestPoint(n, imageX, imageY);
    double Ty = std::sqrt(Ty2);
    double r1 = U[0] * Ty, r2 = U[1] * Ty, Tx = U[2] * Ty, r4 = U[3] * Ty, r5 = U[4] * Ty;
    double xc = r1 * worldX[k] + r2 * worldY[k] + Tx;
    double yc = r4 * worldX[k] + r5 * worldY[k] + Ty;
    if ((xc > 0) != (imageX[k] > 0) || (yc > 0) != (imageY[k] > 0)) Ty = -Ty;
    T[0] = U[2] * Ty;
    T[1] = Ty;
    return 1;
}

// First two rows from U, completed to unit length (r3 >= 0; r6 takes the sign
// that makes the rows orthogonal); the third row is their cross product.
void cc_compute_R(const double* T, double* R) {
    double Ty = T[1];
    double r1 = U[0] * Ty, r2 = U[1] * Ty;
    double r3 = sqrtClamped(1.0 - r1 * r1 - r2 * r2);
    double r4 = U[3] * Ty, r5 = U[4] * Ty;
    double r6 = sqrtClamped(1.0 - r4 * r4 - r5 * r5);
    if (r1 * r4 + r2 * r5 > 0) r6 = -r6;
    R[0] = r1;
    R[1] = r2;
    R[2] = r3;
    R[3] = r4;
    R[4] = r5;
    R[5] = r6;
    R[6] = r2 * r6 - r3 * r5;
    R[7] = r3 * r4 - r1 * r6;
    R[8] = r1 * r5 - r2 * r4;
}

// Rows i:   (r1.X + r2.Y + Tx).f - x.Tz = (r7.X + r8.Y).x
// Rows n+i: (r4.X + r5.Y + Ty).f - y.Tz = (r7.X + r8.Y).y
int cc_compute_f_and_Tz(int n, const double* worldX, const double* worldY,
                        const double* imageX, const double* imageY,
                        double* f, double* T, const double* R) {
    double a[kStepRows][5];
    double b[kStepRows];
    for (int i = 0; i < n; ++i) {
        double X = worldX[i], Y = worldY[i];
        double depth = R[6] * X + R[7] * Y;
        a[i][0] = R[0] * X + R[1] * Y + T[0];
        a[i][1] = -imageX[i];
        b[i] = depth * imageX[i];
        a[n + i][0] = R[3] * X + R[4] * Y + T[1];
        a[n + i][1] = -imageY[i];
        b[n + i] = depth * imageY[i];
    }
    if (!MinQuad(2 * n, 2, a, b)) return 0;
    *f = b[0];
    T[2] = b[1];
    return 1;
}

// Rows i:   -x.Tz = (r7.X + r8.Y).x - f.(r1.X + r2.Y + Tx)
// Rows n+i: -y.Tz = (r7.X + r8.Y).y - f.(r4.X + r5.Y + Ty)
int cc_compute_Tz(int n, const double* worldX, const double* worldY,
                  const double* imageX, const double* imageY,
                  double f, double* T, const double* R) {
    double a[kStepRows][5];
    double b[kStepRows];
    for (int i = 0; i < n; ++i) {
        double X = worldX[i], Y = worldY[i];
        double depth = R[6] * X + R[7] * Y;
        a[i][0] = -imageX[i];
        b[i] = depth * imageX[i] - f * (R[0] * X + R[1] * Y + T[0]);
        a[n + i][0] = -imageY[i];
        b[n + i] = depth * imageY[i] - f * (R[3] * X + R[4] * Y + T[1]);
    }
    if (!MinQuad(2 * n, 1, a, b)) return 0;
    T[2] = b[0];
    return 1;
}

}  // namespace tsai_internal

using namespace tsai_internal;

int tsaiCalibration2D(int n, const double* worldX, const double* worldY,
                      const double* imageX, const double* imageY,
                      double* f, double* T, double* R) {
    if (!validPoints(n, worldX, worldY, imageX, imageY)) return 0;
    double poseT[3] = {0, 0, 0}, poseR[9], focal = 0.0;
    if (!computePose(n, worldX, worldY, imageX, imageY, poseT, poseR)) return 0;
    if (!cc_compute_f_and_Tz(n, worldX, worldY, imageX, imageY, &focal, poseT, poseR)) {
        writePartialPose(poseT, poseR, false, T, R);
        return 0;
    }
    if (focal < 0) {
        flipDepthSign(poseR);
        cc_compute_f_and_Tz(n, worldX, worldY, imageX, imageY, &focal, poseT, poseR);
    }
    if (!std::isfinite(focal) || !allFinite(poseT, 3) || !allFinite(poseR, 9)) return 0;
    *f = focal;
    copy(poseT, T, 3);
    copy(poseR, R, 9);
    return 1;
}

int tsaiCalibration2D_Tr(int n, const double* worldX, const double* worldY,
                         const double* imageX, const double* imageY,
                         double f, double* T, double* R) {
    if (!validPoints(n, worldX, worldY, imageX, imageY) || !std::isfinite(f)) return 0;
    double poseT[3] = {0, 0, 0}, poseR[9], focalEstimate = 0.0;
    if (!computePose(n, worldX, worldY, imageX, imageY, poseT, poseR)) return 0;
    if (!cc_compute_f_and_Tz(n, worldX, worldY, imageX, imageY, &focalEstimate, poseT, poseR)) {
        writePartialPose(poseT, poseR, false, T, R);
        return 0;
    }
    if (focalEstimate < 0) flipDepthSign(poseR);
    if (!cc_compute_Tz(n, worldX, worldY, imageX, imageY, f, poseT, poseR)) {
        writePartialPose(poseT, poseR, true, T, R);
        return 0;
    }
    if (!allFinite(poseT, 3) || !allFinite(poseR, 9)) return 0;
    copy(poseT, T, 3);
    copy(poseR, R, 9);
    return 1;
}
