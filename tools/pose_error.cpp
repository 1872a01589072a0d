// pose_error.cpp - how well the overlay sits on the board: the cameras of an
// arrender pose log against the true cameras of the sample video.
//
// For every frame with the board found (or, with arrender --track, tracked)
// and a calibrated camera, the board's inner corners (48 for 8 x 6, --board)
// and the 16 building corners (or a --scene file's occluders' corners) are
// placed twice in the picture: where the true camera shows them (with its
// lens distortion and principal point) and where the overlay draws them
// (the log row's pinhole camera: u = f.xc/zc + cx, v = fy.yc/zc + cy). The
// distances give the mean and maximum in pixels (board, buildings, all
// together). Beside them: the rotation error (degrees, the angle of
// R_est R_true^T), the translation error (|T_est - T_true| in percent of
// |T_true|) and the focal length's error (percent). Then the median and 95th
// percentile of each over the video, and the jitter of the building corners
// on a stretch where the camera holds still: RMS and maximum of the
// frame-to-frame displacement of each building corner's place through the
// estimated camera, over the pairs of consecutive frames with the board found.
// The frames in which the truth says something covers the board are also
// measured on their own, against the uncovered frames around them.
//
// Each row is measured in the picture it was shown in: a row whose lens
// columns (k1 k2 p1 p2 k3 k4 k5 k6) hold a distortion was drawn into the
// picture undistorted with that lens, and the true point's pixel is
// undistorted with it too (for the corners inside the camera's picture);
// other rows, in the picture itself. With --camera FILE every row is measured
// in the picture undistorted with FILE, and only frames whose logged lens
// (f, fy, cx, cy) is FILE's within 1e-6 count.
//
// A self-calibrating run changes its camera (f, fy, cx, cy, lens) as it
// runs: every change after the first calibrated row is a lens switch. The
// report gives the switches' frames, f's and the principal point's errors at
// the first switch and at the end, all corners' registration before the
// first switch and from it on, and the largest rise of the median over the
// 30 measured frames after a switch against the 30 before; with --reference
// (another run on the same video, say with the true camera file) also net of
// that run's change over the same frames, which the scene's own changes
// cause. The part of the picture where the board has been seen (the cells of
// a 16 x 12 grid that have held a true board corner of a measured frame so
// far) is measured apart: a lens found from the board is only known there.
//
// Columns are found by name. Files without fy, cx, cy (and the lens
// columns) mean fy = f, the principal point (width/2, height/2) with
// integer halving, no distortion; the picture's size is --size, else the one
// in the camera file beside the truth (NAME_camera.yml for NAME_truth.csv),
// else 640 x 480. A point behind either camera has an infinite distance; a
// point past a lens's fold (far outside the picture, where the model stops
// being one-to-one) is left out. Limits: the pose log's frames must be the
// truth's first frames, in order, counted from 0 (a log of a shorter run is
// fine); lines of at most 4095 bytes, at most a million frames; the true R
// must be a rotation.
//
// Usage:
//     pose_error poses.csv board_truth.csv                 # the table
//     pose_error poses.csv lens_truth.csv --camera lens_camera.yml --csv
//     pose_error self.csv lens_truth.csv --reference true_lens.csv   # a self-calibrating run
#include <CLI/CLI.hpp>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <sys/stat.h>
#include <vector>

#include "camera_file.h"
#include "command_line.h"
#include "percentile.h"
#include "csv_fields.h"
#include "scene.h"
#include "tsai.h"

