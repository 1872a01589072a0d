// make_board_video.cpp - renders the sample video of the board and the two
// buildings, with the true camera of every frame.
//
// The scene: the board (8 x 6 inner corners by default, W x H with --board:
// (W+1) x (H+1) unit squares, corner k at world (k mod W, k div W, 0), a
// white paper margin) lying on a wooden table (the plane Z = 0), the two
// buildings as solid coloured boxes with the exact corner tables of predio1
// and predio2, and, in a few frames of the sample path, a card held over the
// board. The camera: square pixels, f = 600 px at 640 x 480 scaled with the
// size (--focal), principal point at pixel (width/2, height/2) with integer
// halving (--principal-point), and OpenCV's lens distortion k1 k2 p1 p2 k3 on
// normalised coordinates (--distortion; none by default). The camera's path
// (--path; see board_video_paths.h): sample, around and above the board,
// where the first building hides the ship's start-up place; sweep, for
// calibration; desk, a board before a webcam within the middle half of the
// picture; handheld, drawn from --path-seed; swing, fast moves. A --cut
// moves the path's clock on by 4 s from its frame. Every pixel is the mean
// of n x n samples placed symmetrically about its centre (integer pixel
// coordinates are pixel centres, as for the corner detector); a sample
// shows the nearest box face or card covering it, else the table where its
// ray meets Z = 0. Through a distorting lens a sample at pixel (u, v) looks
// along the ray of the undistorted point of ((u - cx)/f, (v - cy)/f). With
// --exposure the frame is the mean of sub-frames spread evenly over the
// shutter, as many as keep the picture's motion between two of them to
// about 1 px (at most 64: a fast frame costs up to 64 renders). The
// rendered grey levels are sRGB; --illumination and --tint multiply the
// linear light they encode by a gain per channel ramped over the frames
// (clipped at white). Then Gaussian sensor noise (--noise, 1.8 grey levels
// by default).
//
// Output: an MJPG AVI (FFMPEG writer, 30 fps); a CSV with one row per frame:
// frame,f,r1..r9,tx,ty,tz,board_covered,fy,cx,cy,k1,k2,p1,p2,k3 (Pc = R.P + T,
// pixel u = f.xd + cx, v = fy.yd + cy, (xd, yd) the distorted (xc/zc, yc/zc));
// and the same camera as an OpenCV camera file, NAME_camera.yml beside the
// video NAME.avi. All are written under temporary names and renamed at the
// end (--truth-only: the CSV and the camera file alone). Limits: even sizes
// only (the FFMPEG writer rounds odd ones down); each path has its own
// length (300 frames for the sample), longer clips hold the last pose;
// boards up to 10 x 7 (larger ones would reach under a building); a
// lens that folds over inside the picture is refused.
//
// Usage:
//     make_board_video                                   # board.avi, board_truth.csv, board_camera.yml
//     make_board_video --path sweep --distortion -0.3,0.1,0,0,0 --video /tmp/lens.avi
//     make_board_video --path swing --exposure 20 --noise 4 --cut 90 --video /tmp/swing.avi
//     make_board_video --illumination 1:0.5@20-50 --tint 0.8,1,1.25 --video /tmp/dusk.avi
#include <CLI/CLI.hpp>
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

#include "atomic_file.h"
#include "board_video_paths.h"
#include "camera_file.h"
#include "command_line.h"
#include "srgb.h"
#include "tsai.h"

