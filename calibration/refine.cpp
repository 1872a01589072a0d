// refine.cpp - non-linear refinement of a coplanar calibration: the pose, or
// the pose and f, that minimise the sum of squared reprojection errors.
//
// Levenberg-Marquardt (Marquardt's diagonal scaling) from the caller's camera.
// The rotation moves by a rotation-vector increment w about the optical
// centre, R <- exp([w]x) R and T <- exp([w]x) T + dT, so it stays a rotation;
// f, when free, is the seventh unknown. Each pass over the points gives the
// squared error and the normal equations together. Takes 5..64 points of the
// plane Z = 0; no module state and nothing allocated: safe on several threads
// at once. Rejects a camera whose points do not determine the unknowns (all
// points on one line; with f free, a board seen face-on).
//
// Usage:
//     if (tsaiCalibration2D_Tr(n, wx, wy, ix, iy, f, T, R))
//         tsaiRefinePose(n, wx, wy, ix, iy, f, T, R);
#include "tsai.h"
#include "tsai_internal.h"

#include <cmath>

namespace tsai_internal {

namespace {

constexpr int kPoseUnknowns = 6;       // w (radians), dT (world units)
constexpr int kCalibrationUnknowns = 7;  // w, dT, df (pixels)
// An input R counts as a rotation when R R^T is this close to I, entry by entry.
constexpr double kRotationTolerance = 1e-5;
// The orthonormalisation stops this close to I (rounding of a product of 3 x 3).
constexpr double kOrthonormalTolerance = 1e-15;
constexpr int kMaxOrthonormalisations = 8;
// Squared pivots of the normal matrix scaled to a unit diagonal: the part of
// an unknown's column not explained by the columns before it. Below these,
// the points do not determine that unknown.
constexpr double kMinPosePivot = 1e-12;
// With f free, the share of f's column the pose does not explain: 0 face-on,
// where f and Tz trade off, then growing as tilt^4 (2e-8 at 1 degree, 3e-7 at
// 2, 1e-5 at 5 for the 8 x 6 board); this bound refuses tilts below about
// 0.85 degrees.
constexpr double kMinFocalPivot = 1e-8;
// Marquardt damping (added to the unit diagonal of the scaled normal matrix):
// initial value, factors after a step taken or refused, its floor, and the
// value that ends the search. A small start suits a start from the linear
// calibration, which is close.
constexpr double kInitialDamping = 1e-7;
constexpr double kDampingDown = 0.1, kDampingUp = 10.0;
constexpr double kMinDamping = 1e-12;
constexpr double kMaxDamping = 1e8;
constexpr int kMaxIterations = 50;
// The search ends when a step is predicted to lower the squared error by less
// than this share of it, or when the errors are down to the negligible
// residual per point.
constexpr double kRelativeDecrease = 1e-12;
constexpr double kNegligibleResidual = 1e-10;  // pixels
// A result may exceed the starting error by rounding: this share of it plus
// the negligible residual per point.
constexpr double kRoundingSlack = 1e-9;

struct Camera {
    double f;
    double T[3];
    double R[9];
};

struct Points {
    int n;
    const double *X, *Y, *x, *y;
};

// Sum of squared errors E, J^T J (upper triangle) and J^T r for r = predicted
// - observed, over the unknowns (w, dT[, df]).
struct NormalEquations {
    double cost;
    double JtJ[kCalibrationUnknowns][kCalibrationUnknowns];
    double Jtr[kCalibrationUnknowns];
};

void multiply3(const double* A, const double* B, double* out) {
    for (int r = 0; r < 3; ++r)
        for (int c = 0; c < 3; ++c)
            out[3 * r + c] = A[3 * r] * B[c] + A[3 * r + 1] * B[3 + c] + A[3 * r + 2] * B[6 + c];
}

// Largest |(R R^T - I)_ij|.
double orthonormalityError(const double* R) {
    double worst = 0.0;
    for (int i = 0; i < 3; ++i)
        for (int j = i; j < 3; ++j) {
            double dot = R[3 * i] * R[3 * j] + R[3 * i + 1] * R[3 * j + 1] + R[3 * i + 2] * R[3 * j + 2];
            worst = std::fmax(worst, std::fabs(dot - (i == j ? 1.0 : 0.0)));
        }
    return worst;
}

double determinant3(const double* R) {
    return R[0] * (R[4] * R[8] - R[5] * R[7]) - R[1] * (R[3] * R[8] - R[5] * R[6]) +
           R[2] * (R[3] * R[7] - R[4] * R[6]);
}

// Newton-Schulz steps R <- (3I - R R^T) R / 2 towards the nearest rotation;
// each squares the distance from orthonormality.
void orthonormalise(double* R) {
    for (int i = 0; i < kMaxOrthonormalisations && orthonormalityError(R) > kOrthonormalTolerance; ++i) {
        double RRt[9], A[9], out[9];
        for (int r = 0; r < 3; ++r)
            for (int c = 0; c < 3; ++c)
                RRt[3 * r + c] = R[3 * r] * R[3 * c] + R[3 * r + 1] * R[3 * c + 1] + R[3 * r + 2] * R[3 * c + 2];
        for (int k = 0; k < 9; ++k) A[k] = ((k % 4 == 0 ? 3.0 : 0.0) - RRt[k]) / 2.0;
        multiply3(A, R, out);
        for (int k = 0; k < 9; ++k) R[k] = out[k];
    }
}

// exp([w]x) by Rodrigues' formula, with its series below 1e-4 radians.
void rotationFromVector(const double* w, double* E) {
    double t2 = w[0] * w[0] + w[1] * w[1] + w[2] * w[2];
    double a, b;  // sin(t)/t, (1 - cos(t))/t^2
    if (t2 < 1e-8) {
        a = 1.0 - t2 / 6.0;
        b = 0.5 - t2 / 24.0;
    } else {
        double t = std::sqrt(t2);
        a = std::sin(t) / t;
        b = (1.0 - std::cos(t)) / t2;
    }
    E[0] = 1.0 - b * (w[1] * w[1] + w[2] * w[2]);
    E[4] = 1.0 - b * (w[0] * w[0] + w[2] * w[2]);
    E[8] = 1.0 - b * (w[0] * w[0] + w[1] * w[1]);
    E[1] = -a * w[2] + b * w[0] * w[1];
    E[3] = a * w[2] + b * w[0] * w[1];
    E[2] = a * w[1] + b * w[0] * w[2];
    E[6] = -a * w[1] + b * w[0] * w[2];
    E[5] = -a * w[0] + b * w[1] * w[2];
    E[7] = a * w[0] + b * w[1] * w[2];
}

// The camera moved by the increment: R' = E R, T' = E T + dT, f' = f + df.
Camera applyStep(const Camera& c, const double* step, int unknowns) {
    double E[9];
    rotationFromVector(step, E);
    Camera moved;
    multiply3(E, c.R, moved.R);
    for (int r = 0; r < 3; ++r)
        moved.T[r] = E[3 * r] * c.T[0] + E[3 * r + 1] * c.T[1] + E[3 * r + 2] * c.T[2] + step[3 + r];
    moved.f = unknowns == kCalibrationUnknowns ? c.f + step[6] : c.f;
    return moved;
}

// Sum of squared reprojection errors; false when a point is at or behind
// the camera or a value is not finite.
bool reprojectionCost(const Points& p, const Camera& c, double* cost) {
    double sum = 0.0;
    for (int i = 0; i < p.n; ++i) {
        double xc = c.R[0] * p.X[i] + c.R[1] * p.Y[i] + c.T[0];
        double yc = c.R[3] * p.X[i] + c.R[4] * p.Y[i] + c.T[1];
        double zc = c.R[6] * p.X[i] + c.R[7] * p.Y[i] + c.T[2];
        if (!(zc > 0.0)) return false;
        double du = c.f * xc / zc - p.x[i], dv = c.f * yc / zc - p.y[i];
        sum += du * du + dv * dv;
    }
    *cost = sum;
    return std::isfinite(sum);
}

// Sum over rows from..to-1 of a.b, in four chains the compiler can pair.
double dot(const double* a, const double* b, int from, int to) {
    double s0 = 0.0, s1 = 0.0, s2 = 0.0, s3 = 0.0;
    int k = from;
    for (; k + 4 <= to; k += 4) {
        s0 += a[k] * b[k];
        s1 += a[k + 1] * b[k + 1];
        s2 += a[k + 2] * b[k + 2];
        s3 += a[k + 3] * b[k + 3];
    }
    for (; k < to; ++k) s0 += a[k] * b[k];
    return (s0 + s1) + (s2 + s3);
}

// One pass: the error and the normal equations at camera c. The Jacobian is
// kept by columns, rows 0..n-1 for u and n..2n-1 for v. With xn = xc/zc,
// yn = yc/zc, u = f.xn:
//   du/dw = f (-xn.yn, 1 + xn^2, -yn)   du/dT = f/zc (1, 0, -xn)   du/df = xn
//   dv/dw = f (-1 - yn^2, xn.yn, xn)    dv/dT = f/zc (0, 1, -yn)   dv/df = yn
// so the dTx column has only u rows and the dTy column only v rows.
// false when a point is at or behind the camera or a value is not finite.
bool buildNormalEquations(int m, const Points& p, const Camera& c, NormalEquations* eq) {
    constexpr int kRows = 2 * kMaxCalibrationPoints;
    double J[kCalibrationUnknowns][kRows], r[kRows];
    const int n = p.n;
    const double f = c.f;
    for (int i = 0; i < n; ++i) {
        double xc = c.R[0] * p.X[i] + c.R[1] * p.Y[i] + c.T[0];
        double yc = c.R[3] * p.X[i] + c.R[4] * p.Y[i] + c.T[1];
        double zc = c.R[6] * p.X[i] + c.R[7] * p.Y[i] + c.T[2];
        if (!(zc > 0.0)) return false;
        double iz = 1.0 / zc, xn = xc * iz, yn = yc * iz, fz = f * iz;
        int u = i, v = n + i;
        r[u] = f * xn - p.x[i];
        r[v] = f * yn - p.y[i];
        J[0][u] = -f * xn * yn;
        J[0][v] = -f * (1.0 + yn * yn);
        J[1][u] = f * (1.0 + xn * xn);
        J[1][v] = f * xn * yn;
        J[2][u] = -f * yn;
        J[2][v] = f * xn;
        J[3][u] = fz;
        J[4][v] = fz;
        J[5][u] = -fz * xn;
        J[5][v] = -fz * yn;
        J[6][u] = xn;
        J[6][v] = yn;
    }
    double cost = dot(r, r, 0, 2 * n);
    if (!std::isfinite(cost)) return false;
    // Rows of each column that can be non-zero.
    int first[kCalibrationUnknowns], last[kCalibrationUnknowns];
    for (int a = 0; a < m; ++a) {
        first[a] = a == 4 ? n : 0;
        last[a] = a == 3 ? n : 2 * n;
    }
    eq->cost = cost;
    for (int a = 0; a < m; ++a) {
        for (int b = a; b < m; ++b) {
            int from = first[a] > first[b] ? first[a] : first[b];
            int to = last[a] < last[b] ? last[a] : last[b];
            eq->JtJ[a][b] = from < to ? dot(J[a], J[b], from, to) : 0.0;
        }
        eq->Jtr[a] = dot(J[a], r, first[a], last[a]);
    }
    return true;
}

// Cholesky factor L (lower, in place) of the symmetric matrix in the upper
// triangle of A. false when a squared pivot falls below minPivot[k].
bool cholesky(int m, double (*A)[kCalibrationUnknowns], const double* minPivot) {
    for (int j = 0; j < m; ++j) {
        double d = A[j][j];
        for (int k = 0; k < j; ++k) d -= A[j][k] * A[j][k];
        if (!(d >= minPivot[j])) return false;
        A[j][j] = std::sqrt(d);
        for (int i = j + 1; i < m; ++i) {
            double s = A[j][i];
            for (int k = 0; k < j; ++k) s -= A[i][k] * A[j][k];
            A[i][j] = s / A[j][j];
        }
    }
    return true;
}

void choleskySolve(int m, const double (*L)[kCalibrationUnknowns], double* b) {
    for (int i = 0; i < m; ++i) {
        for (int k = 0; k < i; ++k) b[i] -= L[i][k] * b[k];
        b[i] /= L[i][i];
    }
    for (int i = m - 1; i >= 0; --i) {
        for (int k = i + 1; k < m; ++k) b[i] -= L[k][i] * b[k];
        b[i] /= L[i][i];
    }
}

// 1/sqrt of the diagonal of J^T J: the unknowns' scales. false when a column
// of J is zero.
bool columnScales(int m, const NormalEquations& eq, double* scale) {
    for (int a = 0; a < m; ++a) {
        if (!(eq.JtJ[a][a] > 0.0)) return false;
        scale[a] = 1.0 / std::sqrt(eq.JtJ[a][a]);
    }
    return true;
}

// The scaled normal matrix S J^T J S + damping.I (unit diagonal before damping).
void scaledNormalMatrix(int m, const NormalEquations& eq, const double* scale, double damping,
                        double (*A)[kCalibrationUnknowns]) {
    for (int a = 0; a < m; ++a)
        for (int b = a; b < m; ++b) A[a][b] = eq.JtJ[a][b] * scale[a] * scale[b] + (a == b ? damping : 0.0);
}

// Whether the points determine every unknown at the start: the squared
// pivots of the scaled normal matrix (see kMinPosePivot, kMinFocalPivot).
bool unknownsDetermined(int m, const NormalEquations& eq) {
    double scale[kCalibrationUnknowns], A[kCalibrationUnknowns][kCalibrationUnknowns];
    if (!columnScales(m, eq, scale)) return false;
    scaledNormalMatrix(m, eq, scale, 0.0, A);
    double minPivot[kCalibrationUnknowns];
    for (int a = 0; a < m; ++a) minPivot[a] = a < kPoseUnknowns ? kMinPosePivot : kMinFocalPivot;
    return cholesky(m, A, minPivot);
}

// Damped Gauss-Newton step: (S J^T J S + damping.I) z = -S J^T r, step = S z.
// Writes the step and the decrease of the squared error the linear model
// predicts for it; false when the damped matrix is not positive definite.
bool dampedStep(int m, const NormalEquations& eq, double damping, double* step, double* predicted) {
    double scale[kCalibrationUnknowns], A[kCalibrationUnknowns][kCalibrationUnknowns];
    if (!columnScales(m, eq, scale)) return false;
    scaledNormalMatrix(m, eq, scale, damping, A);
    const double anyPositive[kCalibrationUnknowns] = {1e-300, 1e-300, 1e-300, 1e-300, 1e-300, 1e-300, 1e-300};
    if (!cholesky(m, A, anyPositive)) return false;
    double z[kCalibrationUnknowns];
    for (int a = 0; a < m; ++a) z[a] = -eq.Jtr[a] * scale[a];
    choleskySolve(m, A, z);
    // The linearised error falls by -2 step.J^T r - step.J^T J.step, which
    // the damped equations turn into z.(damping.z - S J^T r): no cancellation
    // between large terms.
    double gain = 0.0;
    for (int a = 0; a < m; ++a) {
        step[a] = z[a] * scale[a];
        gain += z[a] * (damping * z[a] - eq.Jtr[a] * scale[a]);
    }
    *predicted = gain;
    return std::isfinite(gain);
}

// Levenberg-Marquardt from c; c holds the best camera found, eq its equations.
void minimise(int m, const Points& p, Camera* c, NormalEquations* eq) {
    double damping = kInitialDamping;
    double negligibleCost = p.n * kNegligibleResidual * kNegligibleResidual;
    for (int iteration = 0; iteration < kMaxIterations && eq->cost > negligibleCost; ++iteration) {
        double step[kCalibrationUnknowns] = {}, predicted = 0.0;
        if (dampedStep(m, *eq, damping, step, &predicted)) {
            if (predicted <= kRelativeDecrease * eq->cost) return;
            Camera trial = applyStep(*c, step, m);
            NormalEquations trialEq;
            if (trial.f > 0.0 && buildNormalEquations(m, p, trial, &trialEq) && trialEq.cost < eq->cost) {
                *c = trial;
                *eq = trialEq;
                damping = std::fmax(damping * kDampingDown, kMinDamping);
                continue;
            }
        }
        damping *= kDampingUp;
        if (damping > kMaxDamping) return;
    }
}

bool validInput(int n, const double* worldX, const double* worldY, const double* imageX,
                const double* imageY, double f, const double* T, const double* R) {
    if (!validPoints(n, worldX, worldY, imageX, imageY)) return false;
    if (!std::isfinite(f) || !(f > 0.0) || !allFinite(T, 3) || !allFinite(R, 9)) return false;
    return orthonormalityError(R) <= kRotationTolerance && determinant3(R) > 0.0;
}

// The refinement shared by both operations, with m = 6 (pose) or 7 unknowns.
// Writes f, T and R only on success.
int refine(int m, int n, const double* worldX, const double* worldY, const double* imageX,
           const double* imageY, double* f, double* T, double* R) {
    if (!validInput(n, worldX, worldY, imageX, imageY, *f, T, R)) return 0;
    const Points p = {n, worldX, worldY, imageX, imageY};
    Camera given = {*f, {T[0], T[1], T[2]}, {}};
    for (int k = 0; k < 9; ++k) given.R[k] = R[k];
    double givenCost;
    if (!reprojectionCost(p, given, &givenCost)) return 0;

    Camera c = given;
    orthonormalise(c.R);
    NormalEquations eq;
    if (!buildNormalEquations(m, p, c, &eq) || !unknownsDetermined(m, eq)) return 0;
    minimise(m, p, &c, &eq);
    // A start tilted off a face-on board determines f; the camera found may not.
    if (!unknownsDetermined(m, eq)) return 0;
    orthonormalise(c.R);

    double cost;
    if (!reprojectionCost(p, c, &cost)) return 0;
    if (cost > givenCost * (1.0 + kRoundingSlack) + n * kNegligibleResidual * kNegligibleResidual) return 0;
    if (!(c.f > 0.0) || !std::isfinite(c.f) || !allFinite(c.T, 3) || !allFinite(c.R, 9)) return 0;
    *f = c.f;
    for (int k = 0; k < 3; ++k) T[k] = c.T[k];
    for (int k = 0; k < 9; ++k) R[k] = c.R[k];
    return 1;
}

}  // namespace

}  // namespace tsai_internal

using namespace tsai_internal;

int tsaiRefinePose(int n, const double* worldX, const double* worldY,
                   const double* imageX, const double* imageY,
                   double f, double T[3], double R[9]) {
    return refine(kPoseUnknowns, n, worldX, worldY, imageX, imageY, &f, T, R);
}

int tsaiRefineCalibration(int n, const double* worldX, const double* worldY,
                          const double* imageX, const double* imageY,
                          double* f, double T[3], double R[9]) {
    return refine(kCalibrationUnknowns, n, worldX, worldY, imageX, imageY, f, T, R);
}
