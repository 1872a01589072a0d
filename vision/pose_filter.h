// pose_filter.h - smoothing of the camera pose from frame to frame, judged
// where the user sees it: in pixels of the overlay.
//
// A constant-velocity filter (an alpha-beta filter, the steady state of a
// Kalman filter with that motion model) on the pose R, T of the calibration
// (Pc = R.P + T) and its rate, whose gain adapts to how far each new pose
// lands from the predicted one, measured against the noise of the detection:
//   1. predict: the filtered pose moved on by its rate over the frame's time
//      (or held where it is, with the rate dropped, when the new pose lies
//      nearer to that: the camera has stopped or turned back);
//   2. innovation d: the RMS distance, in the overlay's pixels, between the
//      probe points (the corners of the board's outline spread kProbeSpread
//      times about its middle, and the same points kProbeHeight squares
//      above the board) through the raw pose and through the predicted one;
//   3. noise s: what the detection's noise moves the probes by, the smaller
//      of two measures: the corners' noise (cornerNoisePx, allowed to rise
//      only slowly, as a detector's does) turned into the pose's covariance
//      through the board's Jacobian (s = sigma sqrt(trace(Jp (Jb^T Jb)^-1
//      Jp^T) / probes)), the pose being the least-squares fit to the
//      corners; and the raw poses' own jitter at the probes (the median
//      second difference of their places over half a second), which holds
//      whatever the corners' errors share (their blur, the lens the camera
//      model lacks) and a steady move leaves alone. A still pose's
//      innovation is that noise and the prediction's: s / sqrt(1 - alpha)
//      at the last gain;
//   4. gain: a low-pass of cutoff  minCutoffHz + beta * max(0, d/e - 1.5)^2
//      (Hz; beta in Hz per squared noise level, e the expected innovation):
//      alpha = 1 / (1 + 1 / (2 pi cutoff dt)); the square keeps the gain
//      low for what noise does and opens it fully for a move of a few
//      noise levels (d/e = 3: alpha 0.93 at 30 fps; 5: 0.99);
//      the rate takes alpha^2 / (2 - alpha) of the innovation (Benedict and
//      Bordner's pairing, which follows a ramp without lag).
// A still camera's innovation is its noise (d/s about 1): the gain is the
// minimum cutoff's and the jitter shrinks. A camera that moves steadily is
// predicted: the innovation falls back to the noise and the moving overlay
// is smoothed too, without lag. A sudden move lands many noise levels from
// the prediction: the gain opens at once and the overlay follows in the same
// frame. Pixels and noise levels carry over between videos: a longer lens
// or a jumpier detector changes d and s alike.
//
// Why not the "1 euro" filter on the pose, which this replaces: its speed was
// radians per second, so the same defaults lagged on a long lens (more
// pixels per radian) and let jitter through on a noisy detector.
//
// The filter starts afresh (the output is the raw pose) on its first pose,
// after resetPoseFilter (the caller's call when the board is lost), when the
// time does not advance or leaps by more than kPoseFilterMaxGapMs, and on a
// jump: a raw pose more than kPoseFilterJumpRad from the filtered one (either
// a rotation of that angle or a move of T by that fraction of its length;
// about 60 px of image motion at f = 600 px in one frame, more than any hand
// moves a camera in 33 ms). The time is the caller's (the video's), never the
// clock: the same poses give the same output.
//
// R comes back a rotation (orthonormal to 1e-12). A raw pose with a
// non-finite number, or an R that is no rotation at all, is returned
// untouched and restarts the filter. Nothing is allocated; one filter per
// camera, on one thread.
//
// Usage:
//     PoseFilter filter;  initPoseFilter(&filter, kPoseFilterMinCutoffHz, kPoseFilterBeta, cv::Size(8, 6));
//     PoseNoise noise = {f, fy, cornerNoisePx(residuals, previous), corners};
//     if (found) filterPose(&filter, timeMs, noise, R, T); else resetPoseFilter(&filter);
#ifndef APP_POSE_FILTER_H
#define APP_POSE_FILTER_H

