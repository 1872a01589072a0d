// picture.h - the frame's GL set-up around what is drawn in it: clearing,
// the camera's matrices and the board frame, the board's axes, the phantom
// boxes, the fixed light and the end of the picture.
//
// The board frame, in which everything virtual is drawn: a vertex (x, y, z)
// is the calibration world point (X, Y, Z) = (x, z, -y), so x runs along the
// board's rows, z across them and y is the height above the board, one unit
// per square. A box is eight corners in the board frame, corners 0-3 on the
// side at smaller x, 4-7 on the other, each side ordered (base, near z),
// (top, near z), (top, far z), (base, far z); five faces are drawn (the
// bottom lies in the board).
//
// Threads: the GL context's thread only; nothing here keeps state.
//
// Usage:
//     setUpLighting();                                   // once
//     clearPicture();  loadCameraMatrices(P, M, 640, 480);  // every frame
//     drawOccluders(scene.occluders);  drawAxes(8, 6);  finishPicture();
#ifndef RENDER_PICTURE_H
#define RENDER_PICTURE_H

#include <vector>

#include "scene.h"

// Light 0 and the back-face material, in eye coordinates.
void setUpLighting();

// Colour and depth cleared to black and far.
void clearPicture();

// The camera's projection and modelview (column-major, as OpenGL loads them)
// for a width x height picture, then the board frame. The calibration's image
// y grows with the stored row, drawn downwards from the window's top.
void loadCameraMatrices(const double projection[16], const double modelView[16], int width, int height);

// The texture bound drawn over the window's normalised rectangle
// [x0, x1] x [y0, y1], texture coordinates (0, 0) to (s, t), with the
// projection and modelview set aside meanwhile (and restored).
void drawTexturedRectangle(double x0, double y0, double x1, double y1, double s, double t);

// The occluders drawn into colour and depth with the depth test on.
void drawOccluders(const std::vector<Occluder>& occluders);

// The board's axes, x blue along the first row of corners (columns - 1
// long), y green (7.5), z red along the first column (rows - 1).
void drawAxes(int columns, int rows);

// Lighting on again for the next frame.
void finishPicture();

// The framebuffer's width x height BGR pixels, packed, its last row first.
void readPicture(int width, int height, unsigned char* bgrBottomUp);

#endif
