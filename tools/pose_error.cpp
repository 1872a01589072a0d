// pose_error.cpp - how well the overlay sits on the board: the cameras of an
// arrender pose log against the true cameras of the sample video.
//
// For every frame with the board found and a calibrated camera, the 48 board
// corners and the 16 building corners are projected through the estimated
// and through the true camera; the distances between the two projections
// give the mean and maximum in pixels (board, buildings, all 64 together).
// Beside them: the rotation error (degrees, the angle of R_est R_true^T), the
// translation error (|T_est - T_true| in percent of |T_true|) and the focal
// length's error (percent). Then the median and 95th percentile of each over
// the video, and the jitter of the building corners on a stretch where the
// camera holds still: RMS and maximum of the frame-to-frame displacement of
// each building corner's projection through the estimated camera, over the
// pairs of consecutive frames with the board found.
//
// Both projections share one principal point, so no distance depends on the
// picture's size. A point behind either camera has an infinite distance.
// Limits: the pose log's frames must be the truth's first frames, in order,
// counted from 0 (a log of a shorter run is fine); lines of at most 4095
// bytes, at most a million frames; the true R must be a rotation.
//
// Usage:
//     pose_error poses.csv board_truth.csv                 # the table
//     pose_error poses.csv board_truth.csv --csv --still 39:69
#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "tsai.h"

