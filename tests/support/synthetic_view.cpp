// synthetic_view.cpp - known cameras and exact board projections.
#include "synthetic_view.h"

#include <cmath>

#include "tsai.h"

namespace {

constexpr double kPi = 3.14159265358979323846;
double radians(double degrees) { return degrees * kPi / 180.0; }

void normalise(double* v) {
    double n = std::sqrt(v[0] * v[0] + v[1] * v[1] + v[2] * v[2]);
    for (int i = 0; i < 3; ++i) v[i] /= n;
}

void cross(const double* a, const double* b, double* out) {
    out[0] = a[1] * b[2] - a[2] * b[1];
    out[1] = a[2] * b[0] - a[0] * b[2];
    out[2] = a[0] * b[1] - a[1] * b[0];
}

}  // namespace

SyntheticView lookAtBoard(double f, double distance, double tiltDeg, double azimuthDeg,
                          double rollDeg, int side) {
    const double target[3] = {3.5, 2.5, 0.0};
    double t = radians(tiltDeg), a = radians(azimuthDeg), r = radians(rollDeg);
    double centre[3] = {target[0] + distance * std::sin(t) * std::cos(a),
                        target[1] + distance * std::sin(t) * std::sin(a),
                        side * distance * std::cos(t)};
    // Camera axes in world coordinates: z forward, x right, y down (x cross y = z).
    double z[3] = {target[0] - centre[0], target[1] - centre[1], target[2] - centre[2]};
    normalise(z);
    double helper[3] = {0.0, 0.0, 1.0};
    if (std::fabs(z[2]) > 0.999) helper[0] = 1.0, helper[2] = 0.0;
    double x0[3], y0[3];
    cross(helper, z, x0);
    normalise(x0);
    cross(z, x0, y0);
    SyntheticView v;
    v.f = f;
    for (int i = 0; i < 3; ++i) {
        v.R[i] = std::cos(r) * x0[i] + std::sin(r) * y0[i];
        v.R[3 + i] = -std::sin(r) * x0[i] + std::cos(r) * y0[i];
        v.R[6 + i] = z[i];
    }
    for (int row = 0; row < 3; ++row)
        v.T[row] = -(v.R[3 * row] * centre[0] + v.R[3 * row + 1] * centre[1] + v.R[3 * row + 2] * centre[2]);
    return v;
}

BoardPoints projectBoard(const SyntheticView& view, int cols, int rows, double sigma,
                         std::mt19937& rng) {
    std::normal_distribution<double> noise(0.0, sigma > 0 ? sigma : 1.0);
    BoardPoints p;
    p.n = cols * rows;
    for (int k = 0; k < p.n; ++k) {
        p.worldX[k] = k % cols;
        p.worldY[k] = k / cols;
        tsaiProject(p.worldX[k], p.worldY[k], 0.0, &p.imageX[k], &p.imageY[k], view.f, view.T, view.R);
        if (sigma > 0) {
            p.imageX[k] += noise(rng);
            p.imageY[k] += noise(rng);
        }
    }
    return p;
}

double rotationErrorDegrees(const double* A, const double* B) {
    // ||A - B||_F = 2 sqrt(2) sin(angle / 2), accurate for small angles too.
    double sum = 0.0;
    for (int i = 0; i < 9; ++i) sum += (A[i] - B[i]) * (A[i] - B[i]);
    double s = std::fmin(1.0, std::sqrt(sum) / (2.0 * std::sqrt(2.0)));
    return 2.0 * std::asin(s) * 180.0 / kPi;
}
