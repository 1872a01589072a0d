// synthetic_view.h - cameras with a known pose looking at a planar board, and
// the exact image points they see; shared by the tests and the benchmarks.
//
// Usage:
//     SyntheticView v = lookAtBoard(800, 20, 40, 30, 0, -1);
//     BoardPoints p = projectBoard(v, 8, 6, 0.0, rng);
#ifndef SYNTHETIC_VIEW_H
#define SYNTHETIC_VIEW_H

#include <random>

struct SyntheticView {
    double f;
    double T[3];
    double R[9];
};

// Up to 100 corners: a board of cols x rows unit squares, X fastest.
struct BoardPoints {
    int n;
    double worldX[100], worldY[100], imageX[100], imageY[100];
};

// A camera at the given distance from the centre of an 8 x 6 board, tilted by
// tiltDeg from the board's normal, seen from azimuthDeg around it, rolled by
// rollDeg about its viewing axis. side = -1 puts the camera at world Z < 0.
SyntheticView lookAtBoard(double f, double distance, double tiltDeg, double azimuthDeg,
                          double rollDeg, int side);

// Projects the cols x rows corner grid through the view, adding Gaussian
// noise of sigma pixels to each image coordinate.
BoardPoints projectBoard(const SyntheticView& view, int cols, int rows, double sigma,
                         std::mt19937& rng);

// Angle in degrees of the rotation that takes A to B.
double rotationErrorDegrees(const double* A, const double* B);

#endif
