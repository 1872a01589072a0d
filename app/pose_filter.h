// pose_filter.h - smoothing of the camera pose from frame to frame.
//
// An adaptive low-pass (the "1 euro" filter of Casiez, Roussel and Vogel,
// 2012) on the pose R, T of the calibration (Pc = R.P + T): each frame the
// filtered pose moves a fraction alpha of the way to the raw one, the
// rotation along the shortest arc (as a rotation vector), the translation
// along a straight line, where
//     alpha  = 1 / (1 + 1 / (2 pi cutoff dt))
//     cutoff = minCutoffHz + beta * speed      (Hz)
// and speed is the low-passed (derivativeCutoffHz) rate of the pose in
// radians per second: the larger of the rotation's rate and the
// translation's rate over the distance to the board, both being how fast the
// board's sight lines turn. A still camera gets the minimum cutoff and
// loses its jitter; a moving one gets a cutoff that grows with its speed, so
// the lag stays a small fraction of a frame. One cutoff serves rotation and
// translation alike: a camera that turns moves T too, and filtering them
// apart would make the board slide.
//
// The filter starts afresh (the output is the raw pose) on its first pose,
// after resetPoseFilter (the caller's call when the board is lost), when the
// time does not advance or leaps by more than kPoseFilterMaxGapMs, and on a
// jump: a raw pose more than kPoseFilterJumpRad from the filtered one (either
// a rotation of that angle or a move of T by that fraction of its length;
// 0.1 rad is about 60 px of image motion at f = 600 px, in one frame, more
// than any hand moves a camera in 33 ms and more than smoothing should ever
// hide, e.g. the corner order flipping). The time is the caller's (the
// video's timestamps), never the clock: the same poses give the same output.
//
// R comes back a rotation (orthonormal to 1e-12): on a fresh start the
// rotation nearest to the raw R (the coplanar calibration's R is one only to
// the precision of its fit, about 1e-9), and T unchanged. A
// raw pose with a non-finite number, or an R that is no rotation at all
// (determinant <= 0), is returned untouched and restarts the filter.
// Nothing is allocated; one filter per camera, on one thread.
//
// Usage:
//     PoseFilter filter;  initPoseFilter(&filter, kPoseFilterMinCutoffHz, kPoseFilterBeta);
//     if (found) filterPose(&filter, movie.timestampMs, camera.R, camera.T); else resetPoseFilter(&filter);
#ifndef APP_POSE_FILTER_H
#define APP_POSE_FILTER_H

// Defaults, chosen on the sample video with bench/smoothing_bench (README).
// The speed's cutoff is twice the usual 1 Hz: the cutoff then falls within
// a few frames of the camera stopping, which is where jitter shows most.
constexpr double kPoseFilterMinCutoffHz = 1.0;         // cutoff of a still camera
constexpr double kPoseFilterBeta = 100.0;              // Hz per radian per second
constexpr double kPoseFilterDerivativeCutoffHz = 2.0;  // low-pass of the speed
constexpr double kPoseFilterJumpRad = 0.1;             // per frame: a jump, not a move
constexpr double kPoseFilterMaxGapMs = 500.0;          // a longer gap restarts the filter

struct PoseFilter {
    // Parameters.
    double minCutoffHz;
    double beta;  // Hz per radian per second
    double derivativeCutoffHz;
    // State: the last output, as a unit quaternion (w, x, y, z) and T.
    bool holdsPose;
    double timeMs;
    double q[4];
    double T[3];
    // Low-passed rates: rotation vector (rad/s, camera frame), then T (units/s).
    double rate[6];
};

// Sets the parameters and empties the filter. The derivative cutoff gets its
// default (a caller may set the field afterwards). The minimum cutoff must be
// finite and > 0, beta finite and >= 0; other values give the defaults.
void initPoseFilter(PoseFilter* filter, double minCutoffHz, double beta);

// Forgets the pose: the next one is taken as it comes.
void resetPoseFilter(PoseFilter* filter);

// The filtered pose for the raw pose R (row-major), T at timeMs (the frame's
// time on the video, ms), written over R and T. Returns true when the pose
// was smoothed, false when the filter started afresh from it.
bool filterPose(PoseFilter* filter, double timeMs, double R[9], double T[3]);

#endif