namespace {

constexpr double kPi = 3.14159265358979323846;
constexpr const char* kProgram = "make_board_video";

// Video.
constexpr double kFramesPerSecond = kVideoFramesPerSecond;
constexpr int kMaxFrames = 100000;
constexpr int kDefaultWidth = 640, kDefaultHeight = 480;  // pixels
constexpr int kMinSize = 32, kMaxSize = 4096;             // pixels, each side
constexpr int kDefaultSamples = 3;                        // per pixel and axis
constexpr int kMaxSamples = 8;
constexpr float kNoiseSigma = 1.8f;  // grey levels, per channel
constexpr double kMaxNoiseSigma = 64.0;  // grey levels
constexpr double kFramePeriodMs = 1000.0 / kFramesPerSecond;
constexpr double kCutSeconds = 4.0;  // a cut moves the path's clock on by this much
constexpr int kCutFrames = (int)(kCutSeconds * kFramesPerSecond);
constexpr int kRenderThreads = 2;

// Board, world units (one square): the squares span -1 to W and -1 to H for
// W x H inner corners. The buildings stand at X >= 11 and at Y >= 8.2, so
// the paper ends short of them up to 10 x 7.
constexpr double kPaperMargin = 0.7;
constexpr int kMaxBoardColumns = 10, kMaxBoardRows = 7;

// The lamp over the table, world X and Y: the middle of the 8 x 6 board.
constexpr double kLampX = 3.5, kLampY = 2.5;

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

// The light on the whole scene, a linear gain per channel ramped over the
// frames: gain `from` up to frame `first`, `to` from frame `last` on, linear
// between; the tint (B, G, R, 1 = neutral) blended in along the same ramp,
// or held from the first frame without a ramp.
struct Illumination {
    bool ramped = false, tinted = false;
    double from = 1, to = 1;
    long first = 0, last = 0;
    double tint[3] = {1, 1, 1};
};
constexpr double kMaxLightGain = 16.0;

struct Options {
    std::string videoPath = "board.avi";
    std::string truthPath;  // empty: derived from videoPath
    int frames = 0;         // 0: the path's own length
    int width = kDefaultWidth, height = kDefaultHeight;
    int samples = kDefaultSamples;
    unsigned seed = 1;
    bool report = false;
    BoardSize board = kDefaultBoard;
    double focal = NAN;                          // pixels; NaN: the size's default
    double principalX = NAN, principalY = NAN;  // pixels; NaN: (width/2, height/2), integer halves
    double distortion[5] = {0, 0, 0, 0, 0};     // k1 k2 p1 p2 k3
    CameraPathKind path = kSamplePath;
    unsigned pathSeed = 1;            // the hand-held path's keys and shake
    float noiseSigma = kNoiseSigma;   // grey levels
    double exposureMs = 0.0;          // 0: no motion blur
    std::vector<int> cuts;            // frames from which the path's clock jumps on
    bool truthOnly = false;           // no video: the truth and the camera file only
    Illumination illumination;        // --illumination, --tint: the light's gain over the frames
};

// The printed board's extent: inner corners, and the squares' edges.
struct Board {
    int columns, rows;
    double minX, maxX, minY, maxY;
    double centreX, centreY;  // the middle of the inner corners
};

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

// ---------------------------------------------------------------- camera

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

// The card's four corners at a moment (frames on the path's clock): a
// rectangle parallel to the board, drifting.
void cardCorners(double moment, Vec3* corners) {
    double k = moment - kCardFirstFrame, turn = radians(kCardTurnDeg);
    double cx = kCardCentre[0] + k * kCardDriftPerFrame[0];
    double cy = kCardCentre[1] + k * kCardDriftPerFrame[1];
    const double signs[4][2] = {{-1, -1}, {1, -1}, {1, 1}, {-1, 1}};
    for (int i = 0; i < 4; ++i) {
        double u = signs[i][0] * kCardHalfSize[0], v = signs[i][1] * kCardHalfSize[1];
        corners[i] = {cx + u * std::cos(turn) - v * std::sin(turn),
                      cy + u * std::sin(turn) + v * std::cos(turn), -kCardHeight};
    }
}

// The card of a frame, where it is at moment (within the frame's shutter).
int addCard(int frame, double moment, Triangle* triangles, int count) {
    if (!cardPresent(frame)) return count;
    Vec3 q[4];
    cardCorners(moment, q);
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

// What does not change from frame to frame: the board, the table's texture
// and the buildings' shadows.
struct Surroundings {
    Board board;
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

Board makeBoard(BoardSize size) {
    Board b;
    b.columns = size.columns, b.rows = size.rows;
    b.minX = -1.0, b.maxX = size.columns;
    b.minY = -1.0, b.maxY = size.rows;
    b.centreX = (size.columns - 1) / 2.0, b.centreY = (size.rows - 1) / 2.0;
    return b;
}

Surroundings makeSurroundings(const Options& o) {
    Surroundings s;
    s.board = makeBoard(o.board);
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
// corner square at the origin is black), white paper around.
bool boardColour(const Board& b, double X, double Y, Colour* colour) {
    if (X < b.minX - kPaperMargin || X > b.maxX + kPaperMargin || Y < b.minY - kPaperMargin ||
        Y > b.maxY + kPaperMargin)
        return false;
    bool onSquares = X >= b.minX && X < b.maxX && Y >= b.minY && Y < b.maxY;
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
    double distance = std::sqrt((X - kLampX) * (X - kLampX) + (Y - kLampY) * (Y - kLampY));
    Colour c;
    if (!boardColour(s.board, X, Y, &c)) c = tableColour(s, X, Y, distance);
    double r = distance / kLampFalloffDistance;
    float light = (float)(0.72 + 0.28 / (1 + r * r));
    if (inShadow(s, X, Y)) light *= kShadowFactor;
    return scaled(c, light);
}

// The illumination's gain on each channel (B, G, R) at a frame.
void lightGainAt(const Illumination& l, int frame, float gain[3]) {
    double along = 1.0;
    if (l.ramped) along = frame <= l.first ? 0.0 : frame >= l.last ? 1.0 : double(frame - l.first) / (l.last - l.first);
    const double level = l.ramped ? l.from + (l.to - l.from) * along : 1.0;
    for (int c = 0; c < 3; ++c) gain[c] = (float)(level * (1.0 + (l.tint[c] - 1.0) * along));
}

// The frame's colours are sRGB-encoded grey levels: the gain multiplies the
// linear light they encode (IEC 61966-2-1), clipped at white as a sensor does.
void illuminateFrame(const Illumination& l, int frame, cv::Mat& image) {
    if (!l.ramped && !l.tinted) return;
    float gain[3];
    lightGainAt(l, frame, gain);
    for (int row = 0; row < image.rows; ++row) {
        float* p = image.ptr<float>(row);
        for (int k = 0; k < 3 * image.cols; ++k) {
            double v = std::clamp(p[k] / 255.0, 0.0, 1.0);
            const double linear = std::min(1.0, linearFromSrgb(v) * gain[k % 3]);
            p[k] = (float)(255.0 * srgbFromLinear(linear));
        }
    }
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

// The lens of the whole video, set up once. Without distortion a sample's
// image point (pixels from the principal point, on the pinhole camera of
// focal f) is its offset from the principal point. Through a distorting
// lens, each pixel centre's image point is kept, exact (f times the
// undistorted normalised point), with the Jacobian that carries a sample's
// offset from the centre to its image point: to first order, within about
// 1e-4 px a third of a pixel from the centre for k1 = -0.3, where storing
// every sample would take 150 MB at 1920 x 1080 with 3 x 3 samples.
struct Lens {
    CameraModel model;
    bool distorted;
    std::vector<double> centres;    // 2 per pixel, row by row
    std::vector<float> jacobians;   // 4 per pixel: d(image x, y)/d(column, row), row by row
    std::vector<double> rowLow, rowHigh;  // per pixel row: the image y range of its samples
};

struct FrameView {
    Camera camera;
    int width, height, samples;
    const Lens* lens;
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

// The path's clock at a frame, in frames: each cut at or before the frame
// moves it on by kCutFrames.
int clockFrame(const Options& o, int frame) {
    int clock = frame;
    for (int cut : o.cuts)
        if (frame >= cut) clock += kCutFrames;
    return clock;
}

// The scene's world triangles in one frame (on the path's clock) at a
// moment within its shutter: buildings, then the card.
int sceneTriangles(int frame, double moment, bool card, Triangle* triangles) {
    int count = addBuildings(triangles);
    return card ? addCard(frame, moment, triangles, count) : count;
}

void setUpFrame(const Camera& camera, int frame, double moment, const Options& o, const Lens& lens,
                FrameView* view) {
    view->camera = camera;
    view->width = o.width, view->height = o.height, view->samples = o.samples;
    view->lens = &lens;
    Triangle world[kMaxTriangles];
    int count = sceneTriangles(frame, moment, o.path == kSamplePath, world);
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

// Sample offsets from a pixel's centre, symmetric about it.
void sampleOffsets(int n, double* offsets) {
    for (int i = 0; i < n; ++i) offsets[i] = (i + 0.5) / n - 0.5;
}

// The triangles that may cover image points with y from yLow to yHigh.
int rowCandidates(const FrameView& view, double yLow, double yHigh, int* candidates) {
    int count = 0;
    for (int i = 0; i < view.triangleCount; ++i)
        if (view.triangles[i].minY <= yHigh && view.triangles[i].maxY >= yLow) candidates[count++] = i;
    return count;
}

// One pixel row: the mean of samples x samples points placed symmetrically
// about each pixel centre. Pixel (column, row) is image point
// (column - cx, row - cy).
void renderRow(const FrameView& view, const Surroundings& s, int row, float* out) {
    const int n = view.samples;
    const double centreX = view.lens->model.cx, centreY = view.lens->model.cy;
    double offsets[kMaxSamples];
    sampleOffsets(n, offsets);
    int candidates[kMaxTriangles];
    int candidateCount = rowCandidates(view, row - centreY - 0.5, row - centreY + 0.5, candidates);
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

// The same row through a distorting lens: the samples' image points from
// the lens's per-pixel map.
void renderRowThroughLens(const FrameView& view, const Surroundings& s, int row, float* out) {
    const Lens& lens = *view.lens;
    const int n = view.samples;
    double offsets[kMaxSamples];
    sampleOffsets(n, offsets);
    int candidates[kMaxTriangles];
    int candidateCount = rowCandidates(view, lens.rowLow[row], lens.rowHigh[row], candidates);
    const float weight = 1.0f / (n * n);
    for (int column = 0; column < view.width; ++column) {
        size_t pixel = (size_t)row * view.width + column;
        const double* centre = &lens.centres[2 * pixel];
        const float* J = &lens.jacobians[4 * pixel];
        float sum[3] = {0, 0, 0};
        for (int j = 0; j < n; ++j)
            for (int i = 0; i < n; ++i) {
                double x = centre[0] + J[0] * offsets[i] + J[1] * offsets[j];
                double y = centre[1] + J[2] * offsets[i] + J[3] * offsets[j];
                Colour c = sampleColour(view, s, candidates, candidateCount, x, y);
                sum[0] += c.b, sum[1] += c.g, sum[2] += c.r;
            }
        for (int k = 0; k < 3; ++k) out[3 * column + k] = sum[k] * weight;
    }
}

void renderRows(const FrameView* view, const Surroundings* s, int firstRow, int step, cv::Mat* image) {
    for (int row = firstRow; row < view->height; row += step) {
        if (view->lens->distorted) renderRowThroughLens(*view, *s, row, image->ptr<float>(row));
        else renderRow(*view, *s, row, image->ptr<float>(row));
    }
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

// Gaussian sensor noise of sigma grey levels, reproducible from the seed
// and the frame number.
void addSensorNoise(unsigned seed, int frame, float sigma, cv::Mat& image, cv::Mat& noise) {
    cv::RNG rng(((uint64_t)seed << 32) ^ (uint64_t)(frame + 1) * 0x9E3779B97F4A7C15ull);
    rng.fill(noise, cv::RNG::NORMAL, 0.0, sigma);
    image += noise;
}

// ---------------------------------------------------------------- lens

CameraModel lensModel(const Options& o) {
    double f = std::isnan(o.focal) ? defaultFocalLength(o.width, o.height) : o.focal;
    CameraModel m = centredPinholeCamera(o.width, o.height, f);
    if (!std::isnan(o.principalX)) m.cx = o.principalX, m.cy = o.principalY;
    for (int i = 0; i < 5; ++i) m.distortion[i] = o.distortion[i];
    m.distortionCount = 5;
    m.boardColumns = o.board.columns, m.boardRows = o.board.rows;
    m.squareSize = 1.0;
    return m;
}

bool distorts(const CameraModel& m) {
    for (double k : m.distortion)
        if (k != 0.0) return true;
    return false;
}

// Image point (pixels from the principal point, pinhole camera of focal f)
// that pixel (u, v) shows; false past the lens's fold.
bool imagePointAt(const CameraModel& m, double u, double v, double* x, double* y) {
    double xu, yu;
    if (!undistortNormalised(m, (u - m.cx) / m.fx, (v - m.cy) / m.fy, &xu, &yu)) return false;
    *x = m.fx * xu, *y = m.fy * yu;
    return true;
}

std::string foldProblem(double u, double v) {
    char text[160];
    std::snprintf(text, sizeof text, "--distortion: the lens folds over inside the picture (no ray for pixel (%g, %g))",
                  u, v);
    return text;
}

// A lens that folds over does so first at the picture's border: checks its
// pixels' outer corners.
bool unfoldedOverPicture(const CameraModel& m, std::string* problem) {
    double x, y;
    const double right = m.width - 0.5, bottom = m.height - 0.5;
    for (int column = 0; column <= m.width; ++column)
        for (double v : {-0.5, bottom})
            if (!imagePointAt(m, column - 0.5, v, &x, &y)) return *problem = foldProblem(column - 0.5, v), false;
    for (int row = 0; row <= m.height; ++row)
        for (double u : {-0.5, right})
            if (!imagePointAt(m, u, row - 0.5, &x, &y)) return *problem = foldProblem(u, row - 0.5), false;
    return true;
}

// Central differences of the pixel centres' image points (one-sided at the
// border), and each row's range of image y over its samples, |offset| <= 1/2.
void lensJacobians(int width, int height, Lens* lens) {
    auto centre = [&](int column, int row, int axis) { return lens->centres[2 * ((size_t)row * width + column) + axis]; };
    for (int row = 0; row < height; ++row) {
        lens->rowLow[row] = INFINITY, lens->rowHigh[row] = -INFINITY;
        for (int column = 0; column < width; ++column) {
            int left = std::max(column - 1, 0), right = std::min(column + 1, width - 1);
            int up = std::max(row - 1, 0), down = std::min(row + 1, height - 1);
            float* J = &lens->jacobians[4 * ((size_t)row * width + column)];
            for (int axis = 0; axis < 2; ++axis) {
                J[2 * axis] = (float)((centre(right, row, axis) - centre(left, row, axis)) / (right - left));
                J[2 * axis + 1] = (float)((centre(column, down, axis) - centre(column, up, axis)) / (down - up));
            }
            double y = centre(column, row, 1), reach = 0.5 * (std::fabs(J[2]) + std::fabs(J[3]));
            lens->rowLow[row] = std::min(lens->rowLow[row], y - reach);
            lens->rowHigh[row] = std::max(lens->rowHigh[row], y + reach);
        }
    }
}

// The video's lens; the per-pixel map when it distorts. False, with the
// problem, when the options make no usable camera.
bool setUpLens(const Options& o, bool withMap, Lens* lens, std::string* problem) {
    lens->model = lensModel(o);
    if (!checkCameraModel(lens->model, problem)) return false;
    lens->distorted = distorts(lens->model);
    if (!lens->distorted) return true;
    if (!unfoldedOverPicture(lens->model, problem)) return false;
    if (!withMap) return true;
    const int width = o.width, height = o.height;
    lens->centres.resize(2 * (size_t)width * height);
    lens->jacobians.resize(4 * (size_t)width * height);
    lens->rowLow.resize(height);
    lens->rowHigh.resize(height);
    for (int row = 0; row < height; ++row)
        for (int column = 0; column < width; ++column) {
            double* centre = &lens->centres[2 * ((size_t)row * width + column)];
            if (!imagePointAt(lens->model, column, row, &centre[0], &centre[1]))
                return *problem = foldProblem(column, row), false;
        }
    lensJacobians(width, height, lens);
    return true;
}

// Pixel (u, v) where the camera sees world point p through the lens; false
// when p is not in front of the camera.
bool pixelOf(const Camera& c, const CameraModel& lens, Vec3 p, double* u, double* v) {
    if (cameraFrame(c, p).z <= 0) return false;
    double x, y;
    tsaiProject(p.x, p.y, p.z, &x, &y, c.f, c.T, c.R);
    if (distorts(lens)) {
        double xd, yd;
        distortNormalised(lens, x / c.f, y / c.f, &xd, &yd);
        x = c.f * xd, y = c.f * yd;
    }
    *u = x + lens.cx, *v = y + lens.cy;
    return true;
}

// ---------------------------------------------------------------- motion blur

// The shutter is open for --exposure milliseconds centred on the frame's
// time; the picture is the mean of sub-frames at the middles of equal parts
// of that interval, enough of them that the picture moves at most about
// kSubFrameStepPx from one to the next.
constexpr double kSubFrameStepPx = 1.0;
constexpr int kMaxSubFrames = 64;
constexpr int kMotionSteps = 8;     // cameras over the shutter at which the motion is measured
constexpr int kProbeGrid = 5;       // table points under kProbeGrid x kProbeGrid pixels
constexpr int kMaxProbes = kProbeGrid * kProbeGrid + 16;

// Scene points whose motion stands for the picture's: the table under a grid
// of pixels (pinhole rays) and the buildings' corners.
int motionProbes(const Camera& c, const CameraModel& lens, Vec3* probes) {
    int count = 0;
    for (int j = 0; j < kProbeGrid; ++j)
        for (int i = 0; i < kProbeGrid; ++i) {
            double x = (i + 0.5) / kProbeGrid * lens.width - 0.5 - lens.cx;
            double y = (j + 0.5) / kProbeGrid * lens.height - 0.5 - lens.cy;
            double dz = c.R[2] * x + c.R[5] * y + c.R[8] * c.f;  // the ray R^T (x, y, f), as sampleColour
            if (dz <= 0) continue;
            double along = -c.centre.z / dz;
            probes[count++] = {c.centre.x + along * (c.R[0] * x + c.R[3] * y + c.R[6] * c.f),
                               c.centre.y + along * (c.R[1] * x + c.R[4] * y + c.R[7] * c.f), 0.0};
        }
    for (const double(*corners)[3] : {kPredio1, kPredio2})
        for (int k = 0; k < 8; ++k) probes[count++] = worldFromBoardFrame(corners[k]);
    return count;
}

// Sub-frames for the shutter of the given length (seconds) centred on a
// moment: the longest way any probe travels in the picture over the
// shutter, in steps of kSubFrameStepPx, 1 to kMaxSubFrames.
int subFramesFor(const CameraPath& path, const CameraModel& lens, double seconds, double shutter) {
    Camera cameras[kMotionSteps + 1];
    for (int k = 0; k <= kMotionSteps; ++k)
        cameras[k] = cameraOnPath(path, seconds + shutter * ((double)k / kMotionSteps - 0.5));
    Vec3 probes[kMaxProbes];
    const int count = motionProbes(cameras[kMotionSteps / 2], lens, probes);
    double longest = 0.0;
    for (int i = 0; i < count; ++i) {
        double travelled = 0.0, u0, v0, u1, v1;
        bool seen = pixelOf(cameras[0], lens, probes[i], &u0, &v0);
        for (int k = 1; k <= kMotionSteps; ++k) {
            bool next = pixelOf(cameras[k], lens, probes[i], &u1, &v1);
            if (seen && next) travelled += std::hypot(u1 - u0, v1 - v0);
            seen = next, u0 = u1, v0 = v1;
        }
        longest = std::max(longest, travelled);
    }
    return std::clamp((int)std::ceil(longest / kSubFrameStepPx), 1, kMaxSubFrames);
}

// Per-frame work areas, allocated once.
struct FrameWork {
    FrameView view;
    cv::Mat image, subFrame, noise, picture;
};

// The frame's picture into work->image (before the noise): the scene from
// the frame's own camera, or, with a shutter, the mean of its sub-frames.
void exposeFrame(const Options& o, const CameraPath& path, const Surroundings& s, const Lens& lens, int clock,
                 const Camera& camera, FrameWork* work) {
    const double seconds = clock / kFramesPerSecond, shutter = o.exposureMs / 1000.0;
    const int subFrames = shutter > 0 ? subFramesFor(path, lens.model, seconds, shutter) : 1;
    if (subFrames == 1) {
        setUpFrame(camera, clock, clock, o, lens, &work->view);
        renderFrame(work->view, s, work->image);
        return;
    }
    work->image.setTo(cv::Scalar::all(0));
    for (int i = 0; i < subFrames; ++i) {
        double offset = shutter * ((i + 0.5) / subFrames - 0.5);
        setUpFrame(cameraOnPath(path, seconds + offset), clock, clock + offset * kFramesPerSecond, o, lens,
                   &work->view);
        renderFrame(work->view, s, work->subFrame);
        work->image += work->subFrame;
    }
    work->image *= 1.0 / subFrames;
}

// ---------------------------------------------------------------- ground truth

Vec3 boardCorner(const Board& b, int k) { return {(double)(k % b.columns), (double)(k / b.columns), 0.0}; }

// Number of the board's inner corners that the card hides from the camera.
int cornersUnderCard(int frame, const Camera& c, const Board& b) {
    Triangle card[2];
    int count = addCard(frame, frame, card, 0);
    int hidden = 0;
    for (int k = 0; k < b.columns * b.rows; ++k)
        if (segmentBlocked(c.centre, boardCorner(b, k), card, count)) ++hidden;
    return hidden;
}

bool writeTruthHeader(FILE* file) {
    return std::fprintf(file, "frame,f,r1,r2,r3,r4,r5,r6,r7,r8,r9,tx,ty,tz,board_covered,fy,cx,cy,k1,k2,p1,p2,k3\n") > 0;
}

bool writeTruthRow(FILE* file, int frame, const Camera& c, bool covered, const CameraModel& lens) {
    bool ok = std::fprintf(file, "%d,%.17g", frame, c.f) > 0;
    for (double r : c.R) ok = ok && std::fprintf(file, ",%.17g", r) > 0;
    for (double t : c.T) ok = ok && std::fprintf(file, ",%.17g", t) > 0;
    ok = ok && std::fprintf(file, ",%d", covered ? 1 : 0) > 0;
    ok = ok && std::fprintf(file, ",%.17g,%.17g,%.17g", lens.fy, lens.cx, lens.cy) > 0;
    for (int i = 0; i < 5; ++i) ok = ok && std::fprintf(file, ",%.17g", lens.distortion[i]) > 0;
    return ok && std::fprintf(file, "\n") > 0;
}

// ---------------------------------------------------------------- path report

// Whether p is in front of the camera and inside the picture; margin is its
// distance in pixels from the picture's border.
bool insidePicture(const Camera& c, const Options& o, const CameraModel& lens, Vec3 p, double* margin) {
    double column, row;
    if (!pixelOf(c, lens, p, &column, &row)) return false;
    *margin = std::min({column + 0.5, o.width - 0.5 - column, row + 0.5, o.height - 0.5 - row});
    return *margin > 0;
}

// Smallest gap between neighbouring inner corners in the picture, pixels.
double smallestSquarePx(const Camera& c, const Board& b, const CameraModel& lens) {
    double smallest = 1e30;
    const int corners = b.columns * b.rows;
    for (int k = 0; k < corners; ++k)
        for (int step : {1, b.columns}) {
            int next = k + step;
            if (next >= corners || (step == 1 && next % b.columns == 0)) continue;
            double x0, y0, x1, y1;
            if (!pixelOf(c, lens, boardCorner(b, k), &x0, &y0) || !pixelOf(c, lens, boardCorner(b, next), &x1, &y1))
                continue;
            smallest = std::min(smallest, std::hypot(x1 - x0, y1 - y0));
        }
    return smallest;
}

// Margin in pixels between the board's paper and the picture's border
// (negative: cut off).
double paperMarginPx(const Camera& c, const Options& o, const Board& b, const CameraModel& lens) {
    double smallest = 1e30, margin;
    for (double X : {b.minX - kPaperMargin, b.maxX + kPaperMargin})
        for (double Y : {b.minY - kPaperMargin, b.maxY + kPaperMargin})
            smallest = std::min(smallest, insidePicture(c, o, lens, {X, Y, 0}, &margin) ? margin : -1.0);
    return smallest;
}

int cornersInPicture(const Camera& c, const Options& o, const Board& b, const CameraModel& lens) {
    int inside = 0;
    double margin;
    for (int k = 0; k < b.columns * b.rows; ++k) inside += insidePicture(c, o, lens, boardCorner(b, k), &margin);
    return inside;
}

// Points of the board, every half square over the squares and a strip of
// the margin, that the buildings hide from the camera.
int boardPointsBehindBuildings(const Camera& c, const Board& b, const Triangle* buildings) {
    const double kStep = 0.5, kStrip = 0.3;
    int hidden = 0;
    for (double X = b.minX - kStrip; X <= b.maxX + kStrip + 1e-9; X += kStep)
        for (double Y = b.minY - kStrip; Y <= b.maxY + kStrip + 1e-9; Y += kStep)
            hidden += segmentBlocked(c.centre, {X, Y, 0.0}, buildings, kBuildingTriangles);
    return hidden;
}

const char* shipPlaceState(const Camera& c, const Options& o, const CameraModel& lens, const Triangle* buildings) {
    Vec3 ship = {kShipPlace[0], kShipPlace[1], kShipPlace[2]};
    double margin;
    if (!insidePicture(c, o, lens, ship, &margin)) return "out";
    return segmentBlocked(c.centre, ship, buildings, kBuildingTriangles) ? "hidden" : "seen";
}

int buildingCornersInPicture(const Camera& c, const Options& o, const CameraModel& lens) {
    int inside = 0;
    double margin;
    for (const double(*corners)[3] : {kPredio1, kPredio2})
        for (int i = 0; i < 8; ++i) inside += insidePicture(c, o, lens, worldFromBoardFrame(corners[i]), &margin);
    return inside;
}

// One line per frame: the camera's tilt from the board normal, its distance
// from the board centre, the board's roll, paper margin and smallest square,
// the board points hidden by the buildings, the inner corners under the card,
// the buildings' corners in the picture, whether the ship's place is out of
// the picture, hidden by a building or seen, and the board's inner corners
// in the picture.
void printPathReport(const Options& o, const CameraPath& path, const Board& b, const CameraModel& lens) {
    Triangle buildings[kBuildingTriangles];
    addBuildings(buildings);
    std::printf("frame tilt distance roll paper_margin_px square_px board_points_behind_buildings under_card "
                "building_corners_in_picture ship_place corners_in_picture\n");
    for (int frame = 0; frame < o.frames; ++frame) {
        const int clock = clockFrame(o, frame);
        Camera c = cameraOnPath(path, clock / kFramesPerSecond);
        Vec3 fromCentre = c.centre - Vec3{b.centreX, b.centreY, 0.0};
        int underCard = o.path == kSamplePath ? cornersUnderCard(clock, c, b) : 0;
        std::printf("%d %.1f %.1f %.1f %.0f %.1f %d %d %d %s %d\n", frame, std::acos(c.R[8]) * 180.0 / kPi,
                    std::sqrt(dot(fromCentre, fromCentre)), boardRollDeg(c, o.board), paperMarginPx(c, o, b, lens),
                    smallestSquarePx(c, b, lens), boardPointsBehindBuildings(c, b, buildings), underCard,
                    buildingCornersInPicture(c, o, lens), shipPlaceState(c, o, lens, buildings),
                    cornersInPicture(c, o, b, lens));
    }
}

// ---------------------------------------------------------------- command line

// Whole-string decimal integer in [low, high].
bool parseInteger(const std::string& text, long low, long high, long* value) {
    if (text.empty()) return false;
    char* end = nullptr;
    errno = 0;
    long v = std::strtol(text.c_str(), &end, 10);
    if (errno != 0 || *end != '\0' || v < low || v > high) return false;
    *value = v;
    return true;
}

// Comma-separated finite numbers, from minCount to maxCount of them.
bool parseNumbers(const std::string& text, int minCount, int maxCount, double* values, int* count) {
    int n = 0;
    size_t start = 0;
    for (;;) {
        size_t comma = text.find(',', start);
        std::string item = text.substr(start, comma == std::string::npos ? std::string::npos : comma - start);
        char* end = nullptr;
        double v = std::strtod(item.c_str(), &end);
        if (item.empty() || *end != '\0' || !std::isfinite(v) || n == maxCount) return false;
        values[n++] = v;
        if (comma == std::string::npos) break;
        start = comma + 1;
    }
    *count = n;
    return n >= minCount;
}

bool endsWith(const std::string& s, const std::string& suffix) {
    return s.size() >= suffix.size() && s.compare(s.size() - suffix.size(), suffix.size(), suffix) == 0;
}

// An integer option checked as it is read: low to high, even if asked.
void addIntegerOption(CLI::App* app, const std::string& name, long low, long high, bool even, long* target,
                      const std::string& help) {
    app->add_option_function<std::string>(
           name,
           [name, low, high, even, target](const std::string& text) {
               if (!parseInteger(text, low, high, target) || (even && *target % 2 != 0))
                   throw CLI::ValidationError(name, std::string("expected ") + (even ? "an even number" : "a number") +
                                                        " from " + std::to_string(low) + " to " + std::to_string(high) +
                                                        ", got '" + text + "'");
           },
           help)
        ->type_name("N");
}

void addLensOptions(CLI::App* app, Options* o) {
    app->add_option_function<std::string>(
           "--focal",
           [o](const std::string& text) {
               int n = 0;
               if (!parseNumbers(text, 1, 1, &o->focal, &n) || !(o->focal > 0))
                   throw CLI::ValidationError("--focal", "expected a focal length in pixels, got '" + text + "'");
           },
           "focal length in pixels (default 600 at 640 x 480, scaled with the\nsmaller of width/640 and height/480)")
        ->type_name("F");
    app->add_option_function<std::string>(
           "--principal-point",
           [o](const std::string& text) {
               double xy[2];
               int n = 0;
               if (!parseNumbers(text, 2, 2, xy, &n))
                   throw CLI::ValidationError("--principal-point", "expected X,Y in pixels, got '" + text + "'");
               o->principalX = xy[0], o->principalY = xy[1];
           },
           "principal point in pixels, integer coordinates at pixel centres\n(default width/2,height/2 with integer "
           "halving)")
        ->type_name("X,Y");
    app->add_option_function<std::string>(
           "--distortion",
           [o](const std::string& text) {
               int n = 0;
               double k[5] = {0, 0, 0, 0, 0};
               if (!parseNumbers(text, 4, 5, k, &n))
                   throw CLI::ValidationError("--distortion", "expected k1,k2,p1,p2[,k3], got '" + text + "'");
               std::copy(k, k + 5, o->distortion);
           },
           "OpenCV's lens distortion on normalised coordinates (default none)")
        ->type_name("k1,k2,p1,p2,k3");
}

// A number option checked as it is read: low to high.
void addNumberOption(CLI::App* app, const std::string& name, double low, double high, double* target,
                     const std::string& expected, const std::string& help) {
    app->add_option_function<std::string>(
           name,
           [name, low, high, target, expected](const std::string& text) {
               int n = 0;
               if (!parseNumbers(text, 1, 1, target, &n) || *target < low || *target > high)
                   throw CLI::ValidationError(name, "expected " + expected + ", got '" + text + "'");
           },
           help)
        ->type_name("X");
}

void addPathOptions(CLI::App* app, Options* o, long* pathSeed) {
    app->add_option_function<std::string>(
           "--path",
           [o](const std::string& text) {
               if (!cameraPathFromName(text, &o->path))
                   throw CLI::ValidationError("--path", "expected sample, sweep, desk, handheld or swing, got '" +
                                                            text + "'");
           },
           "the camera's path: sample (default; around the board and the\nbuildings), sweep (the board through "
           "every part of the\npicture, for calibration), desk (a board held before a webcam:\nits outline within "
           "the middle half of the picture, tilted 10\nto 45 degrees, a still stretch of 1.5 s and a steady pan\n"
           "of 3 s), handheld (smooth random hand-held motion with a\nshake and one still second, the whole board "
           "in view; drawn\nfrom --path-seed) or swing (fast moves with sudden starts,\nstops and turns, corners "
           "up to 23 px per frame at\n640 x 480, a rest at the start and a still second)")
        ->type_name("NAME");
    addIntegerOption(app, "--path-seed", 0, 4294967295L, false, pathSeed,
                     "seed of the handheld path's keys and shake (default 1)");
    app->add_option_function<std::vector<std::string>>(
           "--cut",
           [o](const std::vector<std::string>& values) {
               for (const std::string& text : values) {
                   long frame = 0;
                   if (!parseInteger(text, 1, kMaxFrames - 1, &frame))
                       throw CLI::ValidationError("--cut", "expected a frame from 1 to " +
                                                               std::to_string(kMaxFrames - 1) + ", got '" + text + "'");
                   o->cuts.push_back((int)frame);
               }
           },
           "a cut: from this frame on the path's clock runs 4 s ahead (repeatable;\nthe cuts add up)")
        ->type_name("FRAME")
        ->take_all();
}

// FROM:TO@FIRST-LAST: gains from 0 to kMaxLightGain, frames FIRST <= LAST.
bool parseIllumination(const std::string& text, Illumination* l) {
    const size_t colon = text.find(':'), at = text.find('@'), dash = text.find('-', at == std::string::npos ? 0 : at);
    if (colon == std::string::npos || at == std::string::npos || dash == std::string::npos || !(colon < at))
        return false;
    double from = 0, to = 0;
    long first = 0, last = 0;
    int n = 0;
    if (!parseNumbers(text.substr(0, colon), 1, 1, &from, &n) ||
        !parseNumbers(text.substr(colon + 1, at - colon - 1), 1, 1, &to, &n) ||
        !parseInteger(text.substr(at + 1, dash - at - 1), 0, kMaxFrames, &first) ||
        !parseInteger(text.substr(dash + 1), 0, kMaxFrames, &last))
        return false;
    if (from < 0 || to < 0 || from > kMaxLightGain || to > kMaxLightGain || first > last) return false;
    l->ramped = true, l->from = from, l->to = to, l->first = first, l->last = last;
    return true;
}

// The scene's light: its gain over the frames and its colour.
void addLightOptions(CLI::App* app, Options* o) {
    app->add_option_function<std::string>(
           "--illumination",
           [o](const std::string& text) {
               if (!parseIllumination(text, &o->illumination))
                   throw CLI::ValidationError("--illumination", "expected FROM:TO@FIRST-LAST, gains 0 to 16 and "
                                                                "frames FIRST <= LAST, got '" + text + "'");
           },
           "the light's linear gain ramped from FROM (at frame FIRST and before)\nto TO (at frame LAST and after), "
           "gains 0 to 16 (default none: 1)")
        ->type_name("FROM:TO@FIRST-LAST");
    app->add_option_function<std::string>(
           "--tint",
           [o](const std::string& text) {
               double bgr[3];
               int n = 0;
               if (!parseNumbers(text, 3, 3, bgr, &n) || *std::min_element(bgr, bgr + 3) < 0 ||
                   *std::max_element(bgr, bgr + 3) > kMaxLightGain)
                   throw CLI::ValidationError("--tint", "expected B,G,R gains from 0 to 16, got '" + text + "'");
               std::copy(bgr, bgr + 3, o->illumination.tint);
               o->illumination.tinted = true;
           },
           "the light's colour, linear gains on blue, green, red (1,1,1 neutral),\nreached at the end of the "
           "--illumination ramp, blended in along it\n(without a ramp, from the first frame; default none)")
        ->type_name("B,G,R");
}

// The sensor noise and the shutter.
void addExposureOptions(CLI::App* app, Options* o, double* noise) {
    char range[64];
    std::snprintf(range, sizeof range, "milliseconds from 0 to %.2f", kFramePeriodMs);
    addNumberOption(app, "--exposure", 0.0, kFramePeriodMs, &o->exposureMs, range,
                    "motion blur: the shutter open for MS ms about each frame's time,\n0 to the frame period "
                    "(33.3 at 30 fps; default 0, none), rendered\nas sub-frames 1 px of motion apart, up to 64: "
                    "the rendering time\ngrows with the motion by as many times");
    app->get_option("--exposure")->type_name("MS");
    addNumberOption(app, "--noise", 0.0, kMaxNoiseSigma, noise, "grey levels from 0 to 64",
                    "sensor noise: the standard deviation in grey levels, 0 to 64\n(default 1.8)");
    app->get_option("--noise")->type_name("SIGMA");
}

void addOptions(CLI::App* app, Options* o, long* frames, long* width, long* height, long* samples, long* seed,
                long* pathSeed, double* noise) {
    app->add_option("-o,--video", o->videoPath, "output video, ending in .avi (default board.avi)")->type_name("PATH");
    app->add_option("--truth", o->truthPath, "output CSV (default: the video's name with .avi replaced\nby _truth.csv)")
        ->type_name("PATH");
    addIntegerOption(app, "--frames", 1, kMaxFrames, false, frames,
                     "number of frames, 1 to 100000 (default: the path's, at 30 fps\n300 = 10 s for the sample, "
                     "240 for the sweep, 360 for the\ndesk, 300 for the handheld, 180 for the swing; past its\nend "
                     "the camera rests)");
    addIntegerOption(app, "--width", kMinSize, kMaxSize, true, width, "picture width, even, 32 to 4096 (default 640)");
    addIntegerOption(app, "--height", kMinSize, kMaxSize, true, height, "picture height, even, 32 to 4096 (default 480)");
    addIntegerOption(app, "--samples", 1, kMaxSamples, false, samples,
                     "anti-aliasing: N x N samples per pixel, 1 to 8 (default 3)");
    addIntegerOption(app, "--seed", 0, 4294967295L, false, seed, "seed of the sensor noise (default 1)");
    addExposureOptions(app, o, noise);
    addLightOptions(app, o);
    addBoardOption(app, &o->board);
    addLensOptions(app, o);
    addPathOptions(app, o, pathSeed);
    app->add_flag("--report", o->report, "print the camera path's figures per frame instead of rendering");
    app->add_flag("--truth-only", o->truthOnly,
                  "write the truth and the camera file only, no video (the path's\ncameras without the rendering)");
}

std::string cameraPathOf(const Options& o) { return o.videoPath.substr(0, o.videoPath.size() - 4) + "_camera.yml"; }

// Checks what no single option can: the names, the board beside the buildings.
bool checkOptions(const Options& o, std::string* problem) {
    if (!endsWith(o.videoPath, ".avi")) return *problem = "--video: the name must end in .avi", false;
    if (o.truthPath == o.videoPath || o.truthPath == cameraPathOf(o))
        return *problem = "--truth: must differ from the video and its camera file", false;
    if (o.board.columns > kMaxBoardColumns || o.board.rows > kMaxBoardRows)
        return *problem = "--board: a board of " + std::to_string(o.board.columns) + "x" +
                          std::to_string(o.board.rows) + " would reach under a building; at most " +
                          std::to_string(kMaxBoardColumns) + "x" + std::to_string(kMaxBoardRows) + " fits",
               false;
    for (int cut : o.cuts)
        if (cut >= o.frames)
            return *problem = "--cut: frame " + std::to_string(cut) + " is past the video's last frame (" +
                              std::to_string(o.frames - 1) + ")",
                   false;
    return true;
}

// Fills o from the command line; false with the exit status when the
// program ends here (--help, --version, a mistake).
CommandLineOutcome parseArguments(int argc, char** argv, Options* o) {
    CLI::App app{"Renders the sample video: a chessboard on a table, two buildings, a moving\n"
                 "camera. Writes an MJPG AVI, a CSV of the true camera of every frame\n"
                 "(frame,f,r1..r9,tx,ty,tz,board_covered,fy,cx,cy,k1,k2,p1,p2,k3; Pc = R.P + T,\n"
                 "pixel u = f.xd + cx, v = fy.yd + cy with (xd, yd) the distorted (xc/zc, yc/zc))\n"
                 "and the same camera as NAME_camera.yml beside the video NAME.avi.",
                 kProgram};
    setUpCommandLine(&app);
    long frames = 0, width = o->width, height = o->height, samples = o->samples, seed = o->seed;
    long pathSeed = o->pathSeed;
    double noise = o->noiseSigma;
    addOptions(&app, o, &frames, &width, &height, &samples, &seed, &pathSeed, &noise);
    CommandLineOutcome outcome = parseCommandLine(&app, argc, argv);
    if (!outcome.run) return outcome;
    o->frames = frames > 0 ? (int)frames : defaultPathFrames(o->path);
    o->width = (int)width, o->height = (int)height, o->samples = (int)samples, o->seed = (unsigned)seed;
    o->pathSeed = (unsigned)pathSeed;
    o->noiseSigma = (float)noise;
    if (o->truthPath.empty() && endsWith(o->videoPath, ".avi"))
        o->truthPath = o->videoPath.substr(0, o->videoPath.size() - 4) + "_truth.csv";
    std::string problem;
    if (!checkOptions(*o, &problem)) return {false, reportUsageError(app, problem)};
    return {true, 0};
}

int reportProblem(const std::string& problem) {
    std::fprintf(stderr, "%s: %s (see --help)\n", kProgram, problem.c_str());
    return kUsageErrorStatus;
}

// ---------------------------------------------------------------- output

// The outputs under temporary names beside their final ones
// (atomic_file.h); the video's keeps the .avi ending, from which the writer
// picks the container.
struct Outputs {
    PendingFile videoFile, truthFile, cameraFile;
    cv::VideoWriter video;
    FILE* truth = nullptr;
};

bool writeCameraOutput(const Options& o, const CameraModel& lens, Outputs* out) {
    std::string error;
    if (!writeCameraFile(out->cameraFile.partialPath, lens, &error)) {
        std::fprintf(stderr, "%s: %s: cannot write the camera file\n", kProgram, cameraPathOf(o).c_str());
        return false;
    }
    return true;
}

// Opens the outputs under temporary names: the truth, the video unless
// --truth-only, the camera file.
bool openOutputs(const Options& o, const CameraModel& lens, Outputs* out) {
    out->truthFile = pendingFile(o.truthPath);
    out->cameraFile = pendingFile(cameraPathOf(o));
    out->truth = std::fopen(out->truthFile.partialPath.c_str(), "w");
    if (!out->truth || !writeTruthHeader(out->truth)) {
        std::fprintf(stderr, "%s: %s: cannot write: %s\n", kProgram, o.truthPath.c_str(), std::strerror(errno));
        return false;
    }
    if (o.truthOnly) return writeCameraOutput(o, lens, out);
    out->videoFile = pendingFile(o.videoPath);
    out->video.open(out->videoFile.partialPath, cv::CAP_FFMPEG, cv::VideoWriter::fourcc('M', 'J', 'P', 'G'),
                    kFramesPerSecond, cv::Size(o.width, o.height), true);
    if (!out->video.isOpened()) {
        std::fprintf(stderr, "%s: %s: cannot write an MJPG video there\n", kProgram, o.videoPath.c_str());
        return false;
    }
    return writeCameraOutput(o, lens, out);
}

void discardOutputs(Outputs* out) {
    out->video.release();
    if (out->truth) std::fclose(out->truth);
    out->truth = nullptr;
    for (const PendingFile* file : {&out->videoFile, &out->truthFile, &out->cameraFile}) discardFile(*file);
}

// The writer reports no errors (a full disk, for one): read the finished
// file's header back and compare its frame count.
bool videoIsComplete(const std::string& path, int frames) {
    cv::VideoCapture capture(path, cv::CAP_FFMPEG);
    return capture.isOpened() && (int)capture.get(cv::CAP_PROP_FRAME_COUNT) == frames;
}

// Closes the files and gives them their final names.
bool finishOutputs(const Options& o, Outputs* out) {
    out->video.release();
    bool ok = std::fclose(out->truth) == 0;
    out->truth = nullptr;
    if (!ok) std::fprintf(stderr, "%s: %s: write failed\n", kProgram, o.truthPath.c_str());
    if (ok && !o.truthOnly && !videoIsComplete(out->videoFile.partialPath, o.frames)) {
        std::fprintf(stderr, "%s: %s: the video was not written completely\n", kProgram, o.videoPath.c_str());
        ok = false;
    }
    std::string error;
    for (PendingFile* file : {&out->videoFile, &out->truthFile, &out->cameraFile}) {
        if (!ok || file->partialPath.empty()) continue;
        if (!commitFile(*file, &error)) {
            std::fprintf(stderr, "%s: %s\n", kProgram, error.c_str());
            ok = false;
        }
        file->partialPath.clear();  // committed: nothing left to discard
    }
    if (!ok) discardOutputs(out);
    return ok;
}

bool writeTruthOf(const Options& o, const Board& b, const CameraModel& lens, int frame, int clock,
                  const Camera& camera, Outputs* out) {
    bool covered = o.path == kSamplePath && cornersUnderCard(clock, camera, b) > 0;
    if (writeTruthRow(out->truth, frame, camera, covered, lens)) return true;
    std::fprintf(stderr, "%s: %s: write failed\n", kProgram, o.truthPath.c_str());
    return false;
}

// Renders every frame (unless --truth-only), writes it and its true camera:
// the camera at the frame's time on the path's clock.
bool renderVideo(const Options& o, const CameraPath& path, const Surroundings& s, const Lens& lens, Outputs* out) {
    FrameWork work;
    for (cv::Mat* m : {&work.image, &work.subFrame, &work.noise}) m->create(o.height, o.width, CV_32FC3);
    for (int frame = 0; frame < o.frames; ++frame) {
        const int clock = clockFrame(o, frame);
        const Camera camera = cameraOnPath(path, clock / kFramesPerSecond);
        if (!o.truthOnly) {
            exposeFrame(o, path, s, lens, clock, camera, &work);
            illuminateFrame(o.illumination, frame, work.image);
            if (o.noiseSigma > 0) addSensorNoise(o.seed, frame, o.noiseSigma, work.image, work.noise);
            work.image.convertTo(work.picture, CV_8UC3);
            out->video.write(work.picture);
        }
        if (!writeTruthOf(o, s.board, lens.model, frame, clock, camera, out)) return false;
    }
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    constexpr int kFailed = 1;
    Options o;
    CommandLineOutcome outcome = parseArguments(argc, argv, &o);
    if (!outcome.run) return outcome.status;
    Lens lens;
    std::string problem;
    const bool rendering = !o.report && !o.truthOnly;
    if (!setUpLens(o, rendering, &lens, &problem)) return reportProblem(problem);
    const CameraPath path = planCameraPath(o.path, lens.model, o.board, o.pathSeed);
    if (o.report) {
        printPathReport(o, path, makeBoard(o.board), lens.model);
        return 0;
    }
    Surroundings s = makeSurroundings(o);
    Outputs out;
    if (!openOutputs(o, lens.model, &out) || !renderVideo(o, path, s, lens, &out)) {
        discardOutputs(&out);
        return kFailed;
    }
    if (!finishOutputs(o, &out)) return kFailed;
    if (o.truthOnly)
        std::printf("%s: wrote %s and %s (%d frames, %dx%d, f = %.1f px)\n", kProgram, o.truthPath.c_str(),
                    cameraPathOf(o).c_str(), o.frames, o.width, o.height, lens.model.fx);
    else
        std::printf("%s: wrote %s, %s and %s (%d frames, %dx%d, f = %.1f px)\n", kProgram, o.videoPath.c_str(),
                    o.truthPath.c_str(), cameraPathOf(o).c_str(), o.frames, o.width, o.height, lens.model.fx);
    return 0;
}
