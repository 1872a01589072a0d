// homography.cpp - plane-to-image homography and synthetic calibration grids.
//
// EncontraHomografia fits H from n correspondences (4..129) as a linear least
// squares problem in H and one weight per correspondence, the last weight
// fixed at 1; no normalisation, no non-linear refinement. tsaiBuildNewData
// maps a regular nx x ny grid over the world points' bounding rectangle
// through it; it fails, writing nothing, when any input or any grid value is
// NaN or infinite. No module state: safe on several threads at once.
//
// Usage:
//     double gx[48], gy[48], gu[48], gv[48];
//     tsaiBuildNewData(n, wx, wy, ix, iy, 8, 6, gx, gy, gu, gv);
#include "tsai.h"
#include "tsai_internal.h"

#include <cmath>

namespace tsai_internal {

namespace {

// The design matrix A has 3n rows: lambda_i (x_i, y_i, 1) = H (X_i, Y_i, 1),
// grouped by component (rows i, n + i, 2n + i), columns 0..8 for H and 9 + i
// for lambda_i (i < n - 1). Its normal matrix N = A^T A is built directly from
// the points: each component group contributes the same 3 x 3 block
// sum p p^T with p = (X, Y, 1), the weight columns couple only to their own
// point, and the weights' own block is diagonal. Same sums, same order, as
// forming A first, without its 3n x (n + 8) storage.
void buildNormalMatrix(int n, const double* worldX, const double* worldY,
                       const double* imageX, const double* imageY,
                       double (*N)[kSolverRowWidth]) {
    int order = n + 8;
    for (int q = 0; q < order; ++q)
        for (int c = 0; c < order; ++c) N[q][c] = 0.0;
    for (int i = 0; i < n; ++i) {
        const double p[3] = {worldX[i], worldY[i], 1.0};
        const double weightCoefficient[3] = {-imageX[i], -imageY[i], -1.0};
        for (int group = 0; group < 3; ++group) {
            int base = 3 * group;
            for (int a = 0; a < 3; ++a)
                for (int b = 0; b < 3; ++b) N[base + a][base + b] += p[b] * p[a];
            if (i == n - 1) continue;
            int w = 9 + i;
            for (int a = 0; a < 3; ++a) {
                N[base + a][w] += weightCoefficient[group] * p[a];
                N[w][base + a] += p[a] * weightCoefficient[group];
            }
            N[w][w] += weightCoefficient[group] * weightCoefficient[group];
        }
    }
}

}  // namespace

int EncontraHomografia(double* H, int n, const double* worldX, const double* worldY,
                       const double* imageX, const double* imageY) {
    static_assert(kMaxHomographyPoints + 8 == kSolverRowWidth, "capacity of the normal system");
    double N[kSolverRowWidth][kSolverRowWidth];
    double r[kSolverRowWidth];
    buildNormalMatrix(n, worldX, worldY, imageX, imageY, N);
    // A^T b: only the last correspondence's three equations have a right-hand side.
    double X = worldX[n - 1], Y = worldY[n - 1], x = imageX[n - 1], y = imageY[n - 1];
    const double lastRow[9] = {X * x, Y * x, x, X * y, Y * y, y, X, Y, 1.0};
    for (int i = 0; i < n + 8; ++i) r[i] = i < 9 ? lastRow[i] : 0.0;
    if (Gauss(n + 8, N, r) != 0) return 0;
    for (int i = 0; i < 9; ++i) H[i] = r[i];
    return 1;
}

}  // namespace tsai_internal

using namespace tsai_internal;

namespace {

void boundingRectangle(int n, const double* worldX, const double* worldY,
                       double* minX, double* maxX, double* minY, double* maxY) {
    *minX = *maxX = worldX[0];
    *minY = *maxY = worldY[0];
    for (int i = 1; i < n; ++i) {
        if (worldX[i] > *maxX) *maxX = worldX[i];
        else if (worldX[i] < *minX) *minX = worldX[i];
        if (worldY[i] > *maxY) *maxY = worldY[i];
        else if (worldY[i] < *minY) *minY = worldY[i];
    }
}

// A single column (row) sits at the minimum, whatever the step.
double gridStep(double from, double to, int count) {
    return count > 1 ? (to - from) / static_cast<double>(count - 1) : 0.0;
}

struct GridSpan {
    double minX, maxX, minY, maxY;
    int nx, ny;
};

// Maps the grid through H in world-X-major order (entry k = i.ny + j). With
// write false it only checks that every value is finite (a grid point on the
// homography's line at infinity, or an overflow), so that a failure can
// leave the outputs untouched.
bool mapGrid(const double* H, const GridSpan& g, bool write, double* gridWorldX,
             double* gridWorldY, double* gridImageX, double* gridImageY) {
    double stepX = gridStep(g.minX, g.maxX, g.nx), stepY = gridStep(g.minY, g.maxY, g.ny);
    int k = 0;
    double X = g.minX;
    for (int i = 0; i < g.nx; ++i) {
        double Y = g.minY;
        for (int j = 0; j < g.ny; ++j) {
            double w = H[6] * X + H[7] * Y + H[8];
            double x = (H[0] * X + H[1] * Y + H[2]) / w;
            double y = (H[3] * X + H[4] * Y + H[5]) / w;
            if (!write && !(std::isfinite(X) && std::isfinite(Y) && std::isfinite(x) && std::isfinite(y)))
                return false;
            if (write) {
                gridWorldX[k] = X;
                gridWorldY[k] = Y;
                gridImageX[k] = x;
                gridImageY[k] = y;
            }
            ++k;
            Y += stepY;
        }
        X += stepX;
    }
    return true;
}

}  // namespace

int tsaiBuildNewData(int n, const double* worldX, const double* worldY,
                     const double* imageX, const double* imageY, int nx, int ny,
                     double* gridWorldX, double* gridWorldY,
                     double* gridImageX, double* gridImageY) {
    if (n < kMinHomographyPoints || n > kMaxHomographyPoints) return 0;
    if (!allFinite(worldX, n) || !allFinite(worldY, n) || !allFinite(imageX, n) ||
        !allFinite(imageY, n))
        return 0;
    double H[9];
    if (!EncontraHomografia(H, n, worldX, worldY, imageX, imageY) || !allFinite(H, 9)) return 0;
    GridSpan g;
    boundingRectangle(n, worldX, worldY, &g.minX, &g.maxX, &g.minY, &g.maxY);
    g.nx = nx;
    g.ny = ny;
    if (!mapGrid(H, g, false, nullptr, nullptr, nullptr, nullptr)) return 0;
    mapGrid(H, g, true, gridWorldX, gridWorldY, gridImageX, gridImageY);
    return 1;
}
