// solvers.cpp - the dense linear solvers of the calibration module.
//
// Gauss: square systems of order 1..137 by Gaussian elimination with scaled
// partial pivoting, in place, rows of 137 doubles. MinQuad: least squares for
// up to 5 unknowns through the normal equations. Both use the absolute
// threshold 1e-10 (not scaled by the data), allocate nothing and keep no state.
//
// Usage:
//     double a[3][kSolverRowWidth], b[3];   // fill the leading 3 x 3 block
//     if (Gauss(3, a, b) == 0) { /* b holds x */ }
#include "tsai_internal.h"

#include <cmath>

namespace tsai_internal {

namespace {

// Largest magnitude of row r over the columns not yet eliminated.
double rowScale(const double* row, int from, int n) {
    double s = 0.0;
    for (int c = from; c < n; ++c) s = std::fmax(s, std::fabs(row[c]));
    return s;
}

// Row with the largest |a[r][i]| / scale among the rows whose entry is usable.
// Returns -1 when a negligible row is met (the system is singular).
int findPivotRow(int n, int i, double (*a)[kSolverRowWidth]) {
    double bestRatio = 0.0;
    int pivot = i;
    for (int r = i; r < n; ++r) {
        double s = rowScale(a[r], i, n);
        if (s < kSolverEpsilon) return -1;
        double entry = std::fabs(a[r][i]);
        if (entry > bestRatio * s && entry >= kSolverEpsilon) {
            bestRatio = entry / s;
            pivot = r;
        }
    }
    return pivot;
}

void swapRows(int n, int i, int p, double (*a)[kSolverRowWidth], double* b) {
    for (int c = i; c < n; ++c) {
        double t = a[i][c];
        a[i][c] = a[p][c];
        a[p][c] = t;
    }
    double t = b[i];
    b[i] = b[p];
    b[p] = t;
}

void eliminateBelow(int n, int i, double (*a)[kSolverRowWidth], double* b) {
    for (int r = i + 1; r < n; ++r) {
        double mu = a[r][i] / a[i][i];
        for (int c = i + 1; c < n; ++c) a[r][c] -= mu * a[i][c];
        b[r] -= mu * b[i];
    }
}

void backSubstitute(int n, double (*a)[kSolverRowWidth], double* b) {
    b[n - 1] /= a[n - 1][n - 1];
    for (int r = n - 2; r >= 0; --r) {
        for (int c = r + 1; c < n; ++c) b[r] -= a[r][c] * b[c];
        b[r] /= a[r][r];
    }
}

}  // namespace

int Gauss(int n, double (*a)[kSolverRowWidth], double* b) {
    for (int i = 0; i < n - 1; ++i) {
        int p = findPivotRow(n, i, a);
        if (p < 0) return -1;
        if (std::fabs(a[p][i]) < kSolverEpsilon) return 1;
        if (p != i) swapRows(n, i, p, a, b);
        eliminateBelow(n, i, a, b);
    }
    if (std::fabs(a[n - 1][n - 1]) <= kSolverEpsilon) return -1;
    backSubstitute(n, a, b);
    return 0;
}

int MinQuad(int m, int n, const double (*a)[5], double* b) {
    // Only the leading n x n block of the 137-wide layout is used, n <= 5.
    double normal[5][kSolverRowWidth];
    double rhs[5];
    for (int i = 0; i < n; ++i) {
        for (int j = 0; j < n; ++j) {
            double g = 0.0;
            for (int k = 0; k < m; ++k) g += a[k][j] * a[k][i];
            normal[i][j] = g;
        }
        double h = 0.0;
        for (int k = 0; k < m; ++k) h += a[k][i] * b[k];
        rhs[i] = h;
    }
    if (Gauss(n, normal, rhs) != 0) return 0;
    for (int i = 0; i < n; ++i) b[i] = rhs[i];
    return 1;
}

}  // namespace tsai_internal