// Defaults, chosen on the corpus (bench/corpus.sh) and the synthetic moves of
// bench/smoothing_bench.
constexpr double kPoseFilterMinCutoffHz = 1.0;  // cutoff of an overlay whose innovation is noise
constexpr double kPoseFilterBeta = 20.0;        // Hz per squared noise level beyond 1.5        // Hz per squared noise level beyond 1.5        // Hz per squared noise level beyond 1.5        // Hz per squared noise level beyond 1.5  // Hz per noise level beyond 1.5, squared  // Hz per noise level beyond 1.5, squared  // Hz per noise level beyond 1.5, squared        // Hz per noise level beyond 1.5
constexpr double kPoseFilterJumpRad = 0.1;      // per frame: a jump, not a move
constexpr double kPoseFilterMaxGapMs = 500.0;   // a longer gap restarts the filter
constexpr double kProbeHeight = 3.0;            // squares above the board
// How far out the probes lie: the board's inner corners' outline spread this
// many times about its middle. (Three times, to reach the sample video's
// buildings, let far probes of steep views decide the gain: the sweep's
// moving registration grew by 0.4 px.)
constexpr double kProbeSpread = 1.0;
// The least noise assumed, px: a noiseless detection would open the gain to
// every last rounding error.
constexpr double kPoseFilterMinNoisePx = 0.005;
// How fast the corners' noise level in use may rise: by e per this many seconds.
constexpr double kNoiseRiseSeconds = 0.5;
// The raw poses' own jitter over the last this many frames (half a second at
// 30 fps), from at least kMinJitterFrames.
constexpr int kJitterFrames = 15, kMinJitterFrames = 5;
constexpr int kPoseFilterProbes = 8;

// What the filter knows of a frame besides its pose: the overlay's focal
// lengths and how well the board's corners fit the pose.
struct PoseNoise {
    double f, fy;          // px
    double cornerNoisePx;  // the corners' noise per coordinate (cornerNoisePx below)
    int corners;           // how many corners the pose came from, by least squares
};

struct PoseFilter {
    // Parameters.
    double minCutoffHz;
    double beta;  // Hz per noise level
    int boardColumns, boardRows;  // inner corners: the probes and the board's Jacobian
    // State: the last output, as a unit quaternion (w, x, y, z) and T, and
    // its rate: rotation vector (rad/s, camera frame), then T (units/s).
    bool holdsPose;
    double timeMs;
    double q[4];
    double T[3];
    double rate[6];
    // The corners' noise in use: it follows the detection's down at once and
    // up by at most e per kNoiseRiseSeconds.
    double cornerNoisePx;
    // The raw poses' probe places of the last two frames, and the jitter of
    // the last kJitterFrames (see the noise above).
    double placesBefore[2 * kPoseFilterProbes], placesBeforeThat[2 * kPoseFilterProbes];
    int rawPlaces;
    double jitter[kJitterFrames];
    int jitterCount;
    // The latest figures, for benchmarks and tests.
    double innovationPx, noisePx, alpha;
};

// A pose's corners and their residuals (detected minus reprojected, px),
// each corner named by its board coordinates.
struct CornerResiduals {
    int n;
    const double *boardX, *boardY;
    const double *dx, *dy;
};

// The corners' noise per coordinate, px: from the RMS of the residuals (a
// pose fit to n corners keeps 2n - 6 of their 2n degrees of freedom), and,
// when the frame before's residuals are given (n > 0), the smaller of that
// and what the change of each corner's residual says: a lens or a picture
// the camera model lacks leaves residuals that stay from frame to frame and
// do not move the overlay about, while the noise changes every frame.
double cornerNoisePx(const CornerResiduals& now, const CornerResiduals& before);
constexpr double kResidualChangeCap = 4.0;

// True when the residuals are mostly what the camera model lacks, not noise:
// an RMS over kModelErrorRmsPx (no sharp detection is that far off; a
// strong lens without its model is, by pixels), or noise more than
// kResidualChangeCap times what the residuals' change says.
constexpr double kModelErrorRmsPx = 1.0;
bool residualsMostlyModelError(const CornerResiduals& now, const CornerResiduals& before);

// Sets the parameters and empties the filter. The minimum cutoff must be
// finite and > 0, beta finite and >= 0, the board at least 2 x 2; other
// values give the defaults (8 x 6 for the board).
void initPoseFilter(PoseFilter* filter, double minCutoffHz, double beta, int boardColumns = 8, int boardRows = 6);

// Forgets the pose: the next one is taken as it comes.
void resetPoseFilter(PoseFilter* filter);

// The filtered pose for the raw pose R (row-major), T at timeMs (the frame's
// time on the video, ms), written over R and T. Returns true when the pose
// was smoothed, false when the filter started afresh from it.
bool filterPose(PoseFilter* filter, double timeMs, const PoseNoise& noise, double R[9], double T[3]);

#endif
