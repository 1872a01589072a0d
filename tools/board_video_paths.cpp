// board_video_paths.cpp - the camera paths of make_board_video; see the header.
#include "board_video_paths.h"

#include <algorithm>
#include <cmath>
#include <iterator>
#include <utility>

#include "tsai.h"

namespace {

constexpr double kPi = 3.14159265358979323846;

constexpr int kSampleFrames = 300, kSweepFrames = 240, kDeskFrames = 360, kHandheldFrames = 300,
              kSwingFrames = 180;
constexpr double kFocalAt640x480 = 600.0;  // pixels

// The sample path. Values: azimuth (degrees, about the board normal, from
// world +X towards +Y), tilt from the normal (degrees), distance from the
// target, target X and Y on the table, roll (degrees): the camera looks at
// the target from that direction and turns about its axis. Keys 2 and 3
// hold the camera still for one second; around keys 7 and 8 predio1 stands
// between the camera and the ship's place. The buildings leave few places
// to see the whole board from: steep views only from above the board, tilted
// ones only from the two diagonals between the buildings, where the camera's
// roll keeps the board's first row at the top.
constexpr PathKey kSample[] = {
    {0.0, {95, 21, 24.0, 7.0, 4.0, 0}, false},
    {1.0, {75, 22, 24.0, 7.0, 4.0, 8}, false},
    {1.3, {70, 22, 24.0, 7.0, 4.0, 10}, true},
    {2.3, {70, 22, 24.0, 7.0, 4.0, 10}, true},
    {3.0, {105, 22, 23.0, 6.0, 4.0, -12}, false},
    {3.5, {130, 26, 22.0, 6.0, 4.0, -28}, false},
    {4.0, {145, 40, 21.0, 5.0, 3.5, -32}, false},
    {4.5, {152, 52, 21.0, 5.0, 3.0, -35}, false},
    {5.0, {154, 56, 22.0, 6.0, 3.0, -37}, false},
    {5.5, {145, 40, 21.0, 5.5, 3.5, -32}, false},
    {6.0, {130, 28, 22.0, 6.0, 4.0, -25}, false},
    {6.8, {100, 21, 25.0, 7.0, 4.5, -5}, false},
    {7.5, {65, 21, 24.0, 7.0, 4.0, 12}, false},
    {8.2, {40, 32, 23.0, 6.0, 4.0, 25}, false},
    {9.0, {30, 40, 22.0, 6.5, 4.0, 30}, false},
    {9.5, {45, 30, 23.0, 7.0, 4.0, 22}, false},
    {10.0, {70, 22, 24.0, 7.0, 4.0, 10}, true},
};

// The board-centred paths. Values: tilt direction (degrees), tilt from the
// board normal (degrees), depth, where the board's middle appears (across
// and down, -1 to 1 from the picture's middle to its edges, in the
// undistorted picture), and the board's turn in the picture (degrees).
// Tilt directions from -135 to 45 degrees keep the camera on the side of
// the board away from the buildings.
constexpr double kMinTiltDirectionDeg = -135.0, kMaxTiltDirectionDeg = 45.0;

// The sweep, for calibration; depth in world units for the 8 x 6 board at
// the default f. The board visits the nine parts of the picture twice, each
// time at another tilt, direction and turn: first whole (the detector finds
// it beside every corner of the picture), then reaching into the picture's
// corners, partly out. Each direction is chosen so that the board's place
// off the middle does not add to its slant towards the camera.
constexpr PathKey kSweep[] = {
    {0.0, {-45, 15, 15.0, 0.0, 0.0, 0}, false},
    {0.4, {-45, 40, 16.0, -0.42, -0.38, 20}, false},
    {0.8, {0, 50, 16.0, 0.0, -0.45, -15}, false},
    {1.2, {30, 35, 16.0, 0.42, -0.38, 25}, false},
    {1.6, {40, 45, 16.0, 0.45, 0.0, -20}, false},
    {2.0, {45, 30, 16.0, 0.42, 0.38, 10}, false},
    {2.4, {-120, 50, 16.0, 0.0, 0.45, 30}, false},
    {2.8, {-130, 45, 16.0, -0.42, 0.38, -25}, false},
    {3.2, {-90, 55, 16.0, -0.45, 0.0, 15}, false},
    {3.6, {-10, 25, 14.0, 0.0, 0.0, -30}, false},
    {4.0, {-100, 55, 16.0, -0.6, 0.55, 0}, false},
    {4.4, {-135, 35, 15.0, 0.0, 0.6, -20}, false},
    {4.8, {45, 40, 16.0, 0.6, 0.55, 20}, false},
    {5.2, {20, 55, 16.0, 0.6, 0.0, 30}, false},
    {5.6, {10, 45, 15.0, 0.6, -0.55, -10}, false},
    {6.0, {-60, 30, 16.0, 0.0, -0.6, 25}, false},
    {6.4, {-30, 55, 16.0, -0.6, -0.55, -30}, false},
    {6.8, {-60, 20, 15.0, -0.6, 0.0, 10}, false},
    {7.2, {-20, 45, 16.0, 0.0, 0.0, -15}, false},
    {7.6, {-60, 30, 15.0, 0.0, 0.0, 0}, true},
};
constexpr double kSweepMinTiltDeg = 15.0, kSweepMaxTiltDeg = 55.0;
constexpr int kSweepBoardColumns = 8, kSweepBoardRows = 6;  // the board the depths are for

// On the desk, hand-held and swing paths the depth value is a factor, at
// least 1, on the nearest depth at which the board's outline still fits.

// The desk. Keys 3 and 4 hold still (frames 90 to 135), keys 5 and 6 pan
// the board's middle from left to right at constant speed (frames 165 to
// 255); across stays within +-0.17 and down within +-0.07, the places the
// depth allows for, so that the board keeps its size while it pans.
constexpr PathKey kDesk[] = {
    {0.0, {-45, 15, 1.08, 0.0, 0.0, 0}, false},
    {1.2, {-15, 24, 1.04, 0.08, -0.04, 8}, false},
    {2.2, {-90, 12, 1.12, -0.06, 0.04, -6}, false},
    {3.0, {-60, 28, 1.05, 0.02, 0.02, 4}, true},
    {4.5, {-60, 28, 1.05, 0.02, 0.02, 4}, true},
    {5.5, {-10, 20, 1.04, -0.15, 0.0, 0}, false, true},
    {8.5, {-10, 20, 1.04, 0.15, 0.0, 0}, false},
    {9.6, {-110, 36, 1.08, 0.05, -0.04, -10}, false},
    {10.8, {-40, 44, 1.12, -0.05, 0.04, 12}, false},
    {12.0, {20, 30, 1.05, 0.0, 0.0, 0}, true},
};
constexpr double kDeskMinTiltDeg = 10.0, kDeskMaxTiltDeg = 45.0;
constexpr double kDeskPlaceRange[2] = {0.17, 0.07};  // across, down
// The middle half, a little inside, in half-widths and half-heights.
constexpr double kDeskBox[2] = {0.5 * 0.96, 0.5 * 0.96};

// The swing. Straight keys start, stop and turn at once; keys 6 and 7 hold
// still for a second. The key times are only a first guess: each move's
// time is set when the path is planned so that the board's inner corners
// move at most kSwingMoveSpeed of it per frame in the picture (in pixels at
// 640 x 480, in proportion to the width), through the video's own lens; the
// fastest moves cross the picture sideways.
constexpr PathKey kSwing[] = {
    {0.0, {-45, 20, 1.05, 0.0, 0.0, 0}, true},
    {0.5, {-45, 20, 1.05, 0.0, 0.0, 0}, true, true},
    {0.84, {-45, 20, 1.05, -0.4, 0.08, 0}, false, true},
    {1.2, {-45, 24, 1.05, 0.3, -0.15, 8}, true},
    {1.6, {-30, 36, 1.1, 0.3, -0.2, 25}, false},
    {2.0, {-95, 30, 1.05, -0.1, 0.2, -20}, false},
    {2.4, {-60, 25, 1.0, 0.0, 0.0, 0}, true},
    {3.4, {-60, 25, 1.0, 0.0, 0.0, 0}, true, true},
    {3.75, {-60, 25, 1.0, 0.36, 0.3, 0}, false, true},
    {4.12, {-60, 25, 1.0, -0.4, 0.3, 0}, true},
    {4.6, {20, 40, 1.1, -0.2, -0.3, -25}, false},
    {5.2, {-120, 35, 1.05, 0.3, 0.1, 20}, false},
    {6.0, {-45, 20, 1.05, 0.0, 0.0, 0}, true},
};
// Per move, from key i to i + 1: the corners' peak speed, pixels per frame
// at 640 x 480; 0 keeps the move's time (the rests).
constexpr double kSwingMoveSpeed[] = {0, 18, 23, 16, 18, 15, 0, 18, 23, 18, 18, 15};
static_assert(std::size(kSwingMoveSpeed) == std::size(kSwing) - 1, "one speed per move");
constexpr int kSwingTimings = 3;      // retimings: a move's shape depends a little on its neighbours' times
constexpr int kSpeedSamples = 24;     // cameras per move at which the corners' speed is measured
constexpr double kSwingMinTiltDeg = 10.0, kSwingMaxTiltDeg = 50.0;
constexpr double kSwingPlaceRange[2] = {0.45, 0.35};
constexpr double kSwingBox[2] = {0.96, 0.96};

// The hand-held path, drawn from its seed.
constexpr double kHandheldSeconds = 10.0;
constexpr double kHandheldMinKeyGap = 0.7, kHandheldMaxKeyGap = 1.2;  // seconds
constexpr double kHandheldMinTiltDeg = 10.0, kHandheldMaxTiltDeg = 50.0;
constexpr double kHandheldMaxTurnDeg = 30.0;
constexpr double kHandheldPlaceRange[2] = {0.5, 0.45};   // across, down
constexpr double kHandheldDepthFactor[2] = {1.0, 1.5};
// The largest change of each value from one key to the next: a hand moves
// the board a little at a time.
constexpr double kHandheldKeyStep[kPathValues] = {60.0, 20.0, 0.25, 0.35, 0.3, 20.0};
constexpr double kHandheldBox[2] = {0.92, 0.92};         // leaves room for the shake
constexpr PathKey kHandheldStart = {0.0, {-45, 25, 1.2, 0.0, 0.0, 0}, false};  // the first key's neighbourhood
constexpr int kHandheldFirstRestKey = 3, kHandheldRestKeyChoices = 3;
constexpr double kHandheldRestSeconds = 1.0;
constexpr double kShakeRampSeconds = 0.25;  // the shake fades out before the rest and back after it
constexpr int kShakeWavesPerAxis = 2;
constexpr double kShakeMinHz = 4.0, kShakeMaxHz = 10.0;
constexpr double kShakeMinAmplitudeDeg = 0.1, kShakeMaxAmplitudeDeg = 0.2;  // per wave; two per axis
constexpr double kShakeRollFactor = 0.5;  // about the optical axis

// The depth search.
constexpr int kOutlineStepsPerEdge = 8;
constexpr int kOutlinePoints = 4 * kOutlineStepsPerEdge;
constexpr double kFarthestDepth = 1e4;     // world units
constexpr double kNearestDepth = 0.05;     // world units
constexpr int kDepthBisections = 48;
constexpr double kSmoothMaxPower = 100.0;  // a p-norm a little above the largest (at most 5 %), but smooth
constexpr double kDepthGuardStep = 1.01;
constexpr int kDepthGuardSteps = 200;
constexpr double kNominalDepth = 25.0;     // world units, for the roll corrections
constexpr int kRollCorrections = 4;

// ---------------------------------------------------------------- vectors

Vec3 operator-(Vec3 a, Vec3 b) { return {a.x - b.x, a.y - b.y, a.z - b.z}; }
Vec3 operator+(Vec3 a, Vec3 b) { return {a.x + b.x, a.y + b.y, a.z + b.z}; }
Vec3 operator*(double s, Vec3 a) { return {s * a.x, s * a.y, s * a.z}; }
double dot(Vec3 a, Vec3 b) { return a.x * b.x + a.y * b.y + a.z * b.z; }
Vec3 cross(Vec3 a, Vec3 b) {
    return {a.y * b.z - a.z * b.y, a.z * b.x - a.x * b.z, a.x * b.y - a.y * b.x};
}
Vec3 normalised(Vec3 a) { return (1.0 / std::sqrt(dot(a, a))) * a; }
double radians(double degrees) { return degrees * kPi / 180.0; }

// ---------------------------------------------------------------- keys

double chordSlope(const PathKey* keys, int i, int v) {
    return (keys[i + 1].value[v] - keys[i].value[v]) / (keys[i + 1].time - keys[i].time);
}

// Slope of value v at key i, per second, for a cubic Hermite spline through
// the keys: Catmull-Rom, zero at rest keys and at both ends, a straight
// neighbour's own slope beside it.
double keySlope(const PathKey* keys, int count, int i, int v) {
    if (keys[i].rest || i == 0 || i == count - 1) return 0.0;
    if (keys[i].straight) return chordSlope(keys, i, v);
    if (keys[i - 1].straight) return chordSlope(keys, i - 1, v);
    return (keys[i + 1].value[v] - keys[i - 1].value[v]) / (keys[i + 1].time - keys[i - 1].time);
}

// The six path values at time t (seconds); past the last key the camera rests.
void pathValuesAt(const PathKey* keys, int count, double t, double* values) {
    int i = 0;
    while (i < count - 2 && t >= keys[i + 1].time) ++i;
    double span = keys[i + 1].time - keys[i].time;
    double s = std::clamp((t - keys[i].time) / span, 0.0, 1.0);
    if (keys[i].straight) {
        for (int v = 0; v < kPathValues; ++v)
            values[v] = keys[i].value[v] + s * (keys[i + 1].value[v] - keys[i].value[v]);
        return;
    }
    // Hermite basis, with h00 = 1 - h01 folded in so that a segment between
    // two equal rest keys gives exactly the key's values (a still camera).
    double h01 = -2 * s * s * s + 3 * s * s, h10 = s * s * s - 2 * s * s + s, h11 = s * s * s - s * s;
    for (int v = 0; v < kPathValues; ++v) {
        double from = keys[i].value[v], to = keys[i + 1].value[v];
        values[v] = from + h01 * (to - from) +
                    span * (h10 * keySlope(keys, count, i, v) + h11 * keySlope(keys, count, i + 1, v));
    }
}

// ---------------------------------------------------------------- cameras

// R's rows are the camera's axes in world coordinates; T = -R C.
void setAxes(Camera* c, const Vec3* rows) {
    for (int r = 0; r < 3; ++r) {
        c->R[3 * r] = rows[r].x;
        c->R[3 * r + 1] = rows[r].y;
        c->R[3 * r + 2] = rows[r].z;
        c->T[r] = -dot(rows[r], c->centre);
    }
}

void setCentre(Camera* c) {
    c->centre = {-(c->R[0] * c->T[0] + c->R[3] * c->T[1] + c->R[6] * c->T[2]),
                 -(c->R[1] * c->T[0] + c->R[4] * c->T[1] + c->R[7] * c->T[2]),
                 -(c->R[2] * c->T[0] + c->R[5] * c->T[1] + c->R[8] * c->T[2])};
}

// Camera axes in world coordinates: z towards the target, y (image down)
// along world +Z (into the table) seen from the camera, x = y cross z; then
// the roll about z.
Camera sampleCameraAt(const CameraPath& p, double seconds) {
    double v[kPathValues];
    pathValuesAt(p.keys.data(), (int)p.keys.size(), seconds, v);
    double azimuth = radians(v[0]), tilt = radians(v[1]), roll = radians(v[5]);
    Vec3 target = {v[3], v[4], 0.0};
    Vec3 offset = {std::sin(tilt) * std::cos(azimuth), std::sin(tilt) * std::sin(azimuth),
                   -std::cos(tilt)};
    Camera c;
    c.f = p.lens.fx;
    c.centre = target + v[2] * offset;
    Vec3 z = normalised(target - c.centre);
    Vec3 y0 = normalised(Vec3{0, 0, 1} - z.z * z);
    Vec3 x0 = cross(y0, z);
    Vec3 x = std::cos(roll) * x0 + std::sin(roll) * y0;
    Vec3 y = -std::sin(roll) * x0 + std::cos(roll) * y0;
    const Vec3 rows[3] = {x, y, z};
    setAxes(&c, rows);
    return c;
}

Vec3 boardMiddle(BoardSize b) { return {(b.columns - 1) / 2.0, (b.rows - 1) / 2.0, 0.0}; }

// R = Rz(roll) Ru(tilt): the frontal camera (R = I: the board's x to the
// right, its y down, the first row at the top) tilted about the axis
// u = (cos d, sin d, 0) of its picture, then rolled about its own axis; so
// acos(R33) is the tilt. T puts the board's middle G at the chosen place:
// R G + T = depth (across', down', 1). Angles in radians.
Camera placedCamera(const CameraPath& p, double direction, double tilt, double roll, double depth, double across,
                    double down) {
    double ux = std::cos(direction), uy = std::sin(direction), ct = std::cos(tilt), st = std::sin(tilt);
    const double Ru[9] = {ct + ux * ux * (1 - ct), ux * uy * (1 - ct), uy * st,
                          ux * uy * (1 - ct),      ct + uy * uy * (1 - ct), -ux * st,
                          -uy * st,                ux * st,                 ct};
    const double cr = std::cos(roll), sr = std::sin(roll);
    const double Rz[9] = {cr, -sr, 0, sr, cr, 0, 0, 0, 1};
    const double f = p.lens.fx;
    Camera c;
    c.f = f;
    for (int r = 0; r < 3; ++r)
        for (int k = 0; k < 3; ++k)
            c.R[3 * r + k] = Rz[3 * r] * Ru[k] + Rz[3 * r + 1] * Ru[3 + k] + Rz[3 * r + 2] * Ru[6 + k];
    const double place[3] = {across * (p.lens.width / 2.0) / f * depth, down * (p.lens.height / 2.0) / f * depth,
                             depth};
    const Vec3 middle = boardMiddle(p.board);
    const double G[3] = {middle.x, middle.y, 0.0};
    for (int r = 0; r < 3; ++r) c.T[r] = place[r] - (c.R[3 * r] * G[0] + c.R[3 * r + 1] * G[1] + c.R[3 * r + 2] * G[2]);
    setCentre(&c);
    return c;
}

// The sweep's depth value scaled to the board and the focal length.
double sweepDepth(const CameraPath& p, double value) {
    const BoardSize& b = p.board;
    double boardScale = std::max((b.columns - 1.0) / (kSweepBoardColumns - 1), (b.rows - 1.0) / (kSweepBoardRows - 1));
    return value * boardScale * p.lens.fx / defaultFocalLength(p.lens.width, p.lens.height);
}

// The camera roll (radians) that turns the board by turnDeg in the picture:
// rolling the camera turns the picture by nearly as much, so a few
// corrections reach it.
double rollForTurn(const CameraPath& p, double direction, double tilt, double depth, double turnDeg, double across,
                   double down) {
    double roll = radians(turnDeg);
    Camera c = placedCamera(p, direction, tilt, roll, depth, across, down);
    for (int i = 0; i < kRollCorrections; ++i) {
        roll += radians(turnDeg - boardRollDeg(c, p.board));
        c = placedCamera(p, direction, tilt, roll, depth, across, down);
    }
    return roll;
}

// The sweep's camera at a moment; the key's last value is the board's turn.
Camera sweepCameraAt(const CameraPath& p, double seconds) {
    double v[kPathValues];
    pathValuesAt(p.keys.data(), (int)p.keys.size(), seconds, v);
    double direction = radians(v[0]), tilt = radians(std::clamp(v[1], kSweepMinTiltDeg, kSweepMaxTiltDeg));
    double depth = sweepDepth(p, v[2]);
    double roll = rollForTurn(p, direction, tilt, depth, v[5], v[3], v[4]);
    return placedCamera(p, direction, tilt, roll, depth, v[3], v[4]);
}

// ---------------------------------------------------------------- depth

// A box of the distorted picture about its middle, pixels.
struct PictureBox {
    double middleU, middleV, halfWidth, halfHeight;
};

PictureBox pictureBox(const CameraModel& lens, const double* halfSize) {
    return {(lens.width - 1) / 2.0, (lens.height - 1) / 2.0, halfSize[0] * lens.width / 2.0,
            halfSize[1] * lens.height / 2.0};
}

// Whether the camera-frame point p lands inside the box through the lens.
bool insideBox(const CameraModel& lens, const PictureBox& box, Vec3 p) {
    if (p.z < kNearestDepth) return false;
    double xd, yd;
    distortNormalised(lens, p.x / p.z, p.y / p.z, &xd, &yd);
    double u = lens.fx * xd + lens.cx, v = lens.fy * yd + lens.cy;
    return std::fabs(u - box.middleU) <= box.halfWidth && std::fabs(v - box.middleV) <= box.halfHeight;
}

// Points along the outline of the board's squares, relative to its middle.
void outlineFromMiddle(BoardSize b, Vec3* points) {
    const double halfX = (b.columns + 1) / 2.0, halfY = (b.rows + 1) / 2.0;
    const double corners[5][2] = {{-halfX, -halfY}, {halfX, -halfY}, {halfX, halfY}, {-halfX, halfY}, {-halfX, -halfY}};
    for (int edge = 0; edge < 4; ++edge)
        for (int i = 0; i < kOutlineStepsPerEdge; ++i) {
            double s = (double)i / kOutlineStepsPerEdge;
            points[edge * kOutlineStepsPerEdge + i] = {
                corners[edge][0] + s * (corners[edge + 1][0] - corners[edge][0]),
                corners[edge][1] + s * (corners[edge + 1][1] - corners[edge][1]), 0.0};
        }
}

// The board point q (camera axes, from the board's middle) with the middle
// at depth along the normalised place direction (x, y, 1).
Vec3 atDepth(Vec3 q, const double* place, double depth) {
    return {q.x + depth * place[0], q.y + depth * place[1], q.z + depth};
}

// Smallest depth at which q lands inside the box: the point moves towards
// the middle's place along a line as the depth grows, so one crossing.
double depthToFit(const CameraModel& lens, const PictureBox& box, Vec3 q, const double* place) {
    if (!insideBox(lens, box, atDepth(q, place, kFarthestDepth))) return kFarthestDepth;
    double low = 0.0, high = kFarthestDepth;
    if (insideBox(lens, box, atDepth(q, place, low))) return low;
    for (int i = 0; i < kDepthBisections; ++i) {
        double middle = 0.5 * (low + high);
        (insideBox(lens, box, atDepth(q, place, middle)) ? high : low) = middle;
    }
    return high;
}

// The normalised direction (x, y) of the board's middle at place (across, down).
void placeDirection(const CameraModel& lens, double across, double down, double* place) {
    place[0] = across * (lens.width / 2.0) / lens.fx;
    place[1] = down * (lens.height / 2.0) / lens.fx;
}

bool outlineFits(const CameraModel& lens, const PictureBox& box, const Vec3* q, const double* place, double depth) {
    for (int i = 0; i < kOutlinePoints; ++i)
        if (!insideBox(lens, box, atDepth(q[i], place, depth))) return false;
    return true;
}

// How a board-centred path picks its depth and limits its angles.
struct DepthRule {
    const double* box;         // the outline's box, in half-widths and half-heights
    const double* placeRange;  // the places allowed for, +-across and +-down; null: the board's own place
    double minTiltDeg, maxTiltDeg;
};

// The depth of the board's middle for camera axes R at place (across, down):
// factor times a smooth maximum of each outline point's depth to fit (at
// the corners of the rule's places, or at the place itself), then pushed
// out a little further if the outline still does not fit at the place.
double boardDepth(const CameraPath& p, const DepthRule& rule, const double* R, double factor, double across,
                  double down) {
    Vec3 outline[kOutlinePoints], q[kOutlinePoints];
    outlineFromMiddle(p.board, outline);
    for (int i = 0; i < kOutlinePoints; ++i) {
        const Vec3& o = outline[i];
        q[i] = {R[0] * o.x + R[1] * o.y, R[3] * o.x + R[4] * o.y, R[6] * o.x + R[7] * o.y};
    }
    const PictureBox box = pictureBox(p.lens, rule.box);
    double places[4][2];
    int placeCount = 0;
    if (rule.placeRange) {
        for (double sx : {-1.0, 1.0})
            for (double sy : {-1.0, 1.0})
                placeDirection(p.lens, sx * rule.placeRange[0], sy * rule.placeRange[1], places[placeCount++]);
    } else {
        placeDirection(p.lens, across, down, places[placeCount++]);
    }
    double largest = 0.0, sum = 0.0, depths[4 * kOutlinePoints];
    int n = 0;
    for (int k = 0; k < placeCount; ++k)
        for (int i = 0; i < kOutlinePoints; ++i) {
            depths[n] = depthToFit(p.lens, box, q[i], places[k]);
            largest = std::max(largest, depths[n++]);
        }
    largest = std::max(largest, kNearestDepth);
    for (int i = 0; i < n; ++i) sum += std::pow(depths[i] / largest, kSmoothMaxPower);
    double depth = std::max(factor, 1.0) * largest * std::pow(sum, 1.0 / kSmoothMaxPower);
    double place[2];
    placeDirection(p.lens, across, down, place);
    for (int i = 0; i < kDepthGuardSteps && !outlineFits(p.lens, box, q, place, depth); ++i) depth *= kDepthGuardStep;
    return depth;
}

const DepthRule& depthRuleOf(CameraPathKind kind) {
    static const DepthRule desk = {kDeskBox, kDeskPlaceRange, kDeskMinTiltDeg, kDeskMaxTiltDeg};
    static const DepthRule handheld = {kHandheldBox, nullptr, kHandheldMinTiltDeg, kHandheldMaxTiltDeg};
    static const DepthRule swing = {kSwingBox, kSwingPlaceRange, kSwingMinTiltDeg, kSwingMaxTiltDeg};
    return kind == kDeskPath ? desk : kind == kHandheldPath ? handheld : swing;
}

Camera boardCentredCamera(const CameraPath& p, const double* v) {
    const DepthRule& rule = depthRuleOf(p.kind);
    double direction = radians(std::clamp(v[0], kMinTiltDirectionDeg, kMaxTiltDirectionDeg));
    double tilt = radians(std::clamp(v[1], rule.minTiltDeg, rule.maxTiltDeg));
    double roll = rollForTurn(p, direction, tilt, kNominalDepth, v[5], v[3], v[4]);
    Camera axes = placedCamera(p, direction, tilt, roll, kNominalDepth, v[3], v[4]);
    double depth = boardDepth(p, rule, axes.R, v[2], v[3], v[4]);
    return placedCamera(p, direction, tilt, roll, depth, v[3], v[4]);
}

// ---------------------------------------------------------------- the swing's timing

// Pixel of world point P through the camera and the lens; false behind it.
bool pixelThroughLens(const CameraModel& lens, const Camera& c, Vec3 P, double* u, double* v) {
    Vec3 q = {c.R[0] * P.x + c.R[1] * P.y + c.R[2] * P.z + c.T[0], c.R[3] * P.x + c.R[4] * P.y + c.R[5] * P.z + c.T[1],
              c.R[6] * P.x + c.R[7] * P.y + c.R[8] * P.z + c.T[2]};
    if (q.z < kNearestDepth) return false;
    double xd, yd;
    distortNormalised(lens, q.x / q.z, q.y / q.z, &xd, &yd);
    *u = lens.fx * xd + lens.cx, *v = lens.fy * yd + lens.cy;
    return true;
}

// The fastest any inner corner moves in the picture over the move from key
// i to i + 1, pixels per second.
double movePeakSpeed(const CameraPath& p, int i) {
    const int corners = p.board.columns * p.board.rows;
    std::vector<double> last(2 * corners), now(2 * corners);
    const double start = p.keys[i].time, span = p.keys[i + 1].time - start, step = span / kSpeedSamples;
    double fastest = 0.0;
    for (int k = 0; k <= kSpeedSamples; ++k) {
        Camera c = cameraOnPath(p, start + k * step);
        for (int n = 0; n < corners; ++n) {
            Vec3 corner = {(double)(n % p.board.columns), (double)(n / p.board.columns), 0.0};
            if (!pixelThroughLens(p.lens, c, corner, &now[2 * n], &now[2 * n + 1])) now[2 * n] = NAN;
            if (k > 0 && !std::isnan(now[2 * n]) && !std::isnan(last[2 * n]))
                fastest = std::max(fastest,
                                   std::hypot(now[2 * n] - last[2 * n], now[2 * n + 1] - last[2 * n + 1]) / step);
        }
        std::swap(last, now);
    }
    return fastest;
}

// Sets each timed move's length from its peak speed: the path through the
// values stays, so the speed goes as one over the move's time.
void timeSwing(CameraPath* p) {
    const int moves = (int)p->keys.size() - 1;
    const double pixelsPerFrame = p->lens.width / 640.0;
    for (int round = 0; round < kSwingTimings; ++round) {
        std::vector<double> spans(moves);
        for (int i = 0; i < moves; ++i) {
            spans[i] = p->keys[i + 1].time - p->keys[i].time;
            double target = kSwingMoveSpeed[i] * pixelsPerFrame * kVideoFramesPerSecond;
            double peak = target > 0 ? movePeakSpeed(*p, i) : 0.0;
            if (peak > 0) spans[i] *= peak / target;
        }
        for (int i = 0; i < moves; ++i) p->keys[i + 1].time = p->keys[i].time + spans[i];
    }
}

// ---------------------------------------------------------------- the hand-held path

// splitmix64: the same numbers from a seed on every system.
uint64_t nextRandom(uint64_t* state) {
    uint64_t z = (*state += 0x9E3779B97F4A7C15ull);
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
    return z ^ (z >> 31);
}

double uniform(uint64_t* state, double low, double high) {
    return low + (high - low) * (double)(nextRandom(state) >> 11) * (1.0 / 9007199254740992.0);
}

// A key a random step from the last, within the path's ranges.
PathKey randomKey(uint64_t* state, double time, const PathKey& last) {
    const double low[kPathValues] = {kMinTiltDirectionDeg, kHandheldMinTiltDeg, kHandheldDepthFactor[0],
                                     -kHandheldPlaceRange[0], -kHandheldPlaceRange[1], -kHandheldMaxTurnDeg};
    const double high[kPathValues] = {kMaxTiltDirectionDeg, kHandheldMaxTiltDeg, kHandheldDepthFactor[1],
                                      kHandheldPlaceRange[0], kHandheldPlaceRange[1], kHandheldMaxTurnDeg};
    PathKey key{time, {}, false};
    for (int v = 0; v < kPathValues; ++v) {
        double from = std::max(low[v], last.value[v] - kHandheldKeyStep[v]);
        double to = std::min(high[v], last.value[v] + kHandheldKeyStep[v]);
        key.value[v] = uniform(state, from, to);
    }
    return key;
}

// Keys every 0.7 to 1.2 s past the path's end, one pair of them a second
// apart and equal: the rest.
void planHandheld(CameraPath* p, uint32_t seed) {
    uint64_t state = 0x6A09E667F3BCC908ull ^ seed;
    int restKey = kHandheldFirstRestKey + (int)(nextRandom(&state) % kHandheldRestKeyChoices);
    double time = 0.0;
    while (time < kHandheldSeconds + kHandheldMaxKeyGap) {
        int index = (int)p->keys.size();
        if (index == restKey + 1) {
            PathKey rest = p->keys.back();
            rest.time = time;
            p->keys.push_back(rest);
            p->stillFrom = p->keys[index - 1].time, p->stillUntil = time;
        } else {
            p->keys.push_back(randomKey(&state, time, index == 0 ? kHandheldStart : p->keys.back()));
        }
        p->keys.back().rest = index == restKey || index == restKey + 1;
        time += index == restKey ? kHandheldRestSeconds : uniform(&state, kHandheldMinKeyGap, kHandheldMaxKeyGap);
    }
    for (int axis = 0; axis < 3; ++axis)
        for (int i = 0; i < kShakeWavesPerAxis; ++i) {
            double amplitude = radians(uniform(&state, kShakeMinAmplitudeDeg, kShakeMaxAmplitudeDeg));
            if (axis == 2) amplitude *= kShakeRollFactor;
            double frequency = uniform(&state, kShakeMinHz, kShakeMaxHz), phase = uniform(&state, 0.0, 2 * kPi);
            p->shake.push_back({axis, amplitude, frequency, phase});
        }
}

// 1 away from the rest, 0 during it, smoothly between.
double shakeWeight(const CameraPath& p, double seconds) {
    double away = std::max(p.stillFrom - seconds, seconds - p.stillUntil);
    double s = std::clamp(away / kShakeRampSeconds, 0.0, 1.0);
    return s * s * (3 - 2 * s);
}

// Turns the camera about its own centre: R' = S R, T' = S T, with S the
// small rotations about its x, y and z axes in that order.
void shakeCamera(Camera* c, const double* angle) {
    const double ca = std::cos(angle[0]), sa = std::sin(angle[0]), cb = std::cos(angle[1]), sb = std::sin(angle[1]);
    const double cc = std::cos(angle[2]), sc = std::sin(angle[2]);
    const double Rx[9] = {1, 0, 0, 0, ca, -sa, 0, sa, ca};
    const double Ry[9] = {cb, 0, sb, 0, 1, 0, -sb, 0, cb};
    const double Rz[9] = {cc, -sc, 0, sc, cc, 0, 0, 0, 1};
    double S[9], RxRy[9], R[9], T[3];
    for (int r = 0; r < 3; ++r)
        for (int k = 0; k < 3; ++k)
            RxRy[3 * r + k] = Rx[3 * r] * Ry[k] + Rx[3 * r + 1] * Ry[3 + k] + Rx[3 * r + 2] * Ry[6 + k];
    for (int r = 0; r < 3; ++r)
        for (int k = 0; k < 3; ++k)
            S[3 * r + k] = RxRy[3 * r] * Rz[k] + RxRy[3 * r + 1] * Rz[3 + k] + RxRy[3 * r + 2] * Rz[6 + k];
    for (int r = 0; r < 3; ++r) {
        for (int k = 0; k < 3; ++k)
            R[3 * r + k] = S[3 * r] * c->R[k] + S[3 * r + 1] * c->R[3 + k] + S[3 * r + 2] * c->R[6 + k];
        T[r] = S[3 * r] * c->T[0] + S[3 * r + 1] * c->T[1] + S[3 * r + 2] * c->T[2];
    }
    std::copy(R, R + 9, c->R);
    std::copy(T, T + 3, c->T);
    setCentre(c);
}

Camera handheldCameraAt(const CameraPath& p, double seconds) {
    double v[kPathValues];
    pathValuesAt(p.keys.data(), (int)p.keys.size(), seconds, v);
    Camera c = boardCentredCamera(p, v);
    double weight = shakeWeight(p, seconds);
    if (weight == 0.0) return c;
    double angle[3] = {0, 0, 0};
    for (const ShakeWave& w : p.shake)
        angle[w.axis] += weight * w.amplitude * std::sin(2 * kPi * w.frequency * seconds + w.phase);
    shakeCamera(&c, angle);
    return c;
}

}  // namespace