namespace {

constexpr const char* kProgram = "pose_error";
constexpr int kInputError = 1;
constexpr double kPi = 3.14159265358979323846;

// Input limits.
constexpr size_t kMaxLineBytes = 4096;  // with the newline and the final NUL
constexpr long kMaxFrames = 1000000;
constexpr double kRotationTolerance = 1e-6;  // per entry of R R^T - I, true cameras
constexpr double kMinDepth = 1e-9;           // world units in front of the camera
constexpr double kLensTolerance = 1e-6;      // relative, a logged lens against --camera's
constexpr double kRoundTrip = 1e-9;          // normalised units, distortion and back
constexpr int kDefaultWidth = 640, kDefaultHeight = 480;
constexpr long kAroundCoveredFrames = 10;    // uncovered frames this near a covered one are its yardstick

// Columns of both files, by name.
enum Column {
    kFrame, kFound, kF, kR1, kR2, kR3, kR4, kR5, kR6, kR7, kR8, kR9, kTx, kTy, kTz, kCovered,
    kFy, kCx, kCy, kK1, kK2, kP1, kP2, kK3, kK4, kK5, kK6, kTracked, kColumnCount
};
constexpr const char* kColumnNames[kColumnCount] = {
    "frame", "found", "f",  "r1", "r2", "r3", "r4", "r5", "r6", "r7", "r8", "r9", "tx", "ty", "tz", "board_covered",
    "fy",    "cx",    "cy", "k1", "k2", "p1", "p2", "k3", "k4", "k5", "k6", "tracked"};

// Which columns a file must have, may have, and whether it may have others.
struct ColumnSet {
    bool required[kColumnCount], optional[kColumnCount];
    bool othersAllowed;
};

ColumnSet posesColumns() {
    ColumnSet set = {};
    for (int c = kFrame; c <= kTz; ++c) set.required[c] = true;
    set.optional[kFy] = set.optional[kCx] = set.optional[kCy] = set.optional[kTracked] = true;
    for (int c = kK1; c <= kK6; ++c) set.optional[c] = true;  // the lens in use
    set.othersAllowed = true;  // reprojection RMS, milliseconds per stage
    return set;
}

ColumnSet truthColumns() {
    ColumnSet set = {};
    for (int c = kFrame; c <= kCovered; ++c) set.required[c] = c != kFound;
    for (int c = kFy; c <= kK3; ++c) set.optional[c] = true;
    set.othersAllowed = false;
    return set;
}

// The per-frame figures, in the order of the table and the CSV.
enum Figure {
    kBoardMean, kBoardMax, kBuildingMean, kBuildingMax, kAllMean, kAllMax,
    kRotationDeg, kTranslationPercent, kFocalPercent, kFigureCount
};
constexpr const char* kFigureNames[kFigureCount] = {
    "board_mean_px", "board_max_px", "buildings_mean_px", "buildings_max_px", "all_mean_px",
    "all_max_px",    "rotation_deg", "translation_pct",   "focal_pct"};
constexpr const char* kFigureLabels[kFigureCount] = {
    "board corners, mean (px)",     "board corners, max (px)",  "building corners, mean (px)",
    "building corners, max (px)",   "all corners, mean (px)",   "all corners, max (px)",
    "rotation (deg)",               "translation (% of distance)", "focal length (%)"};

struct Point3 {
    double X, Y, Z;
};

// One camera of either file; `found` is always true for the truth. The
// lens: lens.fx is f; the estimates have no distortion.
struct Pose {
    long frame;
    bool found;
    bool tracked;  // the estimate came from tracked corners (arrender --track)
    bool covered;  // the truth: something covers part of the board
    double f, R[9], T[3];
    CameraModel lens;
};

struct FrameError {
    long frame;
    double figure[kFigureCount];  // NaN where no point could be measured
    double seenMean;              // all corners in the part of the picture the board has been seen in, px
};

struct Stretch {
    long first, last;  // frames, inclusive; first < 0 when there is none
};

struct Jitter {
    long pairs;           // pairs of consecutive frames measured
    double rmsPx, maxPx;  // NaN without pairs
    bool trueCameraStill;
};

struct Options {
    std::string posesPath, truthPath, cameraPath;
    std::string referencePath;  // --reference: another run's poses, whose errors over a switch's windows are subtracted
    bool csv = false;
    Stretch still = {-1, -1};  // from --still; none: the longest still run of the truth
    BoardSize board = kDefaultBoard;
    std::string scenePath;      // --scene: its occluders' corners instead of the buildings'
    int width = 0, height = 0;  // from --size; 0: see pictureSize
};

// The picture, and the lens the display is undistorted with (--camera).
struct Setting {
    int width, height;
    bool undistorted;
    CameraModel display;
    std::vector<Point3> points;  // the board's corners, then the buildings'
    int boardCorners;
};

// ---------------------------------------------------------------- reading CSV

// A CSV file read line by line, with the line number for messages.
struct CsvReader {
    std::FILE* file;
    const char* path;
    long line;
};

bool fail(const char* path, long line, const std::string& problem) {
    if (line > 0) std::fprintf(stderr, "%s: %s: line %ld: %s\n", kProgram, path, line, problem.c_str());
    else std::fprintf(stderr, "%s: %s: %s\n", kProgram, path, problem.c_str());
    return false;
}

// Next line without its end (LF or CRLF). False at the end of the file, or
// with a message on a line that is too long or holds a NUL byte.
bool readLine(CsvReader* in, std::string* line, bool* error) {
    char buffer[kMaxLineBytes];
    *error = false;
    if (!std::fgets(buffer, sizeof buffer, in->file)) return false;
    ++in->line;
    size_t length = std::strlen(buffer);
    bool complete = length > 0 && buffer[length - 1] == '\n';
    if (!complete && !std::feof(in->file)) {
        int next = std::getc(in->file);  // a full buffer may have ended just at the file's end
        if (next != EOF) {
            *error = true;
            return fail(in->path, in->line, "line too long or not text");
        }
    }
    if (complete) --length;
    if (length > 0 && buffer[length - 1] == '\r') --length;
    line->assign(buffer, length);
    return true;
}

bool parseInteger(const std::string& text, long low, long high, long* value) {
    if (text.empty()) return false;
    char* end = nullptr;
    errno = 0;
    long v = std::strtol(text.c_str(), &end, 10);
    if (*end != '\0' || errno == ERANGE || v < low || v > high) return false;
    *value = v;
    return true;
}

// Where each column is in the file (-1: absent); false with the problem
// when a required column is missing, a column repeats or is not allowed.
bool mapColumns(const std::vector<std::string>& header, const ColumnSet& set, int* at, std::string* problem) {
    std::fill(at, at + kColumnCount, -1);
    for (int i = 0; i < (int)header.size(); ++i) {
        int c = (int)(std::find(kColumnNames, kColumnNames + kColumnCount, header[i]) - kColumnNames);
        bool known = c < kColumnCount && (set.required[c] || set.optional[c]);
        if (known && at[c] >= 0) return *problem = "column " + header[i] + " appears twice", false;
        if (known) at[c] = i;
        else if (!set.othersAllowed) return *problem = "unexpected column '" + header[i] + "'", false;
    }
    for (int c = 0; c < kColumnCount; ++c)
        if (set.required[c] && at[c] < 0) return *problem = std::string("no column ") + kColumnNames[c], false;
    return true;
}

// The field of column c as a number; `fallback` when the file has no such column.
bool field(const std::vector<std::string>& fields, const int* at, int c, double fallback, double* value) {
    if (at[c] < 0) return *value = fallback, true;
    return parseCsvNumber(fields[at[c]], value);
}

// f, R, T and the lens from a row: fy = f, the principal point in the middle
// of the picture and no distortion where the file has no columns for them.
bool parseCamera(const std::vector<std::string>& fields, const int* at, const Setting& s, Pose* p) {
    bool ok = parseCsvNumber(fields[at[kF]], &p->f);
    for (int i = 0; i < 9; ++i) ok = ok && parseCsvNumber(fields[at[kR1 + i]], &p->R[i]);
    for (int i = 0; i < 3; ++i) ok = ok && parseCsvNumber(fields[at[kTx + i]], &p->T[i]);
    if (!ok) return false;
    p->lens = centredPinholeCamera(s.width, s.height, p->f);
    CameraModel& m = p->lens;
    ok = field(fields, at, kFy, p->f, &m.fy) && field(fields, at, kCx, m.cx, &m.cx) && field(fields, at, kCy, m.cy, &m.cy);
    for (int i = 0; i < kMaxDistortionCoefficients; ++i) ok = ok && field(fields, at, kK1 + i, 0.0, &m.distortion[i]);
    m.distortionCount = kMaxDistortionCoefficients;
    return ok;
}

bool isRotation(const double* R) {
    for (int a = 0; a < 3; ++a)
        for (int b = 0; b < 3; ++b) {
            double d = R[3 * a] * R[3 * b] + R[3 * a + 1] * R[3 * b + 1] + R[3 * a + 2] * R[3 * b + 2];
            if (std::fabs(d - (a == b ? 1.0 : 0.0)) > kRotationTolerance) return false;
        }
    double det = R[0] * (R[4] * R[8] - R[5] * R[7]) - R[1] * (R[3] * R[8] - R[5] * R[6]) +
                 R[2] * (R[3] * R[7] - R[4] * R[6]);
    return det > 0;
}

// Reads the header and then rows until the end; each row must have as many
// fields as the header and is handed to parseRow with the column map.
// False, with a message, on the first bad line.
template <typename ParseRow>
bool readRows(const char* path, const ColumnSet& set, ParseRow parseRow) {
    CsvReader in = {std::fopen(path, "r"), path, 0};
    if (!in.file) return fail(path, 0, std::string("cannot read: ") + std::strerror(errno));
    std::string line, problem;
    bool error = false, ok = true;
    int at[kColumnCount];
    size_t columns = 0;
    if (!readLine(&in, &line, &error)) ok = error ? false : fail(path, 0, "empty file");
    if (ok) {
        std::vector<std::string> header = splitCsvFields(line);
        columns = header.size();
        if (!mapColumns(header, set, at, &problem)) ok = fail(path, 1, "not the expected header (" + problem + ")");
    }
    long rows = 0;
    while (ok && readLine(&in, &line, &error)) {
        std::vector<std::string> fields = splitCsvFields(line);
        if (fields.size() != columns) ok = fail(path, in.line, "expected " + std::to_string(columns) + " fields");
        else if (++rows > kMaxFrames) ok = fail(path, in.line, "more than a million frames");
        else if (!parseRow(fields, at)) ok = fail(path, in.line, "malformed row");
    }
    std::fclose(in.file);
    return ok && !error;
}

// The pose log: frame, found, f, R, T, and fy, cx, cy where present.
bool readPoses(const char* path, const Setting& s, std::vector<Pose>* poses) {
    auto parseRow = [&s, poses](const std::vector<std::string>& fields, const int* at) {
        Pose p;
        long found = 0, tracked = 0;
        if (!parseInteger(fields[at[kFrame]], 0, kMaxFrames, &p.frame) ||
            !parseInteger(fields[at[kFound]], 0, 1, &found) || !parseCamera(fields, at, s, &p) ||
            (at[kTracked] >= 0 && !parseInteger(fields[at[kTracked]], 0, 1, &tracked)))
            return false;
        p.found = found == 1;
        p.tracked = tracked == 1;
        p.covered = false;
        poses->push_back(p);
        return true;
    };
    return readRows(path, posesColumns(), parseRow);
}

// The truth: frame, f, R, T, board_covered and the lens where present; f
// and fy > 0, R a rotation.
bool readTruth(const char* path, const Setting& s, std::vector<Pose>* truth) {
    auto parseRow = [&s, truth](const std::vector<std::string>& fields, const int* at) {
        Pose p;
        long covered = 0;
        if (!parseInteger(fields[at[kFrame]], 0, kMaxFrames, &p.frame) || !parseCamera(fields, at, s, &p) ||
            !parseInteger(fields[at[kCovered]], 0, 1, &covered) || p.f <= 0 || p.lens.fy <= 0 || !isRotation(p.R))
            return false;
        p.found = true;
        p.tracked = false;
        p.covered = covered == 1;
        truth->push_back(p);
        return true;
    };
    return readRows(path, truthColumns(), parseRow);
}

// Both files count frames from 0, one row each; the log may stop early.
bool checkFrames(const Options& o, const std::vector<Pose>& poses, const std::vector<Pose>& truth) {
    if (truth.empty()) return fail(o.truthPath.c_str(), 0, "no frames");
    if (poses.empty()) return fail(o.posesPath.c_str(), 0, "no frames");
    for (size_t i = 0; i < truth.size(); ++i)
        if (truth[i].frame != (long)i)
            return fail(o.truthPath.c_str(), (long)i + 2, "frame " + std::to_string(truth[i].frame) +
                                                                 ", expected " + std::to_string(i));
    if (poses.size() > truth.size())
        return fail(o.posesPath.c_str(), 0, std::to_string(poses.size()) + " frames, the truth has only " +
                                                std::to_string(truth.size()));
    for (size_t i = 0; i < poses.size(); ++i)
        if (poses[i].frame != (long)i)
            return fail(o.posesPath.c_str(), (long)i + 2, "frame " + std::to_string(poses[i].frame) +
                                                                 " does not match the truth's frame " +
                                                                 std::to_string(i));
    return true;
}

// ---------------------------------------------------------------- measuring

// The board's corners, then the occluders' (the board frame's (x, y, z) is
// the world point (x, z, -y): y is the height above the board).
std::vector<Point3> cornerPoints(BoardSize board, const Scene& scene) {
    std::vector<Point3> points;
    for (int k = 0; k < board.columns * board.rows; ++k)
        points.push_back({double(k % board.columns), double(k / board.columns), 0.0});
    for (const Occluder& o : scene.occluders)
        for (const ScenePoint& b : o.corners) points.push_back({b[0], b[2], -b[1]});
    return points;
}

double depth(const Pose& c, const Point3& p) { return c.R[6] * p.X + c.R[7] * p.Y + c.R[8] * p.Z + c.T[2]; }

bool distorts(const CameraModel& m) {
    for (double k : m.distortion)
        if (k != 0.0) return true;
    return false;
}

// Where the pinhole part of camera c puts p, in pixels from its principal
// point; false when p is not in front of the camera.
bool pinholePoint(const Pose& c, const Point3& p, double* x, double* y) {
    if (!(depth(c, p) > kMinDepth)) return false;
    tsaiProject(p.X, p.Y, p.Z, x, y, c.f, c.T, c.R);
    if (c.lens.fy != c.f) *y *= c.lens.fy / c.f;
    return std::isfinite(*x) && std::isfinite(*y);
}

enum Placement { kPlaced, kBehind, kPastFold };

// Where the true camera shows p, in pixels from its principal point, through
// its lens: the distortion of the normalised point, which must come back
// to it (a point past the fold comes back elsewhere).
Placement truePoint(const Pose& t, const Point3& p, double* x, double* y) {
    if (!pinholePoint(t, p, x, y)) return kBehind;
    if (!distorts(t.lens)) return kPlaced;
    double xn = *x / t.f, yn = *y / t.lens.fy, xd, yd, xBack, yBack;
    distortNormalised(t.lens, xn, yn, &xd, &yd);
    if (!undistortNormalised(t.lens, xd, yd, &xBack, &yBack) ||
        std::fabs(xBack - xn) + std::fabs(yBack - yn) > kRoundTrip * (1 + std::fabs(xn) + std::fabs(yn)))
        return kPastFold;
    *x = t.f * xd, *y = t.lens.fy * yd;
    return kPlaced;
}

// Distance in pixels between where the overlay draws p and where the true
// camera shows it, in the picture or (undistorted) in the picture undistorted
// with the display's lens. Infinite when p is behind either camera, NaN when
// it is past a lens's fold.
double registrationDistance(const Setting& s, const Pose& estimate, const Pose& truth, const Point3& p) {
    double xe, ye, xt, yt;
    bool inFront = pinholePoint(estimate, p, &xe, &ye);
    Placement placed = truePoint(truth, p, &xt, &yt);
    if (!inFront || placed == kBehind) return INFINITY;
    if (placed == kPastFold) return NAN;
    if (!s.undistorted && !distorts(estimate.lens))
        return std::hypot(xe - xt + (estimate.lens.cx - truth.lens.cx), ye - yt + (estimate.lens.cy - truth.lens.cy));
    // The undistorted picture shows only what the camera's picture holds.
    double column = xt + truth.lens.cx, row = yt + truth.lens.cy;
    if (column < -0.5 || row < -0.5 || column > s.width - 0.5 || row > s.height - 0.5) return NAN;
    const CameraModel& d = s.undistorted ? s.display : estimate.lens;
    double x, y;
    if (!undistortNormalised(d, (xt + truth.lens.cx - d.cx) / d.fx, (yt + truth.lens.cy - d.cy) / d.fy, &x, &y))
        return NAN;
    return std::hypot(xe + estimate.lens.cx - (d.fx * x + d.cx), ye + estimate.lens.cy - (d.fy * y + d.cy));
}

// Mean and maximum over the values that are not NaN; NaN when all are.
void meanAndMax(const double* values, int n, double* mean, double* max) {
    double sum = 0.0, largest = 0.0;
    int counted = 0;
    for (int i = 0; i < n; ++i) {
        if (std::isnan(values[i])) continue;
        sum += values[i];
        largest = std::fmax(largest, values[i]);
        ++counted;
    }
    *mean = counted > 0 ? sum / counted : NAN;
    *max = counted > 0 ? largest : NAN;
}

// Angle of R_a R_b^T: the Frobenius norm of R_a - R_b is 2 sqrt(2) sin(angle/2),
// which keeps small angles exact where acos of the trace would not.
double rotationAngleDeg(const double* Ra, const double* Rb) {
    double sum = 0.0;
    for (int i = 0; i < 9; ++i) sum += (Ra[i] - Rb[i]) * (Ra[i] - Rb[i]);
    double s = std::fmin(1.0, std::sqrt(sum) / (2.0 * std::sqrt(2.0)));
    return 2.0 * std::asin(s) * 180.0 / kPi;
}

double translationErrorPercent(const double* Ta, const double* Tb) {
    double d = std::hypot(Ta[0] - Tb[0], Ta[1] - Tb[1], Ta[2] - Tb[2]);
    double distance = std::hypot(Tb[0], Tb[1], Tb[2]);
    return distance > 0 ? 100.0 * d / distance : INFINITY;
}

// The part of the picture where the board has been seen: the cells of a
// kSeenColumns x kSeenRows grid that have held a true board corner of a
// measured frame. A lens found from the views of a board is only known
// there; beyond it, its model is an extrapolation.
constexpr int kSeenColumns = 16, kSeenRows = 12;

struct SeenRegion {
    bool cells[kSeenColumns * kSeenRows] = {};
};

// The cell of the true camera's pixel of p, or -1 outside the picture.
int seenCell(const Setting& s, const Pose& truth, const Point3& p) {
    double x, y;
    if (truePoint(truth, p, &x, &y) != kPlaced) return -1;
    double column = x + truth.lens.cx + 0.5, row = y + truth.lens.cy + 0.5;
    if (!(column >= 0 && row >= 0 && column < s.width && row < s.height)) return -1;
    return (int)(row * kSeenRows / s.height) * kSeenColumns + (int)(column * kSeenColumns / s.width);
}

void addBoardSeen(const Setting& s, const Pose& truth, SeenRegion* seen) {
    for (int k = 0; k < s.boardCorners; ++k) {
        int cell = seenCell(s, truth, s.points[k]);
        if (cell >= 0) seen->cells[cell] = true;
    }
}

FrameError measureFrame(const Setting& s, const Pose& estimate, const Pose& truth, long* pointsLeftOut,
                        const SeenRegion* seen = nullptr) {
    const int all = (int)s.points.size(), board = s.boardCorners;
    std::vector<double> distance(all);
    double seenSum = 0;
    int seenCount = 0;
    for (int k = 0; k < all; ++k) {
        distance[k] = registrationDistance(s, estimate, truth, s.points[k]);
        if (std::isnan(distance[k])) ++*pointsLeftOut;
        int cell = seen && !std::isnan(distance[k]) ? seenCell(s, truth, s.points[k]) : -1;
        if (cell >= 0 && seen->cells[cell]) seenSum += distance[k], ++seenCount;
    }
    FrameError e;
    e.seenMean = seenCount > 0 ? seenSum / seenCount : NAN;
    double* v = e.figure;
    meanAndMax(distance.data(), board, &v[kBoardMean], &v[kBoardMax]);
    meanAndMax(distance.data() + board, all - board, &v[kBuildingMean], &v[kBuildingMax]);
    meanAndMax(distance.data(), all, &v[kAllMean], &v[kAllMax]);
    v[kRotationDeg] = rotationAngleDeg(estimate.R, truth.R);
    v[kTranslationPercent] = translationErrorPercent(estimate.T, truth.T);
    v[kFocalPercent] = 100.0 * std::fabs(estimate.f - truth.f) / truth.f;
    return e;
}

bool closeTo(double a, double b) { return std::fabs(a - b) <= kLensTolerance * std::fmax(1.0, std::fmax(std::fabs(a), std::fabs(b))); }

// A frame counts when the board was found (or tracked) and a camera is in
// force (f is zero until the first calibration) and, with --camera, the
// camera is the display lens's.
bool measured(const Setting& s, const Pose& p) {
    if (!(p.found || p.tracked) || !(p.f > 0)) return false;
    if (!s.undistorted) return true;
    return closeTo(p.f, s.display.fx) && closeTo(p.lens.fy, s.display.fy) && closeTo(p.lens.cx, s.display.cx) &&
           closeTo(p.lens.cy, s.display.cy);
}

std::vector<FrameError> measureFrames(const Setting& s, const std::vector<Pose>& poses,
                                      const std::vector<Pose>& truth, long* firstMeasured, long* pointsLeftOut) {
    std::vector<FrameError> errors;
    *firstMeasured = -1;
    *pointsLeftOut = 0;
    SeenRegion seen;
    for (size_t i = 0; i < poses.size(); ++i) {
        if (!measured(s, poses[i])) continue;
        if (*firstMeasured < 0) *firstMeasured = (long)i;
        addBoardSeen(s, truth[i], &seen);
        errors.push_back(measureFrame(s, poses[i], truth[i], pointsLeftOut, &seen));
        errors.back().frame = (long)i;
    }
    return errors;
}

bool sameCamera(const Pose& a, const Pose& b) {
    bool same = a.f == b.f;
    for (int i = 0; i < 9; ++i) same = same && a.R[i] == b.R[i];
    for (int i = 0; i < 3; ++i) same = same && a.T[i] == b.T[i];
    return same;
}

// The longest run of consecutive frames with bit-identical true cameras (the
// first one on a tie); none when no two neighbours are identical.
Stretch longestStillRun(const std::vector<Pose>& truth) {
    Stretch best = {-1, -1};
    long runStart = 0;
    for (long i = 1; i < (long)truth.size(); ++i) {
        if (!sameCamera(truth[i], truth[i - 1])) runStart = i;
        else if (best.first < 0 || i - runStart > best.last - best.first) best = {runStart, i};
    }
    return best;
}

// Pixel distance between the overlay's places of p in two frames.
double overlayDisplacement(const Pose& a, const Pose& b, const Point3& p) {
    double xa, ya, xb, yb;
    if (!pinholePoint(a, p, &xa, &ya) || !pinholePoint(b, p, &xb, &yb)) return INFINITY;
    return std::hypot(xa - xb + (a.lens.cx - b.lens.cx), ya - yb + (a.lens.cy - b.lens.cy));
}

// Frame-to-frame displacement of the building corners' places through the
// estimated camera, over pairs of consecutive measured frames inside the
// stretch, for the corners the true camera shows inside the picture.
Jitter measureJitter(const Setting& s, const std::vector<Pose>& poses, const std::vector<Pose>& truth,
                     Stretch still) {
    Jitter j = {0, NAN, NAN, true};
    if (still.first < 0) return j;
    double sumSquares = 0.0, largest = 0.0;
    long displacements = 0;
    for (long i = still.first + 1; i <= still.last && i < (long)poses.size(); ++i) {
        j.trueCameraStill = j.trueCameraStill && sameCamera(truth[i], truth[i - 1]);
        if (!measured(s, poses[i]) || !measured(s, poses[i - 1])) continue;
        ++j.pairs;
        for (size_t k = s.boardCorners; k < s.points.size(); ++k) {
            if (seenCell(s, truth[i], s.points[k]) < 0) continue;  // outside the picture: nobody sees it jitter
            double d = overlayDisplacement(poses[i], poses[i - 1], s.points[k]);
            sumSquares += d * d;
            largest = std::fmax(largest, d);
            ++displacements;
        }
    }
    if (j.pairs > 0) j.rmsPx = std::sqrt(sumSquares / displacements), j.maxPx = largest;
    return j;
}

struct Summary {
    double median[kFigureCount], p95[kFigureCount];
};

Summary summarise(const std::vector<FrameError>& errors) {
    Summary s;
    for (int f = 0; f < kFigureCount; ++f) {
        std::vector<double> values;
        for (const FrameError& e : errors) values.push_back(e.figure[f]);
        s.median[f] = percentile(values, 0.5);
        s.p95[f] = percentile(values, 0.95);
    }
    return s;
}

// The frames in which something covers part of the board, against the
// uncovered frames around them: the mean error of all corners per frame,
// median over each set.
struct Covered {
    long frames, measured, tracked;
    double allMeanMedianPx, aroundAllMeanMedianPx;
};

bool nearCoveredFrame(const std::vector<Pose>& truth, long i) {
    for (long j = std::max(0L, i - kAroundCoveredFrames); j <= i + kAroundCoveredFrames && j < (long)truth.size(); ++j)
        if (truth[j].covered) return true;
    return false;
}

Covered measureCovered(const Setting& s, const std::vector<Pose>& poses, const std::vector<Pose>& truth) {
    Covered c = {0, 0, 0, NAN, NAN};
    std::vector<double> covered, around;
    long leftOut = 0;
    for (long i = 0; i < (long)poses.size(); ++i) {
        c.frames += truth[i].covered ? 1 : 0;
        if (!measured(s, poses[i]) || !(truth[i].covered || nearCoveredFrame(truth, i))) continue;
        double error = measureFrame(s, poses[i], truth[i], &leftOut).figure[kAllMean];
        if (!truth[i].covered) {
            around.push_back(error);
            continue;
        }
        covered.push_back(error);
        ++c.measured;
        c.tracked += poses[i].tracked ? 1 : 0;
    }
    c.allMeanMedianPx = percentile(covered, 0.5);
    c.aroundAllMeanMedianPx = percentile(around, 0.5);
    return c;
}

// ---------------------------------------------------------------- lens switches

// Frames over which a switch's effect is judged, before it and from it on.
constexpr long kSwitchWindow = 30;

// The camera a row drew with: f, fy, cx, cy and the lens.
bool sameLens(const Pose& a, const Pose& b) {
    if (a.f != b.f || a.lens.fy != b.lens.fy || a.lens.cx != b.lens.cx || a.lens.cy != b.lens.cy) return false;
    for (int k = 0; k < kMaxDistortionCoefficients; ++k)
        if (a.lens.distortion[k] != b.lens.distortion[k]) return false;
    return true;
}

// A self-calibrating run changes its camera while it runs: every change after
// the first calibrated row is a switch. The registration of all corners
// before the first switch and from it on, the camera's error at the first
// switch and at the end, and the largest rise of the median over the
// kSwitchWindow measured frames after a switch against the ones before it.
// The camera at the end is the last calibrated row's, switch or not.
struct Switches {
    std::vector<long> frames;
    double firstFocalPercent, firstCentrePx, finalFocalPercent, finalCentrePx;  // signed f error; distance
    Summary before, after;
    double afterSeenMedianPx, afterSeenP95Px;  // all corners in the seen part, from the first switch on
    double worstRisePx;  // NaN without a switch with frames on both sides
    double worstNetRisePx;  // the same less the reference run's change over the same frames; NaN without one
    double worstSeenRisePx;  // the same for the corners in the part of the picture the board has been seen in
};

double centreErrorPx(const Pose& estimate, const Pose& truth) {
    return std::hypot(estimate.lens.cx - truth.lens.cx, estimate.lens.cy - truth.lens.cy);
}

std::vector<long> lensSwitches(const std::vector<Pose>& poses) {
    std::vector<long> frames;
    long last = -1;
    for (long i = 0; i < (long)poses.size(); ++i) {
        if (!(poses[i].f > 0)) continue;
        if (last >= 0 && !sameLens(poses[i], poses[last])) frames.push_back(i);
        last = i;
    }
    return frames;
}

double medianAllMean(const std::vector<FrameError>& errors) {
    std::vector<double> values;
    for (const FrameError& e : errors) values.push_back(e.figure[kAllMean]);
    return percentile(values, 0.5);
}

double medianSeenMean(const std::vector<FrameError>& errors) {
    std::vector<double> values;
    for (const FrameError& e : errors) values.push_back(e.seenMean);
    return percentile(values, 0.5);
}

// The median of the reference's errors over the given frames (NaN when the
// reference measured none of them).
double referenceMedian(const std::vector<FrameError>& reference, const std::vector<FrameError>& frames,
                       bool seen = false) {
    std::vector<double> values;
    for (const FrameError& e : frames)
        for (const FrameError& r : reference)
            if (r.frame == e.frame) values.push_back(seen ? r.seenMean : r.figure[kAllMean]);
    return percentile(values, 0.5);
}

Switches measureSwitches(const std::vector<Pose>& poses, const std::vector<Pose>& truth,
                         const std::vector<FrameError>& errors, const std::vector<FrameError>& reference) {
    Switches w;
    w.frames = lensSwitches(poses);
    w.firstFocalPercent = w.firstCentrePx = w.finalFocalPercent = w.finalCentrePx = w.worstRisePx = NAN;
    w.worstNetRisePx = w.worstSeenRisePx = NAN;
    std::vector<FrameError> before, after;
    long first = w.frames.empty() ? (long)poses.size() : w.frames.front();
    std::vector<double> afterSeen;
    for (const FrameError& e : errors) {
        (e.frame < first ? before : after).push_back(e);
        if (e.frame >= first) afterSeen.push_back(e.seenMean);
    }
    w.before = summarise(before);
    w.after = summarise(after);
    w.afterSeenMedianPx = percentile(afterSeen, 0.5), w.afterSeenP95Px = percentile(afterSeen, 0.95);
    long last = (long)poses.size() - 1;
    while (last >= 0 && !(poses[last].f > 0)) --last;
    if (last >= 0) {
        w.finalFocalPercent = 100.0 * (poses[last].f - truth[last].f) / truth[last].f;
        w.finalCentrePx = centreErrorPx(poses[last], truth[last]);
    }
    if (w.frames.empty()) return w;
    w.firstFocalPercent = 100.0 * (poses[first].f - truth[first].f) / truth[first].f;
    w.firstCentrePx = centreErrorPx(poses[first], truth[first]);
    for (long frame : w.frames) {
        std::vector<FrameError> earlier, later;
        for (const FrameError& e : errors) {
            if (e.frame < frame) earlier.push_back(e);
            else if ((long)later.size() < kSwitchWindow) later.push_back(e);
        }
        if (earlier.size() > (size_t)kSwitchWindow) earlier.erase(earlier.begin(), earlier.end() - kSwitchWindow);
        if (earlier.empty() || later.empty()) continue;
        double rise = medianAllMean(later) - medianAllMean(earlier);
        if (std::isnan(w.worstRisePx) || rise > w.worstRisePx) w.worstRisePx = rise;
        double net = rise - (referenceMedian(reference, later) - referenceMedian(reference, earlier));
        if (!std::isnan(net) && (std::isnan(w.worstNetRisePx) || net > w.worstNetRisePx)) w.worstNetRisePx = net;
        double seenRise = medianSeenMean(later) - medianSeenMean(earlier);
        if (!reference.empty())
            seenRise -= referenceMedian(reference, later, true) - referenceMedian(reference, earlier, true);
        if (!std::isnan(seenRise) && (std::isnan(w.worstSeenRisePx) || seenRise > w.worstSeenRisePx))
            w.worstSeenRisePx = seenRise;
    }
    return w;
}

// ---------------------------------------------------------------- reporting

struct Report {
    long frames, found, tracked, measuredFrames, firstMeasured, pointsLeftOut;
    Summary summary;
    Covered covered;
    Stretch still;
    Jitter jitter;
    Switches switches;
    Summary moving;  // the frames whose true camera differs from the frame before's
    double seenMedianPx, seenP95Px;  // all corners in the part of the picture the board has been seen in
    std::string cameraPath;  // empty without --camera
};

void printTable(const Report& r) {
    std::printf("frames %ld, board found in %ld, tracked in %ld, measured %ld (found or tracked, camera calibrated)\n",
                r.frames, r.found, r.tracked, r.measuredFrames);
    if (!r.cameraPath.empty())
        std::printf("in the picture undistorted with %s: %ld frames with its lens, from frame %ld\n",
                    r.cameraPath.c_str(), r.measuredFrames, r.firstMeasured);
    if (r.pointsLeftOut > 0)
        std::printf("%ld corner places left out: past the fold of a lens, far outside the picture%s\n",
                    r.pointsLeftOut, r.cameraPath.empty() ? "" : ", or outside the picture undistorted");
    const Switches& w = r.switches;
    if (!w.frames.empty()) {
        std::printf("lens switches at frames");
        for (long frame : w.frames) std::printf(" %ld", frame);
        std::printf("; f at the first %+.3f %%, principal point %.2f px off; at the end %+.3f %%, %.2f px off\n",
                    w.firstFocalPercent, w.firstCentrePx, w.finalFocalPercent, w.finalCentrePx);
        std::printf("all corners, mean (px), median / 95th pct: before the first switch %.3f / %.3f, from it on "
                    "%.3f / %.3f; largest rise over %ld frames after a switch %+.3f px\n",
                    w.before.median[kAllMean], w.before.p95[kAllMean], w.after.median[kAllMean],
                    w.after.p95[kAllMean], kSwitchWindow, w.worstRisePx);
        std::printf("corners in the part of the picture the board has been seen in, from the first switch on: "
                    "%.3f / %.3f px\n", w.afterSeenMedianPx, w.afterSeenP95Px);
        if (!std::isnan(w.worstNetRisePx))
            std::printf("largest rise after a switch less the reference's over the same frames: %+.3f px\n",
                        w.worstNetRisePx);
    }
    std::printf("\n%-30s %10s %10s\n", "error per frame", "median", "95th pct");
    for (int f = 0; f < kFigureCount; ++f)
        std::printf("%-30s %10.3f %10.3f\n", kFigureLabels[f], r.summary.median[f], r.summary.p95[f]);
    std::printf("\n");
    if (r.covered.frames > 0)
        std::printf("covered frames: %ld, measured %ld (%ld tracked), all corners mean %.3f px (median); "
                    "uncovered frames within %ld of them: %.3f px\n",
                    r.covered.frames, r.covered.measured, r.covered.tracked, r.covered.allMeanMedianPx,
                    kAroundCoveredFrames, r.covered.aroundAllMeanMedianPx);
    if (r.still.first < 0) {
        std::printf("jitter: no still stretch (no two neighbouring frames share a true camera)\n");
        return;
    }
    std::printf("jitter of the building corners, frames %ld-%ld%s: ", r.still.first, r.still.last,
                r.jitter.trueCameraStill ? "" : " (the true camera moves there)");
    if (r.jitter.pairs == 0) std::printf("no pair of consecutive frames with the board found\n");
    else
        std::printf("RMS %.3f px, max %.3f px over %ld frame pairs\n", r.jitter.rmsPx, r.jitter.maxPx,
                    r.jitter.pairs);
}

// One header line and one line of figures; with --camera, the first
// measured frame at the end.
void printCsv(const Report& r) {
    std::printf("frames,found,measured");
    for (const char* name : kFigureNames) std::printf(",%s_median,%s_p95", name, name);
    std::printf(",still_first,still_last,true_camera_still,jitter_pairs,jitter_rms_px,jitter_max_px");
    std::printf(",tracked,covered_frames,covered_measured,covered_all_mean_px_median,around_all_mean_px_median");
    std::printf(r.cameraPath.empty() ? "" : ",first_measured");
    std::printf(",switches,first_switch,switch_f_pct,switch_centre_px,final_f_pct,final_centre_px");
    std::printf(",before_all_mean_px_median,before_all_mean_px_p95,after_all_mean_px_median,after_all_mean_px_p95");
    std::printf(",after_buildings_mean_px_median,worst_switch_rise_px,moving_all_mean_px_median,moving_all_mean_px_p95");
    std::printf(",seen_all_mean_px_median,seen_all_mean_px_p95,after_seen_mean_px_median,after_seen_mean_px_p95");
    std::printf(",worst_switch_net_rise_px,worst_switch_seen_rise_px\n");
    std::printf("%ld,%ld,%ld", r.frames, r.found, r.measuredFrames);
    for (int f = 0; f < kFigureCount; ++f) std::printf(",%.9g,%.9g", r.summary.median[f], r.summary.p95[f]);
    std::printf(",%ld,%ld,%d,%ld,%.9g,%.9g", r.still.first, r.still.last, r.jitter.trueCameraStill ? 1 : 0,
                r.jitter.pairs, r.jitter.rmsPx, r.jitter.maxPx);
    std::printf(",%ld,%ld,%ld,%.9g,%.9g", r.tracked, r.covered.frames, r.covered.measured, r.covered.allMeanMedianPx,
                r.covered.aroundAllMeanMedianPx);
    if (!r.cameraPath.empty()) std::printf(",%ld", r.firstMeasured);
    const Switches& w = r.switches;
    std::printf(",%zu,%ld,%.9g,%.9g,%.9g,%.9g", w.frames.size(), w.frames.empty() ? -1L : w.frames.front(),
                w.firstFocalPercent, w.firstCentrePx, w.finalFocalPercent, w.finalCentrePx);
    std::printf(",%.9g,%.9g,%.9g,%.9g,%.9g,%.9g", w.before.median[kAllMean], w.before.p95[kAllMean],
                w.after.median[kAllMean], w.after.p95[kAllMean], w.after.median[kBuildingMean], w.worstRisePx);
    std::printf(",%.9g,%.9g", r.moving.median[kAllMean], r.moving.p95[kAllMean]);
    std::printf(",%.9g,%.9g,%.9g,%.9g", r.seenMedianPx, r.seenP95Px, w.afterSeenMedianPx, w.afterSeenP95Px);
    std::printf(",%.9g,%.9g\n", w.worstNetRisePx, w.worstSeenRisePx);
}

// ---------------------------------------------------------------- command line

bool parseStretch(const std::string& text, Stretch* s) {
    size_t colon = text.find(':');
    if (colon == std::string::npos) return false;
    return parseInteger(text.substr(0, colon), 0, kMaxFrames, &s->first) &&
           parseInteger(text.substr(colon + 1), 0, kMaxFrames, &s->last) && s->first < s->last;
}

bool parseSize(const std::string& text, int* width, int* height) {
    size_t x = text.find_first_of("xX");
    long w = 0, h = 0;
    if (x == std::string::npos || !parseInteger(text.substr(0, x), 1, 65536, &w) ||
        !parseInteger(text.substr(x + 1), 1, 65536, &h))
        return false;
    *width = (int)w, *height = (int)h;
    return true;
}

CommandLineOutcome parseArguments(int argc, char** argv, Options* o) {
    CLI::App app{"Compares the cameras of an arrender pose log (--poses) with the true cameras\n"
                 "of the sample video (make_board_video's CSV). For every frame with the board\n"
                 "found and a calibrated camera: the distance in pixels between where the true\n"
                 "camera shows the board's and the buildings' 16 corners and where the overlay\n"
                 "draws them (mean and maximum), the rotation error in degrees, the translation\n"
                 "error in percent of the distance and the focal length's error in percent; then\n"
                 "their median and 95th percentile, and the frame-to-frame jitter of the building\n"
                 "corners on a stretch where the camera holds still.",
                 kProgram};
    setUpCommandLine(&app);
    app.add_option("POSES", o->posesPath, "arrender's pose log")->required()->type_name("POSES.csv");
    app.add_option("TRUTH", o->truthPath, "make_board_video's truth")->required()->type_name("TRUTH.csv");
    app.add_flag("--csv", o->csv, "one header line and one line of figures instead of the table");
    app.add_option_function<std::string>(
           "--still",
           [o](const std::string& text) {
               if (!parseStretch(text, &o->still))
                   throw CLI::ValidationError("--still", "expected FIRST:LAST with FIRST < LAST, got '" + text + "'");
           },
           "the still stretch, frames counted from 0 (default: the longest\nrun of frames with identical true cameras)")
        ->type_name("FIRST:LAST");
    addBoardOption(&app, &o->board);
    app.add_option_function<std::string>(
           "--size",
           [o](const std::string& text) {
               if (!parseSize(text, &o->width, &o->height))
                   throw CLI::ValidationError("--size", "expected the picture's WxH in pixels, got '" + text + "'");
           },
           "the picture's size, for files without cx, cy and for --camera\n(default: the camera file beside the "
           "truth, NAME_camera.yml for\nNAME_truth.csv, else 640x480)")
        ->type_name("WxH");
    app.add_option("--scene", o->scenePath,
                   "a viewer's scene file: its occluders' corners are measured instead of\nthe buildings'")
        ->type_name("FILE");
    app.add_option("--camera", o->cameraPath,
                   "measure in the picture undistorted with this camera file, over\nthe frames whose lens is its own")
        ->type_name("FILE");
    app.add_option("--reference", o->referencePath,
                   "another run's pose log on the same video (for example with the true\ncamera file): a lens "
                   "switch's rise is also given net of that run's\nchange over the same frames")
        ->type_name("POSES.csv");
    return parseCommandLine(&app, argc, argv);
}

bool fileExists(const std::string& path) {
    struct stat info;
    return stat(path.c_str(), &info) == 0;
}

// The picture's size: --size, else the truth's camera file, else 640 x 480;
// then the display lens of --camera.
bool setUp(const Options& o, Setting* s) {
    s->width = o.width, s->height = o.height;
    std::string error;
    const std::string ending = "_truth.csv";
    if (s->width == 0 && o.truthPath.size() > ending.size() &&
        o.truthPath.compare(o.truthPath.size() - ending.size(), ending.size(), ending) == 0) {
        std::string camera = o.truthPath.substr(0, o.truthPath.size() - ending.size()) + "_camera.yml";
        CameraModel m;
        if (fileExists(camera) && !readCameraFile(camera, 0, 0, &m, &error))
            return std::fprintf(stderr, "%s: %s\n", kProgram, error.c_str()), false;
        if (fileExists(camera)) s->width = m.width, s->height = m.height;
    }
    if (s->width == 0) s->width = kDefaultWidth, s->height = kDefaultHeight;
    s->undistorted = !o.cameraPath.empty();
    if (s->undistorted && !readCameraFile(o.cameraPath, s->width, s->height, &s->display, &error))
        return std::fprintf(stderr, "%s: %s\n", kProgram, error.c_str()), false;
    Scene scene = builtInScene();
    if (!o.scenePath.empty() && !readSceneFile(o.scenePath, &scene, &error))
        return std::fprintf(stderr, "%s: %s\n", kProgram, error.c_str()), false;
    s->points = cornerPoints(o.board, scene);
    s->boardCorners = o.board.columns * o.board.rows;
    return true;
}

Report makeReport(const Options& o, const Setting& s, const std::vector<Pose>& poses, const std::vector<Pose>& truth,
                  const std::vector<FrameError>& errors, const std::vector<FrameError>& reference, Stretch still) {
    Report r;
    r.frames = (long)poses.size();
    r.found = r.tracked = 0;
    for (const Pose& p : poses) r.found += p.found ? 1 : 0, r.tracked += p.tracked ? 1 : 0;
    r.covered = measureCovered(s, poses, truth);
    r.measuredFrames = (long)errors.size();
    r.summary = summarise(errors);
    r.still = still;
    r.jitter = measureJitter(s, poses, truth, still);
    r.switches = measureSwitches(poses, truth, errors, reference);
    std::vector<FrameError> moving;
    for (const FrameError& e : errors)
        if (e.frame > 0 && !sameCamera(truth[e.frame], truth[e.frame - 1])) moving.push_back(e);
    r.moving = summarise(moving);
    std::vector<double> seen;
    for (const FrameError& e : errors) seen.push_back(e.seenMean);
    r.seenMedianPx = percentile(seen, 0.5), r.seenP95Px = percentile(seen, 0.95);
    r.cameraPath = o.cameraPath;
    return r;
}

}  // namespace

