// make_board_video.cpp - renders the sample video of the board and the two
// buildings, with the true camera of every frame.
//
// The scene: the 8 x 6 inner-corner board (9 x 7 unit squares, corner k at
// world (k mod 8, k div 8, 0), a white paper margin) lying on a wooden table
// (the plane Z = 0), the two buildings as solid coloured boxes with the exact
// corner tables of predio1 and predio2, and, in a few frames, a card held
// over the board. A pinhole camera (no distortion, square pixels, fixed f,
// principal point at pixel (width/2, height/2) with integer halving) moves
// around and above the board on the side Z < 0, holds still for one second,
// and passes where the first building hides the ship's start-up place.
// Every pixel is the mean of n x n samples placed symmetrically about its
// centre (integer pixel coordinates are pixel centres, as for the corner
// detector); a sample shows the nearest box face or card covering it, else
// the table where its ray meets Z = 0. Then a little Gaussian sensor noise.
//
// Output: an MJPG AVI (FFMPEG writer, 30 fps) and a CSV with one row per
// frame: frame,f,r1..r9,tx,ty,tz,board_covered, in the calibration's
// conventions (Pc = R.P + T, image x = f.xc/zc from the picture centre).
// Both are written under temporary names and renamed at the end.
// Limits: even sizes only (the FFMPEG writer rounds odd ones down); the path
// lasts 300 frames, longer clips hold its last pose; f is 600 px at
// 640 x 480 and scales with the smaller of width/640 and height/480.
//
// Usage:
//     make_board_video                                   # board.avi, board_truth.csv
//     make_board_video --frames 40 --samples 2 --video /tmp/clip.avi
#include <opencv2/core.hpp>
#include <opencv2/videoio.hpp>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>
#include <unistd.h>
#include <vector>

#include "tsai.h"