bool cameraPathFromName(const std::string& name, CameraPathKind* kind) {
    const std::pair<const char*, CameraPathKind> names[] = {
        {"sample", kSamplePath}, {"sweep", kSweepPath}, {"desk", kDeskPath}, {"handheld", kHandheldPath},
        {"swing", kSwingPath}};
    for (const auto& entry : names)
        if (name == entry.first) return *kind = entry.second, true;
    return false;
}

int defaultPathFrames(CameraPathKind kind) {
    switch (kind) {
    case kSweepPath: return kSweepFrames;
    case kDeskPath: return kDeskFrames;
    case kHandheldPath: return kHandheldFrames;
    case kSwingPath: return kSwingFrames;
    default: return kSampleFrames;
    }
}

double defaultFocalLength(int width, int height) {
    return kFocalAt640x480 * std::min(width / 640.0, height / 480.0);
}

CameraPath planCameraPath(CameraPathKind kind, const CameraModel& lens, BoardSize board, uint32_t seed) {
    CameraPath p;
    p.kind = kind, p.lens = lens, p.board = board;
    p.stillFrom = p.stillUntil = -1.0;
    auto take = [&p](const PathKey* keys, int count) { p.keys.assign(keys, keys + count); };
    switch (kind) {
    case kSweepPath: take(kSweep, (int)std::size(kSweep)); break;
    case kDeskPath: take(kDesk, (int)std::size(kDesk)); break;
    case kSwingPath: take(kSwing, (int)std::size(kSwing)), timeSwing(&p); break;
    case kHandheldPath: planHandheld(&p, seed); break;
    default: take(kSample, (int)std::size(kSample)); break;
    }
    return p;
}

Camera cameraOnPath(const CameraPath& p, double seconds) {
    if (p.kind == kSamplePath) return sampleCameraAt(p, seconds);
    if (p.kind == kSweepPath) return sweepCameraAt(p, seconds);
    if (p.kind == kHandheldPath) return handheldCameraAt(p, seconds);
    double v[kPathValues];
    pathValuesAt(p.keys.data(), (int)p.keys.size(), seconds, v);
    return boardCentredCamera(p, v);
}

double boardRollDeg(const Camera& c, BoardSize board) {
    const Vec3 middle = boardMiddle(board);
    double x0, y0, x1, y1;
    tsaiProject(middle.x, middle.y - 0.5, 0.0, &x0, &y0, c.f, c.T, c.R);
    tsaiProject(middle.x, middle.y + 0.5, 0.0, &x1, &y1, c.f, c.T, c.R);
    return std::atan2(-(x1 - x0), y1 - y0) * 180.0 / kPi;
}
