// arcalibrate.cpp - calibrates a camera's lens from views of the chessboard
// and writes the camera file the viewer reads with --camera.
//
// SOURCE is a camera (one or two digits), a video file, a picture, several
// pictures, or a numbered sequence (img%02d.png, read as OpenCV's
// VideoCapture reads it: it stops at the first missing number). In every
// picture the board is searched (adaptive threshold, normalised picture, the
// quick pre-check for video), its corners refined, and the view offered to a
// view collection that keeps up to --views views spread over the picture and
// over tilts. The lens is seeded with the median focal length of the kept
// views' Tsai calibrations, calibrated (f, principal point, k1 k2 p1 p2 k3),
// outlier views dropped and calibrated again; the report goes to standard
// output, progress to standard error.
//
// From a camera it stops once the collection is full and spread enough, or
// after --seconds. Exit status 0, 1 for a failed run (no board, under 5
// views, unreadable source, unwritable output; one line on standard error,
// no file left under the output's name), 2 for a bad command line.
//
// Usage:
//     arcalibrate calibration.avi -o camera.yml
//     arcalibrate left01.jpg left02.jpg left03.jpg ... --board 9x6 -o left.yml
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <ctime>
#include <string>
#include <vector>

#include <CLI/CLI.hpp>
#include <opencv2/calib3d.hpp>
#include <opencv2/imgcodecs.hpp>
#include <opencv2/imgproc.hpp>
#include <opencv2/videoio.hpp>

#include "calibration_views.h"
#include "camera_file.h"
#include "command_line.h"
#include "lens_calibration.h"
#include "tsai.h"