int main(int argc, char** argv) {
    Options o;
    CommandLineOutcome outcome = parseArguments(argc, argv, &o);
    if (!outcome.run) return outcome.status;

    Setting s;
    std::vector<Pose> poses, truth;
    if (!setUp(o, &s) || !readPoses(o.posesPath.c_str(), s, &poses) || !readTruth(o.truthPath.c_str(), s, &truth) ||
        !checkFrames(o, poses, truth))
        return kInputError;
    Stretch still = o.still.first >= 0 ? o.still : longestStillRun(truth);
    if (still.last >= (long)truth.size()) {
        fail(o.truthPath.c_str(), 0, "--still ends after the last frame " + std::to_string(truth.size() - 1));
        return kInputError;
    }

    long firstMeasured = -1, pointsLeftOut = 0;
    std::vector<FrameError> errors = measureFrames(s, poses, truth, &firstMeasured, &pointsLeftOut);
    if (errors.empty()) {
        fail(o.posesPath.c_str(), 0,
             s.undistorted ? "no frame with the board found and the lens of " + o.cameraPath
                           : std::string("no frame with the board found and a calibrated camera"));
        return kInputError;
    }
    std::vector<Pose> referencePoses;
    std::vector<FrameError> reference;
    if (!o.referencePath.empty()) {
        Setting plain = s;
        plain.undistorted = false;  // the reference's own rows say its lens
        long unusedFirst = -1, unusedLeftOut = 0;
        if (!readPoses(o.referencePath.c_str(), s, &referencePoses)) return kInputError;
        if (referencePoses.size() > truth.size()) {
            fail(o.referencePath.c_str(), 0, "more frames than the truth");
            return kInputError;
        }
        reference = measureFrames(plain, referencePoses, truth, &unusedFirst, &unusedLeftOut);
    }
    Report report = makeReport(o, s, poses, truth, errors, reference, still);
    report.firstMeasured = firstMeasured, report.pointsLeftOut = pointsLeftOut;
    if (o.csv) printCsv(report);
    else printTable(report);
    return 0;
}