namespace {

constexpr double kPi = 3.14159265358979323846;
constexpr const char* kProgram = "make_board_video";

// Video.
constexpr double kFramesPerSecond = 30.0;
constexpr int kDefaultFrames = 300;
constexpr int kMaxFrames = 100000;
constexpr int kDefaultWidth = 640, kDefaultHeight = 480;  // pixels
constexpr int kMinSize = 32, kMaxSize = 4096;             // pixels, each side
constexpr double kFocalAt640x480 = 600.0;                 // pixels
constexpr int kDefaultSamples = 3;                        // per pixel and axis
constexpr int kMaxSamples = 8;
constexpr float kNoiseSigma = 1.8f;  // grey levels, per channel
constexpr int kRenderThreads = 2;

// Board, world units (one square).
constexpr int kCornerColumns = 8, kCornerRows = 6;
constexpr double kSquaresMinX = -1.0, kSquaresMaxX = 8.0;
constexpr double kSquaresMinY = -1.0, kSquaresMaxY = 6.0;
constexpr double kPaperMargin = 0.7;
constexpr double kBoardCentreX = 3.5, kBoardCentreY = 2.5;  // middle of the inner corners

// The buildings in the board frame (x, y, z) = world (X, -Z, Y): x along the
// rows, y the height above the board, z across the rows. Faces as the viewer
// draws them; the bottom face (0, 3, 7, 4) lies on the table.
constexpr double kPredio1[8][3] = {{2.0, 0.0, 8.2},  {2.0, 6.0, 8.2},  {2.0, 6.0, 12.4},
                                   {2.0, 0.0, 12.4}, {7.2, 0.0, 8.2},  {7.2, 6.0, 8.2},
                                   {7.0, 6.0, 12.4}, {7.0, 0.0, 12.4}};
constexpr double kPredio2[8][3] = {{11.0, 0.0, 1.0}, {11.0, 4.0, 1.0}, {11.0, 4.0, 5.0},
                                   {11.0, 0.0, 5.0}, {15.4, 0.0, 1.4}, {15.2, 4.0, 1.3},
                                   {15.3, 4.0, 5.4}, {15.4, 0.0, 5.4}};
constexpr int kFaces = 5;
constexpr int kFaceCorners[kFaces][4] = {{0, 1, 2, 3}, {0, 1, 5, 4}, {4, 5, 6, 7},
                                         {3, 2, 6, 7}, {1, 2, 6, 5}};

// The ship's start-up place: board point (16.6, 6.82) at height 1.2.
constexpr double kShipPlace[3] = {16.6, 6.82, -1.2};

// Light: directions towards the lights, world frame (up is -Z). The key light
// comes from the side of the board's origin, so the buildings' shadows fall
// away from the board.
constexpr double kKeyLight[3] = {-0.45, -0.55, -1.0};
constexpr double kFillLight[3] = {0.8, -0.2, -0.6};
constexpr float kAmbient = 0.42f, kKeyStrength = 0.55f, kFillStrength = 0.22f;
constexpr float kShadowFactor = 0.55f;
constexpr double kLampFalloffDistance = 18.0;  // world units from the board centre
constexpr double kTableFadeStart = 22.0, kTableFadeLength = 30.0;

// Table texture: one tile of wood, repeated.
constexpr int kTextureSize = 512;           // texels, power of two
constexpr double kTexelsPerUnit = 48.0;     // texels per world unit
constexpr int kNoiseLattice = 16;           // lattice cells per tile and axis

// Card held over the board in the covered frames, at a height above it.
constexpr int kCardFirstFrame = 96, kCardFrames = 10;
constexpr double kCardHeight = 2.5;                   // world units above the board
constexpr double kCardHalfSize[2] = {1.9, 1.35};      // world units
constexpr double kCardCentre[2] = {3.4, 2.6};         // board point under its centre
constexpr double kCardDriftPerFrame[2] = {0.04, -0.02};
constexpr double kCardTurnDeg = 18.0;

struct Vec3 {
    double x, y, z;
};

struct Colour {  // BGR, 0..255
    float b, g, r;
};

constexpr Colour kBlackSquare = {32, 32, 34};
constexpr Colour kWhiteSquare = {214, 224, 228};
constexpr Colour kPaper = kWhiteSquare;
constexpr Colour kWoodDark = {48, 78, 118};
constexpr Colour kWoodLight = {92, 136, 178};
constexpr Colour kPredio1Colour = {48, 52, 196};
constexpr Colour kPredio2Colour = {196, 112, 40};
constexpr Colour kCardColour = {118, 160, 205};

struct Options {
    std::string videoPath = "board.avi";
    std::string truthPath;  // empty: derived from videoPath
    int frames = kDefaultFrames;
    int width = kDefaultWidth, height = kDefaultHeight;
    int samples = kDefaultSamples;
    unsigned seed = 1;
    bool report = false;
};

// The true camera of one frame, and its optical centre in world coordinates.
struct Camera {
    double f;
    double R[9];
    double T[3];
    Vec3 centre;
};

// One key of the camera path. The camera looks at a point of the table from
// a direction given by the azimuth (about the board normal, from world +X
// towards +Y) and the tilt from the normal; roll turns it about its axis.
struct PathKey {
    double time;  // seconds
    double azimuthDeg, tiltDeg, distance, targetX, targetY, rollDeg;
    bool rest;  // the camera stops at this key
};

constexpr int kPathValues = 6;

// Time, azimuth, tilt, distance, target X and Y, roll, rest. Keys 2 and 3
// hold the camera still for one second; around keys 7 and 8 predio1 stands
// between the camera and the ship's place. The buildings leave few places
// to see the whole board from: steep views only from above the board, tilted
// ones only from the two diagonals between the buildings, where the camera's
// roll keeps the board's first row at the top.
constexpr PathKey kPath[] = {
    {0.0, 95, 21, 24.0, 7.0, 4.0, 0, false},
    {1.0, 75, 22, 24.0, 7.0, 4.0, 8, false},
    {1.3, 70, 22, 24.0, 7.0, 4.0, 10, true},
    {2.3, 70, 22, 24.0, 7.0, 4.0, 10, true},
    {3.0, 105, 22, 23.0, 6.0, 4.0, -12, false},
    {3.5, 130, 26, 22.0, 6.0, 4.0, -28, false},
    {4.0, 145, 40, 21.0, 5.0, 3.5, -32, false},
    {4.5, 152, 52, 21.0, 5.0, 3.0, -35, false},
    {5.0, 154, 56, 22.0, 6.0, 3.0, -37, false},
    {5.5, 145, 40, 21.0, 5.5, 3.5, -32, false},
    {6.0, 130, 28, 22.0, 6.0, 4.0, -25, false},
    {6.8, 100, 21, 25.0, 7.0, 4.5, -5, false},
    {7.5, 65, 21, 24.0, 7.0, 4.0, 12, false},
    {8.2, 40, 32, 23.0, 6.0, 4.0, 25, false},
    {9.0, 30, 40, 22.0, 6.5, 4.0, 30, false},
    {9.5, 45, 30, 23.0, 7.0, 4.0, 22, false},
    {10.0, 70, 22, 24.0, 7.0, 4.0, 10, true},
};
constexpr int kPathKeys = sizeof(kPath) / sizeof(kPath[0]);

// ---------------------------------------------------------------- vectors

Vec3 operator+(Vec3 a, Vec3 b) { return {a.x + b.x, a.y + b.y, a.z + b.z}; }
Vec3 operator-(Vec3 a, Vec3 b) { return {a.x - b.x, a.y - b.y, a.z - b.z}; }
Vec3 operator*(double s, Vec3 a) { return {s * a.x, s * a.y, s * a.z}; }
double dot(Vec3 a, Vec3 b) { return a.x * b.x + a.y * b.y + a.z * b.z; }
Vec3 cross(Vec3 a, Vec3 b) {
    return {a.y * b.z - a.z * b.y, a.z * b.x - a.x * b.z, a.x * b.y - a.y * b.x};
}
Vec3 normalised(Vec3 a) { return (1.0 / std::sqrt(dot(a, a))) * a; }
double radians(double degrees) { return degrees * kPi / 180.0; }

// Board frame (x, y, z) to world (X, Y, Z) = (x, z, -y).
Vec3 worldFromBoardFrame(const double* p) { return {p[0], p[2], -p[1]}; }

Colour scaled(Colour c, float s) { return {c.b * s, c.g * s, c.r * s}; }
Colour mixed(Colour a, Colour b, float t) {
    return {a.b + (b.b - a.b) * t, a.g + (b.g - a.g) * t, a.r + (b.r - a.r) * t};
}

// ---------------------------------------------------------------- camera path

// Value v of a key: azimuth, tilt, distance, target X, target Y, roll.
double keyValue(const PathKey& k, int v) {
    const double values[kPathValues] = {k.azimuthDeg, k.tiltDeg,  k.distance,
                                        k.targetX,    k.targetY, k.rollDeg};
    return values[v];
}

// Slope of value v at key i, per second, for a cubic Hermite spline through
// the keys: Catmull-Rom, zero at rest keys and at both ends.
double keySlope(int i, int v) {
    if (kPath[i].rest || i == 0 || i == kPathKeys - 1) return 0.0;
    return (keyValue(kPath[i + 1], v) - keyValue(kPath[i - 1], v)) /
           (kPath[i + 1].time - kPath[i - 1].time);
}

// The six path values at time t (seconds); past the last key the camera rests.
void pathValuesAt(double t, double* values) {
    int i = 0;
    while (i < kPathKeys - 2 && t >= kPath[i + 1].time) ++i;
    double span = kPath[i + 1].time - kPath[i].time;
    double s = std::clamp((t - kPath[i].time) / span, 0.0, 1.0);
    // Hermite basis, with h00 = 1 - h01 folded in so that a segment between
    // two equal rest keys gives exactly the key's values (a still camera).
    double h01 = -2 * s * s * s + 3 * s * s, h10 = s * s * s - 2 * s * s + s, h11 = s * s * s - s * s;
    for (int v = 0; v < kPathValues; ++v) {
        double from = keyValue(kPath[i], v), to = keyValue(kPath[i + 1], v);
        values[v] = from + h01 * (to - from) + span * (h10 * keySlope(i, v) + h11 * keySlope(i + 1, v));
    }
}

double focalLength(int width, int height) {
    return kFocalAt640x480 * std::min(width / 640.0, height / 480.0);
}

// Camera axes in world coordinates: z towards the target, y (image down)
// along world +Z (into the table) seen from the camera, x = y cross z; then
// the roll about z.
Camera cameraAt(int frame, double f) {
    double v[kPathValues];
    pathValuesAt(frame / kFramesPerSecond, v);
    double azimuth = radians(v[0]), tilt = radians(v[1]), roll = radians(v[5]);
    Vec3 target = {v[3], v[4], 0.0};
    Vec3 offset = {std::sin(tilt) * std::cos(azimuth), std::sin(tilt) * std::sin(azimuth),
                   -std::cos(tilt)};
    Camera c;
    c.f = f;
    c.centre = target + v[2] * offset;
    Vec3 z = normalised(target - c.centre);
    Vec3 y0 = normalised(Vec3{0, 0, 1} - z.z * z);
    Vec3 x0 = cross(y0, z);
    Vec3 x = std::cos(roll) * x0 + std::sin(roll) * y0;
    Vec3 y = -std::sin(roll) * x0 + std::cos(roll) * y0;
    const Vec3 rows[3] = {x, y, z};
    for (int r = 0; r < 3; ++r) {
        c.R[3 * r] = rows[r].x;
        c.R[3 * r + 1] = rows[r].y;
        c.R[3 * r + 2] = rows[r].z;
        c.T[r] = -dot(rows[r], c.centre);
    }
    return c;
}

Vec3 cameraFrame(const Camera& c, Vec3 p) {
    return {c.R[0] * p.x + c.R[1] * p.y + c.R[2] * p.z + c.T[0],
            c.R[3] * p.x + c.R[4] * p.y + c.R[5] * p.z + c.T[1],
            c.R[6] * p.x + c.R[7] * p.y + c.R[8] * p.z + c.T[2]};
}

// ---------------------------------------------------------------- scene

// A world triangle with a flat colour.
struct Triangle {
    Vec3 a, b, c;
    Colour colour;
};

// Scene triangles: the two buildings (five faces of two triangles each, fans
// from the face's first corner) and the card.
constexpr int kBuildingTriangles = 2 * 2 * kFaces;
constexpr int kMaxTriangles = kBuildingTriangles + 2;

// Flat shading of a face with outward normal n under the key and fill lights.
float faceShade(Vec3 n) {
    float key = (float)std::max(0.0, dot(n, normalised(Vec3{kKeyLight[0], kKeyLight[1], kKeyLight[2]})));
    float fill = (float)std::max(0.0, dot(n, normalised(Vec3{kFillLight[0], kFillLight[1], kFillLight[2]})));
    return std::min(1.0f, kAmbient + kKeyStrength * key + kFillStrength * fill);
}

// Appends the five faces of one building to triangles, returns the new count.
int addBuilding(const double (*corners)[3], Colour colour, Triangle* triangles, int count) {
    Vec3 p[8], middle = {0, 0, 0};
    for (int i = 0; i < 8; ++i) {
        p[i] = worldFromBoardFrame(corners[i]);
        middle = middle + 0.125 * p[i];
    }
    for (const int* q : kFaceCorners) {
        Vec3 n = normalised(cross(p[q[2]] - p[q[0]], p[q[3]] - p[q[1]]));
        Vec3 faceMiddle = 0.25 * (p[q[0]] + p[q[1]] + p[q[2]] + p[q[3]]);
        if (dot(n, faceMiddle - middle) < 0) n = -1.0 * n;
        Colour shaded = scaled(colour, faceShade(n));
        triangles[count++] = {p[q[0]], p[q[1]], p[q[2]], shaded};
        triangles[count++] = {p[q[0]], p[q[2]], p[q[3]], shaded};
    }
    return count;
}

int addBuildings(Triangle* triangles) {
    int count = addBuilding(kPredio1, kPredio1Colour, triangles, 0);
    return addBuilding(kPredio2, kPredio2Colour, triangles, count);
}

bool cardPresent(int frame) {
    return frame >= kCardFirstFrame && frame < kCardFirstFrame + kCardFrames;
}

// The card's four corners: a rectangle parallel to the board, drifting.
void cardCorners(int frame, Vec3* corners) {
    double k = frame - kCardFirstFrame, turn = radians(kCardTurnDeg);
    double cx = kCardCentre[0] + k * kCardDriftPerFrame[0];
    double cy = kCardCentre[1] + k * kCardDriftPerFrame[1];
    const double signs[4][2] = {{-1, -1}, {1, -1}, {1, 1}, {-1, 1}};
    for (int i = 0; i < 4; ++i) {
        double u = signs[i][0] * kCardHalfSize[0], v = signs[i][1] * kCardHalfSize[1];
        corners[i] = {cx + u * std::cos(turn) - v * std::sin(turn),
                      cy + u * std::sin(turn) + v * std::cos(turn), -kCardHeight};
    }
}

int addCard(int frame, Triangle* triangles, int count) {
    if (!cardPresent(frame)) return count;
    Vec3 q[4];
    cardCorners(frame, q);
    triangles[count++] = {q[0], q[1], q[2], kCardColour};
    triangles[count++] = {q[0], q[2], q[3], kCardColour};
    return count;
}

// Whether the segment from -> to crosses the triangle (Moller-Trumbore, open
// segment).
bool segmentHitsTriangle(Vec3 from, Vec3 to, const Triangle& t) {
    const double kParallel = 1e-12;
    Vec3 d = to - from, e1 = t.b - t.a, e2 = t.c - t.a;
    Vec3 p = cross(d, e2);
    double det = dot(e1, p);
    if (std::fabs(det) < kParallel) return false;
    Vec3 s = from - t.a;
    double u = dot(s, p) / det;
    if (u < 0 || u > 1) return false;
    Vec3 q = cross(s, e1);
    double v = dot(d, q) / det;
    if (v < 0 || u + v > 1) return false;
    double along = dot(e2, q) / det;
    return along > 1e-9 && along < 1 - 1e-9;
}

bool segmentBlocked(Vec3 from, Vec3 to, const Triangle* triangles, int count) {
    for (int i = 0; i < count; ++i)
        if (segmentHitsTriangle(from, to, triangles[i])) return true;
    return false;
}

// ---------------------------------------------------------------- surroundings

// A shadow on the table: a convex polygon, counter-clockwise in world X, Y.
struct Shadow {
    double x[8], y[8];
    int n;
    double minX, maxX, minY, maxY;
};

// What does not change from frame to frame: the table's texture and the
// buildings' shadows.
struct Surroundings {
    std::vector<Colour> wood;  // kTextureSize x kTextureSize, row by row
    Colour woodMean;
    Shadow shadows[2];
};

// Tileable value noise: smooth interpolation of a random lattice of
// cells x cells values that wraps around the tile; u, v in tile units.
float latticeNoise(const std::vector<float>& lattice, int cells, double u, double v) {
    double gu = u * cells, gv = v * cells;
    int iu = (int)std::floor(gu), iv = (int)std::floor(gv);
    double fu = gu - iu, fv = gv - iv;
    fu = fu * fu * (3 - 2 * fu);
    fv = fv * fv * (3 - 2 * fv);
    auto at = [&](int i, int j) {
        return lattice[((j % cells + cells) % cells) * cells + (i % cells + cells) % cells];
    };
    double top = at(iu, iv) + (at(iu + 1, iv) - at(iu, iv)) * fu;
    double bottom = at(iu, iv + 1) + (at(iu + 1, iv + 1) - at(iu, iv + 1)) * fu;
    return (float)(top + (bottom - top) * fv);
}

// Wood: grain lines along world X bent by a coarse noise, with fine fibres.
void makeWood(Surroundings& s) {
    std::vector<float> coarse(kNoiseLattice * kNoiseLattice), fine(16 * kNoiseLattice * kNoiseLattice);
    cv::RNG rng(0x5eed);
    for (float& value : coarse) value = rng.uniform(0.0f, 1.0f);
    for (float& value : fine) value = rng.uniform(0.0f, 1.0f);
    s.wood.resize(kTextureSize * kTextureSize);
    double sum[3] = {0, 0, 0};
    for (int j = 0; j < kTextureSize; ++j)
        for (int i = 0; i < kTextureSize; ++i) {
            double u = (i + 0.5) / kTextureSize, v = (j + 0.5) / kTextureSize;
            double bend = latticeNoise(coarse, kNoiseLattice / 4, u, v) +
                          0.12 * latticeNoise(coarse, kNoiseLattice, u, v);
            double grain = 0.5 + 0.5 * std::sin(2 * kPi * (12 * v + 1.5 * bend));
            double fibre = latticeNoise(fine, 4 * kNoiseLattice, u, 4 * v);
            Colour c = mixed(kWoodDark, kWoodLight, (float)(0.35 + 0.4 * grain * grain + 0.25 * fibre - 0.12));
            s.wood[j * kTextureSize + i] = c;
            sum[0] += c.b, sum[1] += c.g, sum[2] += c.r;
        }
    double texels = (double)kTextureSize * kTextureSize;
    s.woodMean = {(float)(sum[0] / texels), (float)(sum[1] / texels), (float)(sum[2] / texels)};
}

double turn(double ax, double ay, double bx, double by, double cx, double cy) {
    return (bx - ax) * (cy - ay) - (by - ay) * (cx - ax);
}

// Convex hull (Andrew's monotone chain), counter-clockwise, of the
// building's corners pushed along the key light onto the table.
Shadow shadowOf(const double (*corners)[3]) {
    Vec3 light = {kKeyLight[0], kKeyLight[1], kKeyLight[2]};
    std::vector<std::pair<double, double>> p;
    for (int i = 0; i < 8; ++i) {
        Vec3 w = worldFromBoardFrame(corners[i]);
        Vec3 onTable = w - (w.z / light.z) * light;
        p.push_back({onTable.x, onTable.y});
    }
    std::sort(p.begin(), p.end());
    const int n = (int)p.size();
    std::pair<double, double> hull[2 * 8];
    int k = 0;
    auto addToChain = [&](int lowest, const std::pair<double, double>& q) {
        while (k >= lowest && turn(hull[k - 2].first, hull[k - 2].second, hull[k - 1].first,
                                   hull[k - 1].second, q.first, q.second) <= 0)
            --k;
        hull[k++] = q;
    };
    for (int i = 0; i < n; ++i) addToChain(2, p[i]);  // lower chain
    for (int i = n - 2, lowest = k + 1; i >= 0; --i) addToChain(lowest, p[i]);  // upper chain
    Shadow s;
    s.n = k - 1;  // the first point closes the chain
    for (int i = 0; i < s.n; ++i) s.x[i] = hull[i].first, s.y[i] = hull[i].second;
    s.minX = *std::min_element(s.x, s.x + s.n), s.maxX = *std::max_element(s.x, s.x + s.n);
    s.minY = *std::min_element(s.y, s.y + s.n), s.maxY = *std::max_element(s.y, s.y + s.n);
    return s;
}

Surroundings makeSurroundings() {
    Surroundings s;
    makeWood(s);
    s.shadows[0] = shadowOf(kPredio1);
    s.shadows[1] = shadowOf(kPredio2);
    return s;
}

bool inShadow(const Surroundings& s, double X, double Y) {
    for (const Shadow& shadow : s.shadows) {
        if (X < shadow.minX || X > shadow.maxX || Y < shadow.minY || Y > shadow.maxY) continue;
        bool inside = true;
        for (int i = 0; i < shadow.n && inside; ++i) {
            int j = (i + 1) % shadow.n;
            inside = turn(shadow.x[i], shadow.y[i], shadow.x[j], shadow.y[j], X, Y) >= 0;
        }
        if (inside) return true;
    }
    return false;
}

// ---------------------------------------------------------------- shading

// The printed board: black squares where floor(X) + floor(Y) is even (the
// four corner squares are black), white paper around.
bool boardColour(double X, double Y, Colour* colour) {
    if (X < kSquaresMinX - kPaperMargin || X > kSquaresMaxX + kPaperMargin ||
        Y < kSquaresMinY - kPaperMargin || Y > kSquaresMaxY + kPaperMargin)
        return false;
    bool onSquares = X >= kSquaresMinX && X < kSquaresMaxX && Y >= kSquaresMinY && Y < kSquaresMaxY;
    if (!onSquares) {
        *colour = kPaper;
        return true;
    }
    long parity = (long)std::floor(X) + (long)std::floor(Y);
    *colour = (parity % 2 == 0) ? kBlackSquare : kWhiteSquare;
    return true;
}

// The table fades into its mean colour with distance, where its grain would
// only alias.
Colour tableColour(const Surroundings& s, double X, double Y, double distance) {
    float fade = (float)std::clamp((distance - kTableFadeStart) / kTableFadeLength, 0.0, 1.0);
    if (fade >= 1.0f) return s.woodMean;
    int u = (int)std::floor(X * kTexelsPerUnit) & (kTextureSize - 1);
    int v = (int)std::floor(Y * kTexelsPerUnit) & (kTextureSize - 1);
    return mixed(s.wood[v * kTextureSize + u], s.woodMean, fade);
}

// Colour of the table plane at world (X, Y, 0), lit by a lamp over the board.
Colour planeColour(const Surroundings& s, double X, double Y) {
    double distance = std::sqrt((X - kBoardCentreX) * (X - kBoardCentreX) + (Y - kBoardCentreY) * (Y - kBoardCentreY));
    Colour c;
    if (!boardColour(X, Y, &c)) c = tableColour(s, X, Y, distance);
    double r = distance / kLampFalloffDistance;
    float light = (float)(0.72 + 0.28 / (1 + r * r));
    if (inShadow(s, X, Y)) light *= kShadowFactor;
    return scaled(c, light);
}

// ---------------------------------------------------------------- one frame

// A scene triangle in image coordinates (pixels from the principal point):
// (x, y) is inside where edge[k][0].x + edge[k][1].y + edge[k][2] >= 0 for
// all three edges; the inverse depth is affine in the image,
// 1/zc = inverseDepth[0].x + inverseDepth[1].y + inverseDepth[2].
struct ScreenTriangle {
    double edge[3][3];
    double inverseDepth[3];
    double minX, maxX, minY, maxY;
    Colour colour;
};

struct FrameView {
    Camera camera;
    int width, height, samples;
    ScreenTriangle triangles[kMaxTriangles];
    int triangleCount;
};

constexpr double kNearestDepth = 0.05;  // world units; nearer triangles are dropped

// Sets up t from the world triangle w; false when a corner lies (nearly)
// behind the camera or the triangle is seen edge-on.
bool toScreen(const Camera& c, const Triangle& w, ScreenTriangle* t) {
    const Vec3 corners[3] = {cameraFrame(c, w.a), cameraFrame(c, w.b), cameraFrame(c, w.c)};
    double x[3], y[3], inverseZ[3];
    for (int i = 0; i < 3; ++i) {
        if (corners[i].z < kNearestDepth) return false;
        inverseZ[i] = 1.0 / corners[i].z;
        x[i] = c.f * corners[i].x * inverseZ[i];
        y[i] = c.f * corners[i].y * inverseZ[i];
    }
    double area = (x[1] - x[0]) * (y[2] - y[0]) - (y[1] - y[0]) * (x[2] - x[0]);
    if (std::fabs(area) < 1e-12) return false;
    double sign = area > 0 ? 1.0 : -1.0;
    for (int k = 0; k < 3; ++k) t->inverseDepth[k] = 0.0;
    // Edge k runs from corner k+1 to corner k+2; it is the barycentric weight
    // of corner k times the doubled area.
    for (int k = 0; k < 3; ++k) {
        int i = (k + 1) % 3, j = (k + 2) % 3;
        double a = -(y[j] - y[i]), b = x[j] - x[i], cst = (y[j] - y[i]) * x[i] - (x[j] - x[i]) * y[i];
        t->edge[k][0] = sign * a, t->edge[k][1] = sign * b, t->edge[k][2] = sign * cst;
        t->inverseDepth[0] += inverseZ[k] * a / area;
        t->inverseDepth[1] += inverseZ[k] * b / area;
        t->inverseDepth[2] += inverseZ[k] * cst / area;
    }
    t->minX = std::min({x[0], x[1], x[2]}), t->maxX = std::max({x[0], x[1], x[2]});
    t->minY = std::min({y[0], y[1], y[2]}), t->maxY = std::max({y[0], y[1], y[2]});
    t->colour = w.colour;
    return true;
}

// The scene's world triangles in one frame: buildings, then the card.
int sceneTriangles(int frame, Triangle* triangles) {
    return addCard(frame, triangles, addBuildings(triangles));
}

void setUpFrame(int frame, const Options& o, FrameView* view) {
    view->camera = cameraAt(frame, focalLength(o.width, o.height));
    view->width = o.width, view->height = o.height, view->samples = o.samples;
    Triangle world[kMaxTriangles];
    int count = sceneTriangles(frame, world);
    view->triangleCount = 0;
    for (int i = 0; i < count; ++i)
        if (toScreen(view->camera, world[i], &view->triangles[view->triangleCount]))
            ++view->triangleCount;
}

// Colour seen at image point (x, y): the nearest triangle among the row's
// candidates, else the table plane. Every triangle lies between the camera
// and the table, so any triangle hit is nearer than the plane.
Colour sampleColour(const FrameView& view, const Surroundings& s, const int* candidates,
                    int candidateCount, double x, double y) {
    const ScreenTriangle* nearest = nullptr;
    double nearestInverseDepth = 0.0;
    for (int n = 0; n < candidateCount; ++n) {
        const ScreenTriangle& t = view.triangles[candidates[n]];
        if (x < t.minX || x > t.maxX) continue;
        bool inside = true;
        for (int k = 0; k < 3 && inside; ++k) inside = t.edge[k][0] * x + t.edge[k][1] * y + t.edge[k][2] >= 0;
        if (!inside) continue;
        double w = t.inverseDepth[0] * x + t.inverseDepth[1] * y + t.inverseDepth[2];
        if (w > nearestInverseDepth) nearest = &t, nearestInverseDepth = w;
    }
    if (nearest) return nearest->colour;
    const Camera& c = view.camera;
    // World direction of the ray: R^T (x, y, f).
    double dz = c.R[2] * x + c.R[5] * y + c.R[8] * c.f;
    if (dz <= 0) return s.woodMean;  // above the horizon
    double along = -c.centre.z / dz;
    double X = c.centre.x + along * (c.R[0] * x + c.R[3] * y + c.R[6] * c.f);
    double Y = c.centre.y + along * (c.R[1] * x + c.R[4] * y + c.R[7] * c.f);
    return planeColour(s, X, Y);
}

// One pixel row: the mean of samples x samples points placed symmetrically
// about each pixel centre. Pixel (column, row) is image point
// (column - width/2, row - height/2), integer halves.
void renderRow(const FrameView& view, const Surroundings& s, int row, float* out) {
    const int n = view.samples;
    const double centreX = view.width / 2, centreY = view.height / 2;
    double offsets[kMaxSamples];
    for (int i = 0; i < n; ++i) offsets[i] = (i + 0.5) / n - 0.5;
    double yLow = row - centreY - 0.5, yHigh = row - centreY + 0.5;
    int candidates[kMaxTriangles], candidateCount = 0;
    for (int i = 0; i < view.triangleCount; ++i)
        if (view.triangles[i].minY <= yHigh && view.triangles[i].maxY >= yLow) candidates[candidateCount++] = i;
    const float weight = 1.0f / (n * n);
    for (int column = 0; column < view.width; ++column) {
        float sum[3] = {0, 0, 0};
        for (int j = 0; j < n; ++j)
            for (int i = 0; i < n; ++i) {
                Colour c = sampleColour(view, s, candidates, candidateCount,
                                        column - centreX + offsets[i], row - centreY + offsets[j]);
                sum[0] += c.b, sum[1] += c.g, sum[2] += c.r;
            }
        for (int k = 0; k < 3; ++k) out[3 * column + k] = sum[k] * weight;
    }
}

void renderRows(const FrameView* view, const Surroundings* s, int firstRow, int step, cv::Mat* image) {
    for (int row = firstRow; row < view->height; row += step)
        renderRow(*view, *s, row, image->ptr<float>(row));
}

// Renders the frame into image (CV_32FC3) on kRenderThreads threads,
// interleaving rows so that the buildings' cost is shared.
void renderFrame(const FrameView& view, const Surroundings& s, cv::Mat& image) {
    std::vector<std::thread> helpers;
    for (int t = 1; t < kRenderThreads; ++t)
        helpers.emplace_back(renderRows, &view, &s, t, kRenderThreads, &image);
    renderRows(&view, &s, 0, kRenderThreads, &image);
    for (std::thread& helper : helpers) helper.join();
}

// Gaussian sensor noise, reproducible from the seed and the frame number.
void addSensorNoise(unsigned seed, int frame, cv::Mat& image, cv::Mat& noise) {
    cv::RNG rng(((uint64_t)seed << 32) ^ (uint64_t)(frame + 1) * 0x9E3779B97F4A7C15ull);
    rng.fill(noise, cv::RNG::NORMAL, 0.0, kNoiseSigma);
    image += noise;
}

// ---------------------------------------------------------------- ground truth

Vec3 boardCorner(int k) { return {(double)(k % kCornerColumns), (double)(k / kCornerColumns), 0.0}; }

// Number of the board's inner corners that the card hides from the camera.
int cornersUnderCard(int frame, const Camera& c) {
    Triangle card[2];
    int count = addCard(frame, card, 0);
    int hidden = 0;
    for (int k = 0; k < kCornerColumns * kCornerRows; ++k)
        if (segmentBlocked(c.centre, boardCorner(k), card, count)) ++hidden;
    return hidden;
}

bool writeTruthHeader(FILE* file) {
    return std::fprintf(file, "frame,f,r1,r2,r3,r4,r5,r6,r7,r8,r9,tx,ty,tz,board_covered\n") > 0;
}

bool writeTruthRow(FILE* file, int frame, const Camera& c, bool covered) {
    bool ok = std::fprintf(file, "%d,%.17g", frame, c.f) > 0;
    for (double r : c.R) ok = ok && std::fprintf(file, ",%.17g", r) > 0;
    for (double t : c.T) ok = ok && std::fprintf(file, ",%.17g", t) > 0;
    return ok && std::fprintf(file, ",%d\n", covered ? 1 : 0) > 0;
}

// ---------------------------------------------------------------- path report

// Image point of world point p (pixels from the principal point), through
// the calibration module's own projection.
void project(const Camera& c, Vec3 p, double* x, double* y) { tsaiProject(p.x, p.y, p.z, x, y, c.f, c.T, c.R); }

// Whether p is in front of the camera and inside the picture; margin is its
// distance in pixels from the picture's border.
bool insidePicture(const Camera& c, const Options& o, Vec3 p, double* margin) {
    if (cameraFrame(c, p).z <= 0) return false;
    double x, y;
    project(c, p, &x, &y);
    double column = x + o.width / 2, row = y + o.height / 2;
    *margin = std::min({column + 0.5, o.width - 0.5 - column, row + 0.5, o.height - 0.5 - row});
    return *margin > 0;
}

// Angle in degrees between the picture's downward axis and the board's +Y
// direction at its centre: 0 when the board's first row is at the top.
double boardRollDeg(const Camera& c) {
    double x0, y0, x1, y1;
    project(c, {kBoardCentreX, kBoardCentreY - 0.5, 0.0}, &x0, &y0);
    project(c, {kBoardCentreX, kBoardCentreY + 0.5, 0.0}, &x1, &y1);
    return std::atan2(-(x1 - x0), y1 - y0) * 180.0 / kPi;
}

// Smallest gap between neighbouring inner corners in the picture, pixels.
double smallestSquarePx(const Camera& c) {
    double smallest = 1e30;
    for (int k = 0; k < kCornerColumns * kCornerRows; ++k)
        for (int step : {1, kCornerColumns}) {
            int next = k + step;
            if (next >= kCornerColumns * kCornerRows || (step == 1 && next % kCornerColumns == 0)) continue;
            double x0, y0, x1, y1;
            project(c, boardCorner(k), &x0, &y0);
            project(c, boardCorner(next), &x1, &y1);
            smallest = std::min(smallest, std::hypot(x1 - x0, y1 - y0));
        }
    return smallest;
}

// Margin in pixels between the board's paper and the picture's border
// (negative: cut off).
double paperMarginPx(const Camera& c, const Options& o) {
    double smallest = 1e30, margin;
    for (double X : {kSquaresMinX - kPaperMargin, kSquaresMaxX + kPaperMargin})
        for (double Y : {kSquaresMinY - kPaperMargin, kSquaresMaxY + kPaperMargin})
            smallest = std::min(smallest, insidePicture(c, o, {X, Y, 0}, &margin) ? margin : -1.0);
    return smallest;
}

// Points of the board, every half square over the squares and a strip of
// the margin, that the buildings hide from the camera.
int boardPointsBehindBuildings(const Camera& c, const Triangle* buildings) {
    const double kStep = 0.5, kStrip = 0.3;
    int hidden = 0;
    for (double X = kSquaresMinX - kStrip; X <= kSquaresMaxX + kStrip + 1e-9; X += kStep)
        for (double Y = kSquaresMinY - kStrip; Y <= kSquaresMaxY + kStrip + 1e-9; Y += kStep)
            hidden += segmentBlocked(c.centre, {X, Y, 0.0}, buildings, kBuildingTriangles);
    return hidden;
}

const char* shipPlaceState(const Camera& c, const Options& o, const Triangle* buildings) {
    Vec3 ship = {kShipPlace[0], kShipPlace[1], kShipPlace[2]};
    double margin;
    if (!insidePicture(c, o, ship, &margin)) return "out";
    return segmentBlocked(c.centre, ship, buildings, kBuildingTriangles) ? "hidden" : "seen";
}

int buildingCornersInPicture(const Camera& c, const Options& o) {
    int inside = 0;
    double margin;
    for (const double(*corners)[3] : {kPredio1, kPredio2})
        for (int i = 0; i < 8; ++i) inside += insidePicture(c, o, worldFromBoardFrame(corners[i]), &margin);
    return inside;
}

// One line per frame: the camera's tilt from the board normal, its distance
// from the board centre, the board's roll, paper margin and smallest square,
// the board points hidden by the buildings, the inner corners under the card,
// the buildings' corners in the picture, and whether the ship's place is out
// of the picture, hidden by a building or seen.
void printPathReport(const Options& o) {
    Triangle buildings[kBuildingTriangles];
    addBuildings(buildings);
    std::printf("frame tilt distance roll paper_margin_px square_px board_points_behind_buildings under_card "
                "building_corners_in_picture ship_place\n");
    for (int frame = 0; frame < o.frames; ++frame) {
        Camera c = cameraAt(frame, focalLength(o.width, o.height));
        Vec3 fromCentre = c.centre - Vec3{kBoardCentreX, kBoardCentreY, 0.0};
        std::printf("%d %.1f %.1f %.1f %.0f %.1f %d %d %d %s\n", frame,
                    std::acos(c.R[8]) * 180.0 / kPi, std::sqrt(dot(fromCentre, fromCentre)),
                    boardRollDeg(c), paperMarginPx(c, o), smallestSquarePx(c),
                    boardPointsBehindBuildings(c, buildings), cornersUnderCard(frame, c),
                    buildingCornersInPicture(c, o), shipPlaceState(c, o, buildings));
    }
}

// ---------------------------------------------------------------- command line

void printUsage() {
    std::printf(
        "Usage: %s [options]\n"
        "Renders the sample video: the 8 x 6 inner-corner board on a table, the two\n"
        "buildings, a moving camera; writes an MJPG AVI and a CSV of the true camera\n"
        "of every frame (frame,f,r1..r9,tx,ty,tz,board_covered; Pc = R.P + T, image\n"
        "coordinates in pixels from pixel (width/2, height/2)).\n"
        "\n"
        "  -o, --video PATH output video, ending in .avi (default board.avi)\n"
        "  --truth PATH     output CSV (default: the video's name with .avi\n"
        "                   replaced by _truth.csv)\n"
        "  --frames N       number of frames, 1 to %d (default %d = 10 s at 30 fps;\n"
        "                   the path is the same, past its end the camera rests)\n"
        "  --width W        picture width, even, %d to %d (default %d)\n"
        "  --height H       picture height, even, %d to %d (default %d)\n"
        "  --samples N      anti-aliasing: N x N samples per pixel, 1 to %d (default %d)\n"
        "  --seed S         seed of the sensor noise (default 1)\n"
        "  --report         print the camera path's figures per frame instead of rendering\n"
        "  -h, --help       this text\n",
        kProgram, kMaxFrames, kDefaultFrames, kMinSize, kMaxSize, kDefaultWidth, kMinSize, kMaxSize,
        kDefaultHeight, kMaxSamples, kDefaultSamples);
}

// Whole-string decimal integer in [low, high].
bool parseInteger(const char* text, long low, long high, long* value) {
    if (!text || !*text) return false;
    char* end = nullptr;
    errno = 0;
    long v = std::strtol(text, &end, 10);
    if (errno != 0 || *end != '\0' || v < low || v > high) return false;
    *value = v;
    return true;
}

bool endsWith(const std::string& s, const std::string& suffix) {
    return s.size() >= suffix.size() && s.compare(s.size() - suffix.size(), suffix.size(), suffix) == 0;
}

bool fail(const std::string& message) {
    std::fprintf(stderr, "%s: %s (see --help)\n", kProgram, message.c_str());
    return false;
}

// Reads one option with an integer value into target.
bool integerOption(const char* name, const char* value, long low, long high, bool even, long* target) {
    if (!value) return fail(std::string(name) + ": missing value");
    if (!parseInteger(value, low, high, target) || (even && *target % 2 != 0))
        return fail(std::string(name) + ": expected " + (even ? "an even number" : "a number") + " from " +
                    std::to_string(low) + " to " + std::to_string(high) + ", got '" + value + "'");
    return true;
}

bool parseOption(const char* name, const char* value, Options* o, bool* usedValue) {
    long v = 0;
    bool ok = true;
    *usedValue = true;
    std::string option = name;
    if (option == "--video" || option == "-o" || option == "--truth") {
        if (!value || !*value) return fail(option + ": missing path");
        (option == "--truth" ? o->truthPath : o->videoPath) = value;
    } else if (option == "--frames") {
        if ((ok = integerOption(name, value, 1, kMaxFrames, false, &v))) o->frames = (int)v;
    } else if (option == "--width" || option == "--height") {
        if ((ok = integerOption(name, value, kMinSize, kMaxSize, true, &v)))
            (option == "--width" ? o->width : o->height) = (int)v;
    } else if (option == "--samples") {
        if ((ok = integerOption(name, value, 1, kMaxSamples, false, &v))) o->samples = (int)v;
    } else if (option == "--seed") {
        if ((ok = integerOption(name, value, 0, 4294967295L, false, &v))) o->seed = (unsigned)v;
    } else if (option == "--report") {
        o->report = true, *usedValue = false;
    } else {
        return fail("unknown option '" + option + "'");
    }
    return ok;
}

// Fills o from the command line; false (after a message) on a bad one.
bool parseArguments(int argc, char** argv, Options* o) {
    for (int i = 1; i < argc; ++i) {
        bool usedValue = false;
        if (!parseOption(argv[i], i + 1 < argc ? argv[i + 1] : nullptr, o, &usedValue)) return false;
        if (usedValue) ++i;
    }
    if (!endsWith(o->videoPath, ".avi")) return fail("--video: the name must end in .avi");
    if (o->truthPath.empty())
        o->truthPath = o->videoPath.substr(0, o->videoPath.size() - 4) + "_truth.csv";
    if (o->truthPath == o->videoPath) return fail("--truth: must differ from the video");
    return true;
}

bool wantsHelp(int argc, char** argv) {
    for (int i = 1; i < argc; ++i)
        if (!std::strcmp(argv[i], "-h") || !std::strcmp(argv[i], "--help")) return true;
    return false;
}

// ---------------------------------------------------------------- output

// Temporary names beside the outputs; the video's keeps the .avi ending,
// from which the writer picks the container.
std::string partialName(const std::string& path, const char* ending) {
    return path + ".partial-" + std::to_string((long)getpid()) + ending;
}

struct Outputs {
    std::string videoPartial, truthPartial;
    cv::VideoWriter video;
    FILE* truth = nullptr;
};

bool openOutputs(const Options& o, Outputs* out) {
    out->videoPartial = partialName(o.videoPath, ".avi");
    out->truthPartial = partialName(o.truthPath, ".csv");
    out->truth = std::fopen(out->truthPartial.c_str(), "w");
    if (!out->truth || !writeTruthHeader(out->truth)) {
        std::fprintf(stderr, "%s: %s: cannot write: %s\n", kProgram, o.truthPath.c_str(), std::strerror(errno));
        return false;
    }
    out->video.open(out->videoPartial, cv::CAP_FFMPEG, cv::VideoWriter::fourcc('M', 'J', 'P', 'G'),
                    kFramesPerSecond, cv::Size(o.width, o.height), true);
    if (!out->video.isOpened()) {
        std::fprintf(stderr, "%s: %s: cannot write an MJPG video there\n", kProgram, o.videoPath.c_str());
        return false;
    }
    return true;
}

void discardOutputs(Outputs* out) {
    out->video.release();
    if (out->truth) std::fclose(out->truth);
    out->truth = nullptr;
    std::remove(out->videoPartial.c_str());
    std::remove(out->truthPartial.c_str());
}

// The writer reports no errors (a full disk, for one): read the finished
// file's header back and compare its frame count.
bool videoIsComplete(const std::string& path, int frames) {
    cv::VideoCapture capture(path, cv::CAP_FFMPEG);
    return capture.isOpened() && (int)capture.get(cv::CAP_PROP_FRAME_COUNT) == frames;
}

// Closes both files and gives them their final names.
bool finishOutputs(const Options& o, Outputs* out) {
    out->video.release();
    bool ok = std::fclose(out->truth) == 0;
    out->truth = nullptr;
    if (!ok) std::fprintf(stderr, "%s: %s: write failed\n", kProgram, o.truthPath.c_str());
    if (ok && !videoIsComplete(out->videoPartial, o.frames)) {
        std::fprintf(stderr, "%s: %s: the video was not written completely\n", kProgram, o.videoPath.c_str());
        ok = false;
    }
    for (const auto& names : {std::make_pair(&out->videoPartial, &o.videoPath),
                              std::make_pair(&out->truthPartial, &o.truthPath)})
        if (ok && std::rename(names.first->c_str(), names.second->c_str()) != 0) {
            std::fprintf(stderr, "%s: %s: %s\n", kProgram, names.second->c_str(), std::strerror(errno));
            ok = false;
        }
    if (!ok) discardOutputs(out);
    return ok;
}

// Renders every frame, writes it and its true camera.
bool renderVideo(const Options& o, const Surroundings& s, Outputs* out) {
    cv::Mat image(o.height, o.width, CV_32FC3), noise(o.height, o.width, CV_32FC3), picture;
    FrameView view;
    for (int frame = 0; frame < o.frames; ++frame) {
        setUpFrame(frame, o, &view);
        renderFrame(view, s, image);
        addSensorNoise(o.seed, frame, image, noise);
        image.convertTo(picture, CV_8UC3);
        out->video.write(picture);
        bool covered = cornersUnderCard(frame, view.camera) > 0;
        if (!writeTruthRow(out->truth, frame, view.camera, covered)) {
            std::fprintf(stderr, "%s: %s: write failed\n", kProgram, o.truthPath.c_str());
            return false;
        }
    }
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    constexpr int kBadArguments = 2, kFailed = 1;
    if (wantsHelp(argc, argv)) {
        printUsage();
        return 0;
    }
    Options o;
    if (!parseArguments(argc, argv, &o)) return kBadArguments;
    if (o.report) {
        printPathReport(o);
        return 0;
    }
    Surroundings s = makeSurroundings();
    Outputs out;
    if (!openOutputs(o, &out) || !renderVideo(o, s, &out)) {
        discardOutputs(&out);
        return kFailed;
    }
    if (!finishOutputs(o, &out)) return kFailed;
    std::printf("%s: wrote %s and %s (%d frames, %dx%d, f = %.1f px)\n", kProgram, o.videoPath.c_str(),
                o.truthPath.c_str(), o.frames, o.width, o.height, focalLength(o.width, o.height));
    return 0;
}
