// tsai_internal.h - the calibration module's private solvers and steps.
//
// Not installed: only the module's own files and its tests include it. The
// public operations are in tsai.h.
//
// Usage (tests):
//     double a[2][kSolverRowWidth] = {{1, 1000}, {0.5, 0.6}}, b[2] = {1, 2};
//     int status = tsai_internal::Gauss(2, a, b);
#ifndef TSAI_INTERNAL_H
#define TSAI_INTERNAL_H

#include "tsai.h"

namespace tsai_internal {

// Row width of every matrix handed to Gauss, whatever the system's order.
constexpr int kSolverRowWidth = 137;
// Absolute threshold below which a pivot or a row counts as zero.
constexpr double kSolverEpsilon = 1e-10;
// Rows of the work area of each calibration step; one or two per point.
constexpr int kStepRows = 128;
constexpr int kMinCalibrationPoints = TSAI_MIN_POINTS;
constexpr int kMaxCalibrationPoints = TSAI_MAX_POINTS;
constexpr int kMinHomographyPoints = 4;
constexpr int kMaxHomographyPoints = kSolverRowWidth - 8;

// Gaussian elimination with scaled partial pivoting. 0 = solved (solution in
// b), -1 = a negligible row or last pivot, 1 = a column without a pivot.
int Gauss(int n, double (*a)[kSolverRowWidth], double* b);

// Least squares through the normal equations, n <= 5 unknowns. 1 = solved
// (solution in b[0..n-1]), 0 = singular (b untouched).
int MinQuad(int m, int n, const double (*a)[5], double* b);

// Solution of step 1: r1/Ty, r2/Ty, Tx/Ty, r4/Ty, r5/Ty.
extern double U[5];

int cc_compute_U(int n, const double* worldX, const double* worldY,
                 const double* imageX, const double* imageY);
// Returns 0 when Ty cannot be determined (a board seen edge-on).
int cc_compute_Tx_and_Ty(int n, const double* worldX, const double* worldY,
                         const double* imageX, const double* imageY, double* T);
void cc_compute_R(const double* T, double* R);
int cc_compute_f_and_Tz(int n, const double* worldX, const double* worldY,
                        const double* imageX, const double* imageY,
                        double* f, double* T, const double* R);
int cc_compute_Tz(int n, const double* worldX, const double* worldY,
                  const double* imageX, const double* imageY,
                  double f, double* T, const double* R);

// True when none of the count values is NaN or infinite.
bool allFinite(const double* v, int count);

// A point count the calibrations' work areas hold (5 to 64) and no NaN or
// infinite coordinate.
bool validPoints(int n, const double* worldX, const double* worldY, const double* imageX,
                 const double* imageY);

int EncontraHomografia(double* H, int n, const double* worldX, const double* worldY,
                       const double* imageX, const double* imageY);

}  // namespace tsai_internal

#endif