namespace {

using Clock = std::chrono::steady_clock;

constexpr const char* kProgram = "arcalibrate";
constexpr int kRunError = 1;

constexpr double kDefaultCameraSeconds = 120.0;
// A camera's collection is complete when full and spread this much.
constexpr double kWantedCoverage = 0.6;  // fraction of the picture's cells
constexpr int kWantedTilts = 8;          // tilt bins
// Progress lines for files: one every this many frames.
constexpr long kProgressEveryFrames = 50;

// cornerSubPix: half-window up to the OpenCV sample's 11 px, and at most
// kRefineWindowPerSpacing of the nearest corners' spacing. With larger
// windows the neighbouring squares' edges pull corners away: on the 9 x 6
// photographs of opencv-doc (spacing down to 21 px) the sample's 11 px window
// gives views of 0.5 to 1.2 px RMS error among views of 0.2.
constexpr int kMaxRefineHalfWindow = 11, kMinRefineHalfWindow = 2;
constexpr double kRefineWindowPerSpacing = 0.35;
constexpr int kRefineIterations = 30;
constexpr double kRefineEpsilon = 0.0001;  // px

struct Options {
    std::vector<std::string> sources;
    std::string output;
    BoardSize board = kDefaultBoard;
    int views = kDefaultCalibrationViews;
    double seconds = 0;  // 0: the default for the source
};

enum class SourceKind { kCamera, kVideo, kPictures, kSequence };

struct Source {
    SourceKind kind;
    std::vector<std::string> pictures;  // kPictures
    cv::VideoCapture capture;           // the others
    size_t next = 0;                    // next picture, or frame number
    std::string name;                   // for messages
};

int fail(const std::string& message) {
    std::fprintf(stderr, "%s: %s\n", kProgram, message.c_str());
    return kRunError;
}

bool isCameraIndex(const std::string& text) {
    return !text.empty() && text.size() <= 2 && std::all_of(text.begin(), text.end(), ::isdigit);
}

bool openSource(const std::vector<std::string>& sources, Source* source, std::string* error) {
    const std::string& first = sources.front();
    source->name = first;
    try {
        if (sources.size() > 1 || (first.find('%') == std::string::npos && !isCameraIndex(first) &&
                                   cv::haveImageReader(first))) {
            source->kind = SourceKind::kPictures;
            source->pictures = sources;
            return true;
        }
        if (isCameraIndex(first)) {
            source->kind = SourceKind::kCamera;
            source->capture.open(std::stoi(first));
        } else if (first.find('%') != std::string::npos) {
            source->kind = SourceKind::kSequence;
            source->capture.open(first, cv::CAP_IMAGES);
        } else {
            source->kind = SourceKind::kVideo;
            source->capture.open(first, cv::CAP_FFMPEG);
        }
    } catch (const cv::Exception& e) {
        *error = first + ": cannot open (" + e.what() + ")";
        return false;
    }
    if (!source->capture.isOpened()) {
        *error = first + ": cannot open as a camera, video, picture or picture sequence";
        return false;
    }
    return true;
}

// The next picture and its name; false at the end. A picture that cannot be
// read ends the run with *error set.
bool readPicture(Source* source, cv::Mat* picture, std::string* label, std::string* error) {
    if (source->kind == SourceKind::kPictures) {
        if (source->next >= source->pictures.size()) return false;
        *label = source->pictures[source->next++];
        try {
            *picture = cv::imread(*label, cv::IMREAD_COLOR);
        } catch (const cv::Exception&) {
            picture->release();
        }
        if (picture->empty()) *error = *label + ": cannot read as a picture";
        return !picture->empty();
    }
    try {
        if (!source->capture.read(*picture) || picture->empty()) return false;
    } catch (const cv::Exception&) {
        return false;
    }
    *label = source->kind == SourceKind::kCamera ? "frame " + std::to_string(source->next)
             : source->kind == SourceKind::kVideo ? "frame " + std::to_string(source->next)
                                                  : "picture " + std::to_string(source->next);
    ++source->next;
    return true;
}

int refineHalfWindow(const std::vector<cv::Point2f>& corners, cv::Size pattern) {
    double nearest = 1e9;
    for (int i = 0; i < pattern.height; ++i)
        for (int j = 0; j < pattern.width; ++j) {
            const cv::Point2f& p = corners[i * pattern.width + j];
            if (j + 1 < pattern.width) nearest = std::min(nearest, cv::norm(p - corners[i * pattern.width + j + 1]));
            if (i + 1 < pattern.height) nearest = std::min(nearest, cv::norm(p - corners[(i + 1) * pattern.width + j]));
        }
    int half = static_cast<int>(kRefineWindowPerSpacing * nearest);
    return std::min(std::max(half, kMinRefineHalfWindow), kMaxRefineHalfWindow);
}

bool findBoard(const cv::Mat& grey, cv::Size pattern, bool video, std::vector<cv::Point2f>* corners) {
    int flags = cv::CALIB_CB_ADAPTIVE_THRESH | cv::CALIB_CB_NORMALIZE_IMAGE | (video ? cv::CALIB_CB_FAST_CHECK : 0);
    try {
        if (!cv::findChessboardCorners(grey, pattern, *corners, flags)) return false;
        int half = refineHalfWindow(*corners, pattern);
        cv::cornerSubPix(grey, *corners, cv::Size(half, half), cv::Size(-1, -1),
                         cv::TermCriteria(cv::TermCriteria::EPS + cv::TermCriteria::COUNT, kRefineIterations,
                                          kRefineEpsilon));
    } catch (const cv::Exception&) {
        return false;
    }
    return static_cast<int>(corners->size()) == pattern.area();
}

bool collectionComplete(const ViewCollection& views) {
    return static_cast<int>(views.views.size()) == views.capacity && pictureCoverage(views) >= kWantedCoverage &&
           tiltsCovered(views) >= kWantedTilts;
}

void reportCollection(const ViewCollection& views, const std::string& where) {
    std::fprintf(stderr, "%s: %s: %zu of %d views, %.0f %% of the picture, %d tilts\n", kProgram, where.c_str(),
                 views.views.size(), views.capacity, 100 * pictureCoverage(views), tiltsCovered(views));
}

struct Collected {
    ViewCollection views;
    std::vector<std::string> labels;  // by source number
    long pictures = 0, boards = 0;
};

// Reads the source to its end (or the time limit, or, from a camera, a
// complete collection), offering every board found.
bool collectViews(Source* source, const Options& options, Collected* collected, std::string* error) {
    cv::Size pattern(options.board.columns, options.board.rows);
    bool live = source->kind == SourceKind::kCamera;
    bool video = source->kind != SourceKind::kPictures;
    double seconds = options.seconds > 0 ? options.seconds : live ? kDefaultCameraSeconds : 0;
    auto start = Clock::now();
    cv::Mat picture, grey;
    std::string label;
    std::vector<cv::Point2f> corners;
    while (readPicture(source, &picture, &label, error)) {
        if (collected->pictures == 0) {
            initViewCollection(&collected->views, picture.size(), pattern, options.views);
        } else if (picture.size() != collected->views.picture) {
            *error = label + ": " + std::to_string(picture.cols) + "x" + std::to_string(picture.rows) + ", not " +
                     std::to_string(collected->views.picture.width) + "x" +
                     std::to_string(collected->views.picture.height) + " as the first picture";
            return false;
        }
        collected->labels.push_back(label);
        ++collected->pictures;
        if (picture.channels() == 1) grey = picture;
        else cv::cvtColor(picture, grey, picture.channels() == 4 ? cv::COLOR_BGRA2GRAY : cv::COLOR_BGR2GRAY);
        bool found = findBoard(grey, pattern, video, &corners);
        ViewVerdict verdict = ViewVerdict::kMalformed;
        if (found) ++collected->boards, offerView(&collected->views, corners, grey, collected->pictures - 1, &verdict);
        bool changed = found && (verdict == ViewVerdict::kAdded || verdict == ViewVerdict::kReplaced);
        if (!video)
            std::fprintf(stderr, "%s: %s: %s\n", kProgram, label.c_str(),
                         found ? viewVerdictName(verdict) : "no board");
        else if ((live && changed) || (!live && collected->pictures % kProgressEveryFrames == 0))
            reportCollection(collected->views, label);
        if (live && collectionComplete(collected->views)) break;
        double elapsed = std::chrono::duration<double>(Clock::now() - start).count();
        if (seconds > 0 && elapsed >= seconds) {
            std::fprintf(stderr, "%s: stopping after %.0f s\n", kProgram, elapsed);
            break;
        }
    }
    if (!error->empty()) return false;
    if (video) reportCollection(collected->views, "read " + std::to_string(collected->pictures) + " pictures");
    return true;
}

// Median focal length of the kept views' Tsai calibrations (corners from the
// picture's centre, integer halving, as the viewer measures them); 0 when
// none succeeds. The Tsai calibration keeps private storage: main thread only.
double tsaiFocalGuess(const ViewCollection& views) {
    int n = views.pattern.area();
    if (n > kMaxBoardCorners) return 0;
    std::vector<double> worldX(n), worldY(n), imageX(n), imageY(n), focals;
    for (const CalibrationView& v : views.views) {
        for (int k = 0; k < n; ++k) {
            worldX[k] = k % views.pattern.width, worldY[k] = k / views.pattern.width;
            imageX[k] = v.corners[k].x - views.picture.width / 2;
            imageY[k] = v.corners[k].y - views.picture.height / 2;
        }
        double f = 0, T[3], R[9];
        if (tsaiCalibration2D(n, worldX.data(), worldY.data(), imageX.data(), imageY.data(), &f, T, R) && f > 0)
            focals.push_back(f);
    }
    if (focals.empty()) return 0;
    std::nth_element(focals.begin(), focals.begin() + focals.size() / 2, focals.end());
    return focals[focals.size() / 2];
}

void printReport(const LensCalibration& lens, const Collected& collected) {
    const CameraModel& c = lens.camera;
    std::printf("RMS reprojection error %.4f px over %d views (%zu dropped)\n", lens.rms, lens.keptCount,
                lens.kept.size() - lens.keptCount);
    std::printf("fx %.3f  fy %.3f  cx %.3f  cy %.3f  (95 %%: +-%.2f +-%.2f +-%.2f +-%.2f px)\n", c.fx, c.fy, c.cx,
                c.cy, 1.96 * lens.deviationFx, 1.96 * lens.deviationFy, 1.96 * lens.deviationCx,
                1.96 * lens.deviationCy);
    std::printf("k1 %.6f  k2 %.6f  p1 %.6f  p2 %.6f  k3 %.6f\n", c.distortion[0], c.distortion[1], c.distortion[2],
                c.distortion[3], c.distortion[4]);
    std::printf("picture covered %.0f %%\n", 100 * lens.coverage);
    std::printf("%-8s %-40s %s\n", "error px", "view", "");
    for (size_t k = 0; k < lens.kept.size(); ++k)
        std::printf("%8.4f %-40s %s\n", lens.viewErrors[k],
                    collected.labels[collected.views.views[k].source].c_str(), lens.kept[k] ? "" : "dropped");
    std::string why;
    if (!calibrationTrustworthy(lens, &why)) std::printf("warning: not a trustworthy calibration: %s\n", why.c_str());
}

std::string localTime() {
    std::time_t now = std::time(nullptr);
    char text[64];
    std::tm parts{};
    localtime_r(&now, &parts);
    std::strftime(text, sizeof text, "%a %b %d %H:%M:%S %Y", &parts);
    return text;
}

bool outputWritable(const std::string& path, std::string* error) {
    size_t slash = path.find_last_of('/');
    std::string folder = slash == std::string::npos ? "." : slash == 0 ? "/" : path.substr(0, slash);
    if (access(folder.c_str(), W_OK) != 0) {
        *error = path + ": cannot write into " + folder;
        return false;
    }
    return true;
}

int run(const Options& options) {
    std::string error;
    if (!outputWritable(options.output, &error)) return fail(error);
    Source source;
    if (!openSource(options.sources, &source, &error)) return fail(error);
    Collected collected;
    if (!collectViews(&source, options, &collected, &error)) return fail(error);
    if (collected.pictures == 0) return fail(source.name + ": no pictures");
    std::string board = std::to_string(options.board.columns) + "x" + std::to_string(options.board.rows);
    if (collected.boards == 0)
        return fail("no board of " + board + " inner corners found in " + std::to_string(collected.pictures) +
                    " pictures");
    int kept = static_cast<int>(collected.views.views.size());
    if (kept < kMinCalibrationViews)
        return fail("only " + std::to_string(kept) + " usable views of the board in " +
                    std::to_string(collected.pictures) + " pictures; a calibration needs at least " +
                    std::to_string(kMinCalibrationViews));
    LensGuess guess{tsaiFocalGuess(collected.views)};
    LensCalibration lens;
    if (!calibrateLens(collected.views, guess.f > 0 ? &guess : nullptr, &lens, &error)) return fail(error);
    printReport(lens, collected);
    lens.camera.calibrationTime = localTime();
    if (!writeCameraFile(options.output, lens.camera, &error)) return fail(error);
    std::fprintf(stderr, "%s: wrote %s\n", kProgram, options.output.c_str());
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    CLI::App app{"Calibrates a camera's lens (focal length, principal point, distortion) from views of the\n"
                 "chessboard and writes the camera file the viewer reads with --camera.",
                 kProgram};
    setUpCommandLine(&app);
    Options options;
    app.add_option("SOURCE", options.sources,
                   "a camera (digit), a video file, pictures, or a numbered sequence (img%02d.png)")
        ->required();
    app.add_option("-o,--output", options.output, "the camera file to write (.yml, .yaml, .xml or .json)")
        ->required()
        ->type_name("FILE");
    addBoardOption(&app, &options.board);
    app.add_option("--views", options.views, "views to keep for the calibration (default 25)")
        ->check(CLI::Range(kMinCalibrationViews, kMaxCalibrationViews))
        ->type_name("N");
    app.add_option("--seconds", options.seconds, "stop reading the source after S seconds (camera default 120)")
        ->check(CLI::PositiveNumber)
        ->type_name("S");
    CommandLineOutcome outcome = parseCommandLine(&app, argc, argv);
    if (!outcome.run) return outcome.status;
    return run(options);
}