namespace {

constexpr const char* kProgram = "pose_error";
constexpr int kInputError = 1, kUsageError = 2;
constexpr double kPi = 3.14159265358979323846;

// Input limits.
constexpr size_t kMaxLineBytes = 4096;  // with the newline and the final NUL
constexpr long kMaxFrames = 1000000;
constexpr double kRotationTolerance = 1e-6;  // per entry of R R^T - I, true cameras
constexpr double kMinDepth = 1e-9;           // world units in front of the camera

// The pose log's leading columns and the truth's columns.
constexpr const char* kPosesColumns[] = {"frame", "found", "f",  "r1", "r2", "r3", "r4", "r5",
                                         "r6",    "r7",    "r8", "r9", "tx", "ty", "tz"};
constexpr const char* kTruthColumns[] = {"frame", "f",  "r1", "r2", "r3", "r4", "r5", "r6",
                                         "r7",    "r8", "r9", "tx", "ty", "tz", "board_covered"};
constexpr int kPosesLeadingColumns = 15, kTruthColumnCount = 15;

// Board: 8 x 6 inner corners, corner k at world (k mod 8, k div 8, 0).
constexpr int kCornerColumns = 8, kCornerRows = 6;
constexpr int kBoardCorners = kCornerColumns * kCornerRows;

// The buildings' corners in the board frame (x, y, z), which is the world
// point (x, z, -y): y is the height above the board.
constexpr int kBuildingCorners = 16;
constexpr double kBuildingCornersInBoardFrame[kBuildingCorners][3] = {
    // predio1
    {2.0, 0.0, 8.2}, {2.0, 6.0, 8.2}, {2.0, 6.0, 12.4}, {2.0, 0.0, 12.4},
    {7.2, 0.0, 8.2}, {7.2, 6.0, 8.2}, {7.0, 6.0, 12.4}, {7.0, 0.0, 12.4},
    // predio2
    {11.0, 0.0, 1.0}, {11.0, 4.0, 1.0}, {11.0, 4.0, 5.0}, {11.0, 0.0, 5.0},
    {15.4, 0.0, 1.4}, {15.2, 4.0, 1.3}, {15.3, 4.0, 5.4}, {15.4, 0.0, 5.4}};

constexpr int kAllCorners = kBoardCorners + kBuildingCorners;

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

// One camera of either file; `found` is always true for the truth.
struct Pose {
    long frame;
    bool found;
    double f, R[9], T[3];
};

struct FrameError {
    double figure[kFigureCount];
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
    std::string posesPath, truthPath;
    bool csv = false;
    Stretch still = {-1, -1};  // from --still; none: the longest still run of the truth
};

const char* const kUsage =
    "usage: pose_error POSES.csv TRUTH.csv [--csv] [--still FIRST:LAST]\n"
    "Compares the cameras of an arrender pose log (--poses) with the true\n"
    "cameras of the sample video (make_board_video's CSV). For every frame with\n"
    "the board found and a calibrated camera: the distance in pixels between the\n"
    "board's 48 and the buildings' 16 corners projected through both cameras\n"
    "(mean and maximum), the rotation error in degrees, the translation error in\n"
    "percent of the distance and the focal length's error in percent; then their\n"
    "median and 95th percentile, and the frame-to-frame jitter of the building\n"
    "corners' projections on a stretch where the camera holds still.\n"
    "  --csv               one header line and one line of figures instead of\n"
    "                      the table\n"
    "  --still FIRST:LAST  the still stretch, frames counted from 0 (default: the\n"
    "                      longest run of frames with identical true cameras)\n";

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

std::vector<std::string> splitFields(const std::string& line) {
    std::vector<std::string> fields;
    size_t start = 0;
    for (;;) {
        size_t comma = line.find(',', start);
        fields.push_back(line.substr(start, comma == std::string::npos ? std::string::npos : comma - start));
        if (comma == std::string::npos) return fields;
        start = comma + 1;
    }
}

bool parseNumber(const std::string& text, double* value) {
    if (text.empty()) return false;
    char* end = nullptr;
    errno = 0;
    double v = std::strtod(text.c_str(), &end);
    if (*end != '\0' || errno == ERANGE || !std::isfinite(v)) return false;
    *value = v;
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

// f, R and T from the given fields, from index `first` on.
bool parseCamera(const std::vector<std::string>& fields, int first, Pose* p) {
    bool ok = parseNumber(fields[first], &p->f);
    for (int i = 0; i < 9; ++i) ok = ok && parseNumber(fields[first + 1 + i], &p->R[i]);
    for (int i = 0; i < 3; ++i) ok = ok && parseNumber(fields[first + 10 + i], &p->T[i]);
    return ok;
}

bool headerStartsWith(const std::vector<std::string>& header, const char* const* names, int count) {
    if ((int)header.size() < count) return false;
    for (int i = 0; i < count; ++i)
        if (header[i] != names[i]) return false;
    return true;
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

// Opens the file and checks its header; the header's field count is returned
// in `columns`.
bool openCsv(const char* path, const char* const* names, int count, CsvReader* in, size_t* columns) {
    *in = {std::fopen(path, "r"), path, 0};
    if (!in->file) return fail(path, 0, std::string("cannot read: ") + std::strerror(errno));
    std::string line;
    bool error = false;
    if (!readLine(in, &line, &error)) return error ? false : fail(path, 0, "empty file");
    std::vector<std::string> header = splitFields(line);
    if (!headerStartsWith(header, names, count)) return fail(path, 1, "not the expected header");
    *columns = header.size();
    return true;
}

// Reads rows until the end; each row must have `columns` fields and is
// handed to parseRow. False, with a message, on the first bad row.
template <typename ParseRow>
bool readRows(const char* path, const char* const* names, int count, bool exactHeader, ParseRow parseRow) {
    CsvReader in;
    size_t columns = 0;
    bool ok = openCsv(path, names, count, &in, &columns);
    if (ok && exactHeader && columns != (size_t)count) ok = fail(path, 1, "not the expected header");
    std::string line;
    bool error = false;
    long rows = 0;
    while (ok && readLine(&in, &line, &error)) {
        std::vector<std::string> fields = splitFields(line);
        if (fields.size() != columns) ok = fail(path, in.line, "expected " + std::to_string(columns) + " fields");
        else if (++rows > kMaxFrames) ok = fail(path, in.line, "more than a million frames");
        else if (!parseRow(fields)) ok = fail(path, in.line, "malformed row");
    }
    if (in.file) std::fclose(in.file);
    return ok && !error;
}

// The pose log: frame, found, f, R, T, then any further columns.
bool readPoses(const char* path, std::vector<Pose>* poses) {
    auto parseRow = [poses](const std::vector<std::string>& fields) {
        Pose p;
        long found = 0;
        if (!parseInteger(fields[0], 0, kMaxFrames, &p.frame) || !parseInteger(fields[1], 0, 1, &found) ||
            !parseCamera(fields, 2, &p))
            return false;
        p.found = found == 1;
        poses->push_back(p);
        return true;
    };
    return readRows(path, kPosesColumns, kPosesLeadingColumns, false, parseRow);
}

// The truth: frame, f, R, T, board_covered; f > 0 and R a rotation.
bool readTruth(const char* path, std::vector<Pose>* truth) {
    auto parseRow = [truth](const std::vector<std::string>& fields) {
        Pose p;
        long covered = 0;
        if (!parseInteger(fields[0], 0, kMaxFrames, &p.frame) || !parseCamera(fields, 1, &p) ||
            !parseInteger(fields[14], 0, 1, &covered) || p.f <= 0 || !isRotation(p.R))
            return false;
        p.found = true;
        truth->push_back(p);
        return true;
    };
    return readRows(path, kTruthColumns, kTruthColumnCount, true, parseRow);
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

void cornerPoints(Point3* points) {
    for (int k = 0; k < kBoardCorners; ++k) points[k] = {double(k % kCornerColumns), double(k / kCornerColumns), 0.0};
    for (int k = 0; k < kBuildingCorners; ++k) {
        const double* b = kBuildingCornersInBoardFrame[k];
        points[kBoardCorners + k] = {b[0], b[2], -b[1]};
    }
}

double depth(const Pose& c, const Point3& p) { return c.R[6] * p.X + c.R[7] * p.Y + c.R[8] * p.Z + c.T[2]; }

// Image point of p through c; false when p is not in front of the camera.
bool project(const Pose& c, const Point3& p, double* x, double* y) {
    if (!(depth(c, p) > kMinDepth)) return false;
    tsaiProject(p.X, p.Y, p.Z, x, y, c.f, c.T, c.R);
    return std::isfinite(*x) && std::isfinite(*y);
}

// Distance in pixels between the two projections of p; infinite when p is
// behind either camera.
double projectionDistance(const Pose& estimate, const Pose& truth, const Point3& p) {
    double xe, ye, xt, yt;
    if (!project(estimate, p, &xe, &ye) || !project(truth, p, &xt, &yt)) return INFINITY;
    return std::hypot(xe - xt, ye - yt);
}

void meanAndMax(const double* values, int n, double* mean, double* max) {
    double sum = 0.0, largest = 0.0;
    for (int i = 0; i < n; ++i) {
        sum += values[i];
        largest = std::fmax(largest, values[i]);
    }
    *mean = sum / n;
    *max = largest;
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

FrameError measureFrame(const Pose& estimate, const Pose& truth, const Point3* points) {
    double distance[kAllCorners];
    for (int k = 0; k < kAllCorners; ++k) distance[k] = projectionDistance(estimate, truth, points[k]);
    FrameError e;
    double* v = e.figure;
    meanAndMax(distance, kBoardCorners, &v[kBoardMean], &v[kBoardMax]);
    meanAndMax(distance + kBoardCorners, kBuildingCorners, &v[kBuildingMean], &v[kBuildingMax]);
    meanAndMax(distance, kAllCorners, &v[kAllMean], &v[kAllMax]);
    v[kRotationDeg] = rotationAngleDeg(estimate.R, truth.R);
    v[kTranslationPercent] = translationErrorPercent(estimate.T, truth.T);
    v[kFocalPercent] = 100.0 * std::fabs(estimate.f - truth.f) / truth.f;
    return e;
}

// A frame counts when the board was found and a camera is in force (f is
// zero until the first calibration).
bool measured(const Pose& p) { return p.found && p.f > 0; }

std::vector<FrameError> measureFrames(const std::vector<Pose>& poses, const std::vector<Pose>& truth,
                                      const Point3* points) {
    std::vector<FrameError> errors;
    for (size_t i = 0; i < poses.size(); ++i)
        if (measured(poses[i])) errors.push_back(measureFrame(poses[i], truth[i], points));
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

// Frame-to-frame displacement of the building corners' projections through
// the estimated camera, over pairs of consecutive frames inside the stretch
// that both have the board found.
Jitter measureJitter(const std::vector<Pose>& poses, const std::vector<Pose>& truth, Stretch s,
                     const Point3* points) {
    Jitter j = {0, NAN, NAN, true};
    if (s.first < 0) return j;
    double sumSquares = 0.0, largest = 0.0;
    long displacements = 0;
    for (long i = s.first + 1; i <= s.last && i < (long)poses.size(); ++i) {
        j.trueCameraStill = j.trueCameraStill && sameCamera(truth[i], truth[i - 1]);
        if (!measured(poses[i]) || !measured(poses[i - 1])) continue;
        ++j.pairs;
        for (int k = kBoardCorners; k < kAllCorners; ++k) {
            double d = projectionDistance(poses[i], poses[i - 1], points[k]);
            sumSquares += d * d;
            largest = std::fmax(largest, d);
            ++displacements;
        }
    }
    if (j.pairs > 0) j.rmsPx = std::sqrt(sumSquares / displacements), j.maxPx = largest;
    return j;
}

// Linear interpolation between the closest ranks of the sorted values.
double percentile(std::vector<double> values, double fraction) {
    std::sort(values.begin(), values.end());
    double position = fraction * (values.size() - 1);
    size_t below = (size_t)position;
    if (below + 1 >= values.size()) return values.back();
    double above = values[below + 1], at = values[below];
    if (std::isinf(above) || std::isinf(at)) return position > below ? above : at;
    return at + (position - below) * (above - at);
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

// ---------------------------------------------------------------- reporting

struct Report {
    long frames, found, measuredFrames;
    Summary summary;
    Stretch still;
    Jitter jitter;
};

void printTable(const Report& r) {
    std::printf("frames %ld, board found in %ld, measured %ld (found, camera calibrated)\n\n", r.frames, r.found,
                r.measuredFrames);
    std::printf("%-30s %10s %10s\n", "error per frame", "median", "95th pct");
    for (int f = 0; f < kFigureCount; ++f)
        std::printf("%-30s %10.3f %10.3f\n", kFigureLabels[f], r.summary.median[f], r.summary.p95[f]);
    std::printf("\n");
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

void printCsv(const Report& r) {
    std::printf("frames,found,measured");
    for (const char* name : kFigureNames) std::printf(",%s_median,%s_p95", name, name);
    std::printf(",still_first,still_last,true_camera_still,jitter_pairs,jitter_rms_px,jitter_max_px\n");
    std::printf("%ld,%ld,%ld", r.frames, r.found, r.measuredFrames);
    for (int f = 0; f < kFigureCount; ++f) std::printf(",%.9g,%.9g", r.summary.median[f], r.summary.p95[f]);
    std::printf(",%ld,%ld,%d,%ld,%.9g,%.9g\n", r.still.first, r.still.last, r.jitter.trueCameraStill ? 1 : 0,
                r.jitter.pairs, r.jitter.rmsPx, r.jitter.maxPx);
}

// ---------------------------------------------------------------- command line

int usageError(const std::string& message) {
    std::fprintf(stderr, "%s: %s (see --help)\n", kProgram, message.c_str());
    return kUsageError;
}

bool parseStretch(const std::string& text, Stretch* s) {
    size_t colon = text.find(':');
    if (colon == std::string::npos) return false;
    return parseInteger(text.substr(0, colon), 0, kMaxFrames, &s->first) &&
           parseInteger(text.substr(colon + 1), 0, kMaxFrames, &s->last) && s->first < s->last;
}

// 0 when the options are complete; -1 after --help; else the exit status.
int parseArguments(int argc, char** argv, Options* o) {
    std::vector<std::string> paths;
    for (int i = 1; i < argc; ++i) {
        std::string a = argv[i];
        if (a == "--help" || a == "-h") {
            std::fputs(kUsage, stdout);
            return -1;
        }
        if (a == "--csv") o->csv = true;
        else if (a == "--still") {
            if (i + 1 >= argc || !parseStretch(argv[++i], &o->still))
                return usageError("--still: expected FIRST:LAST with FIRST < LAST");
        } else if (a.size() > 1 && a[0] == '-') return usageError("unknown option " + a);
        else paths.push_back(a);
    }
    if (paths.size() != 2) return usageError("expected POSES.csv and TRUTH.csv");
    o->posesPath = paths[0];
    o->truthPath = paths[1];
    return 0;
}

Report makeReport(const std::vector<Pose>& poses, const std::vector<Pose>& truth,
                  const std::vector<FrameError>& errors, Stretch still, const Point3* points) {
    Report r;
    r.frames = (long)poses.size();
    r.found = 0;
    for (const Pose& p : poses) r.found += p.found ? 1 : 0;
    r.measuredFrames = (long)errors.size();
    r.summary = summarise(errors);
    r.still = still;
    r.jitter = measureJitter(poses, truth, still, points);
    return r;
}

}  // namespace

int main(int argc, char** argv) {
    Options o;
    int status = parseArguments(argc, argv, &o);
    if (status != 0) return status < 0 ? 0 : status;

    std::vector<Pose> poses, truth;
    if (!readPoses(o.posesPath.c_str(), &poses) || !readTruth(o.truthPath.c_str(), &truth) ||
        !checkFrames(o, poses, truth))
        return kInputError;
    Stretch still = o.still.first >= 0 ? o.still : longestStillRun(truth);
    if (still.last >= (long)truth.size()) {
        fail(o.truthPath.c_str(), 0, "--still ends after the last frame " + std::to_string(truth.size() - 1));
        return kInputError;
    }

    Point3 points[kAllCorners];
    cornerPoints(points);
    std::vector<FrameError> errors = measureFrames(poses, truth, points);
    if (errors.empty()) {
        fail(o.posesPath.c_str(), 0, "no frame with the board found and a calibrated camera");
        return kInputError;
    }
    Report report = makeReport(poses, truth, errors, still, points);
    if (o.csv) printCsv(report);
    else printTable(report);
    return 0;
}
