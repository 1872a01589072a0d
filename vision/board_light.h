// board_light.h - the light falling on the board, measured from its squares
// in the picture, and followed from frame to frame as a gain on a reference.
//
// measureBoardSquares samples the (columns-1) x (rows-1) squares bounded by
// the inner-corner grid, each in its middle half along both of its sides
// (away from its edges' blur and the corners' noise), at positions
// interpolated bilinearly between its four corners. Pixels are read as sRGB
// 8-bit BGR and averaged in linear light. The squares split by the grid's
// parity; the brighter class is the white one. A measurement is refused
// (valid false) with too few pixels in either class, a white/black contrast
// too low to be a printed board (a wrong grid, a washed-out picture), white
// squares too dark to say anything, or white squares clipped by the sensor.
//
// followBoardLight turns valid measurements into the light's gain: the white
// squares' linear red, green and blue over the reference, which is the white
// squares of the first valid measurement, so gain 1, 1, 1 is the light the
// scene had when the board was first seen, and doubling the light on the
// board doubles the gain. The gain is clamped to 0..kMaxBoardLightGain and
// low-passed on the video's time (an exponential of time constant
// kBoardLightTimeConstantMs: 63 % of a step after that long, at any frame
// rate). A refused measurement, or none, keeps the gain.
//
// Limits: up to kMaxBoardLightCorners corners; at most 16 x 16 samples per
// square; the bilinear square is not the exact perspective one, which only
// its middle half hides. No state outside the caller's records.
//
// Usage:
//     BoardLight light;  initBoardLight(&light);
//     BoardSquares s;  if (measureBoardSquares(frame, corners, cv::Size(8, 6), &s)) followBoardLight(&light, s, ms);
#ifndef VISION_BOARD_LIGHT_H
#define VISION_BOARD_LIGHT_H

#include <opencv2/core.hpp>

constexpr int kMaxBoardLightCorners = 100;
constexpr double kBoardLightTimeConstantMs = 300.0;  // video time
constexpr float kMaxBoardLightGain = 4.0f;

// The mean linear colours of the board's two kinds of square, red, green,
// blue, 0..1.
struct BoardSquares {
    bool valid;
    float white[3];
    float black[3];
    int whitePixels, blackPixels;  // samples averaged
};

struct BoardLight {
    bool referenced;      // a valid measurement has set the reference
    float reference[3];   // the white squares' linear red, green, blue then
    float gain[3];        // the smoothed gain, red, green, blue
    double latestMs;      // the video time of the latest measurement followed
    double timeConstantMs;
};

// Measures frame (8-bit BGR) at the pattern's corners (row by row, as the
// board search gives them). False, with s->valid false, when the
// measurement is refused.
bool measureBoardSquares(const cv::Mat& frame, const cv::Point2f* corners, cv::Size pattern, BoardSquares* s);

// Gain 1, 1, 1 and no reference yet.
void initBoardLight(BoardLight* light, double timeConstantMs = kBoardLightTimeConstantMs);

// Follows a measurement taken at videoMs; an invalid one changes nothing.
// The first valid one sets the reference. A time that goes backwards (a
// video played again) moves the gain straight to the measurement.
void followBoardLight(BoardLight* light, const BoardSquares& s, double videoMs);

#endif
