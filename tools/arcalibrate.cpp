// arcalibrate.cpp - calibrates a camera's lens from views of the chessboard
// and writes the camera file the viewer reads with --camera.
//
// SOURCE is a camera (one digit, as for the viewer), a video file, a picture, several
// pictures, or a numbered sequence (img%02d.png, read as OpenCV's
// VideoCapture reads one: it stops at the first missing number). In every
// picture the board is searched (adaptive threshold, normalised picture; in
// video frames the quick pre-check, on a half-size copy), its corners
// refined, and the view offered to a view collection that keeps up to
// --views views spread over the picture and over tilts. The lens is
// calibrated (f, principal point, k1 k2 p1 p2 k3), outlier views dropped and
// calibrated again; the report goes to standard output, progress to
// standard error.
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
#include <cctype>
#include <cerrno>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
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
#include "live_source.h"
#include "lens_calibration.h"

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
// Guidance (what the views still miss) at most this often, in wall time.
constexpr double kGuidanceEverySeconds = 1.0;

struct Options {
    std::vector<std::string> sources;
    std::string output;
    BoardSize board = kDefaultBoard;
    int views = kDefaultCalibrationViews;
    double seconds = 0;  // 0: the default for the source
    CaptureRequest capture;  // a camera's mode
};

enum class SourceKind { kCamera, kVideo, kPictures };

struct Source {
    SourceKind kind;
    std::vector<std::string> pictures;  // kPictures
    cv::VideoCapture capture;           // kCamera, kVideo
    size_t next = 0;                    // next picture, or frame number
    std::string name;                   // for messages
};

int fail(const std::string& message) {
    std::fprintf(stderr, "%s: %s\n", kProgram, message.c_str());
    return kRunError;
}

// Files are checked before OpenCV sees them: its readers print warnings of
// their own for a missing file, which would bury the one line that matters.
bool readable(const std::string& path, std::string* error) {
    if (access(path.c_str(), R_OK) == 0) return true;
    *error = path + ": " + std::strerror(errno);
    return false;
}

// A numbered sequence "img%02d.png" (one %d, %Nd or %0Nd; N up to 9) as
// OpenCV's VideoCapture reads one: from the first number from 0 to
// kMaxFirstNumber that exists, up to the first gap. Read here, so that the
// pictures are named in the report and the gap gives no warning.
constexpr int kMaxFirstNumber = 1000;
constexpr int kMaxSequenceLength = 100000;

bool expandSequence(const std::string& pattern, std::vector<std::string>* paths, std::string* error) {
    size_t percent = pattern.find('%'), end = percent + 1;
    bool zeros = end < pattern.size() && pattern[end] == '0';
    end += zeros ? 1 : 0;
    int width = 0;
    if (end < pattern.size() && std::isdigit(static_cast<unsigned char>(pattern[end]))) width = pattern[end++] - '0';
    if (end >= pattern.size() || pattern[end] != 'd' || pattern.find('%', end) != std::string::npos) {
        *error = pattern + ": not a numbered sequence such as img%02d.png";
        return false;
    }
    auto name = [&](int number) {
        std::string digits = std::to_string(number);
        if (static_cast<int>(digits.size()) < width) digits.insert(0, width - digits.size(), zeros ? '0' : ' ');
        return pattern.substr(0, percent) + digits + pattern.substr(end + 1);
    };
    int first = 0;
    while (first <= kMaxFirstNumber && access(name(first).c_str(), F_OK) != 0) ++first;
    for (int number = first; number < first + kMaxSequenceLength && access(name(number).c_str(), F_OK) == 0; ++number)
        paths->push_back(name(number));
    if (paths->empty())
        *error = pattern + ": no picture of the sequence exists (" + name(0) + ", " + name(1) + ", ...)";
    return !paths->empty();
}

bool openSource(const std::vector<std::string>& sources, const CaptureRequest& request, Source* source,
                std::string* error) {
    const std::string& first = sources.front();
    source->name = first;
    bool camera = isCameraIndex(first), sequence = first.find('%') != std::string::npos;
    if (sources.size() == 1 && isStreamUrl(first)) {
        source->kind = SourceKind::kCamera;  // live: read until the views suffice
        if (openStream(first, &source->capture)) return true;
        *error = first + ": cannot open the stream";
        return false;
    }
    if (sources.size() == 1 && sequence) {
        source->kind = SourceKind::kPictures;
        return expandSequence(first, &source->pictures, error);
    }
    if (!camera && !readable(first, error)) return false;
    try {
        if (sources.size() > 1 || (!camera && cv::haveImageReader(first))) {
            source->kind = SourceKind::kPictures;
            source->pictures = sources;
            return true;
        }
        if (camera) {
            source->kind = SourceKind::kCamera;
            if (openCamera(first[0] - '0', request, &source->capture))
                std::fprintf(stderr, "%s: %s\n", kProgram, cameraModeLine(first[0] - '0', source->capture).c_str());
        } else {
            source->kind = SourceKind::kVideo;
            source->capture.open(first, cv::CAP_FFMPEG);
        }
    } catch (const cv::Exception& e) {
        *error = first + ": cannot open (" + e.what() + ")";
        return false;
    }
    if (!source->capture.isOpened()) {
        *error = first + ": cannot open as a camera, a video or a picture";
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
        if (!readable(*label, error)) return false;
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
    *label = "frame " + std::to_string(source->next++);
    return true;
}

// Video frames are searched on a half-size copy when that is still at least
// kMinHalfSearchWidth wide, then refined on the full picture: on a 640 x 480
// sweep the search costs a third as much (failed searches of a board half out
// of the picture dominate) and finds nine boards in ten. Still pictures are
// few and each counts: they are searched at full size.
constexpr int kMinHalfSearchWidth = 320;  // px

bool findBoard(const cv::Mat& grey, cv::Size pattern, bool video, std::vector<cv::Point2f>* corners) {
    int flags = cv::CALIB_CB_ADAPTIVE_THRESH | cv::CALIB_CB_NORMALIZE_IMAGE | (video ? cv::CALIB_CB_FAST_CHECK : 0);
    bool half = video && grey.cols / 2 >= kMinHalfSearchWidth;
    try {
        cv::Mat searched = grey;
        if (half) cv::resize(grey, searched, cv::Size(grey.cols / 2, grey.rows / 2), 0, 0, cv::INTER_AREA);
        if (!cv::findChessboardCorners(searched, pattern, *corners, flags)) return false;
        // A half-size pixel's centre lies between the two full-size pixels it averages.
        if (half)
            for (cv::Point2f& p : *corners) p = 2.0f * p + cv::Point2f(0.5f, 0.5f);
    } catch (const cv::Exception&) {
        return false;
    }
    return refineBoardCorners(grey, pattern, corners);
}

// The detector also finds a board inside a larger one (8 x 6 corners of a
// 9 x 6 board, a column short): a calibration from such views would still
// work, but the user has the board size wrong for the viewer too. Checked on
// the first board found; the larger pattern found, or none.
cv::Size largerBoardFound(const cv::Mat& grey, cv::Size pattern, bool video) {
    const cv::Size larger[] = {{pattern.width + 1, pattern.height}, {pattern.width, pattern.height + 1}};
    std::vector<cv::Point2f> corners;
    for (cv::Size candidate : larger)
        if (candidate.width != candidate.height && candidate.area() <= kMaxBoardCorners &&
            findBoard(grey, candidate, video, &corners))
            return candidate;
    return cv::Size();
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
    Clock::time_point lastGuidance;
    bool guided = false;
};

void printGuidance(const ViewCollection& views) {
    std::fprintf(stderr, "%s: %s\n", kProgram, describeGuidance(guideViews(views)).c_str());
}

// About once a second, whatever the source, from the first kept view on.
void guideNow(Collected* c) {
    if (c->views.views.empty()) return;
    Clock::time_point now = Clock::now();
    if (c->guided && std::chrono::duration<double>(now - c->lastGuidance).count() < kGuidanceEverySeconds) return;
    printGuidance(c->views);
    c->lastGuidance = now;
    c->guided = true;
}

// Reads the source to its end (or the time limit, or, from a camera, a
// complete collection), offering every board found.
bool collectViews(Source* source, const Options& options, Collected* collected, std::string* error) {
    cv::Size pattern(options.board.columns, options.board.rows);
    bool live = source->kind == SourceKind::kCamera;
    bool video = source->kind == SourceKind::kCamera || source->kind == SourceKind::kVideo;
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
        if (found && collected->boards == 0) {
            cv::Size larger = largerBoardFound(grey, pattern, video);
            if (!larger.empty()) {
                *error = label + ": the board has more inner corners than " + std::to_string(pattern.width) + "x" +
                         std::to_string(pattern.height) + "; it looks like " + std::to_string(larger.width) + "x" +
                         std::to_string(larger.height) + " (give --board " + std::to_string(larger.width) + "x" +
                         std::to_string(larger.height) + ")";
                return false;
            }
        }
        ViewVerdict verdict = ViewVerdict::kMalformed;
        if (found) ++collected->boards, offerView(&collected->views, corners, grey, collected->pictures - 1, &verdict);
        bool changed = found && (verdict == ViewVerdict::kAdded || verdict == ViewVerdict::kReplaced);
        if (!video)
            std::fprintf(stderr, "%s: %s: %s\n", kProgram, label.c_str(),
                         found ? viewVerdictName(verdict) : "no board");
        else if ((live && changed) || (!live && collected->pictures % kProgressEveryFrames == 0))
            reportCollection(collected->views, label);
        guideNow(collected);
        if (live && collectionComplete(collected->views)) break;
        double elapsed = std::chrono::duration<double>(Clock::now() - start).count();
        if (seconds > 0 && elapsed >= seconds) {
            std::fprintf(stderr, "%s: stopping after %.0f s\n", kProgram, elapsed);
            break;
        }
    }
    if (!error->empty()) return false;
    reportCollection(collected->views, "read " + std::to_string(collected->pictures) + " pictures");
    if (!collected->views.views.empty()) printGuidance(collected->views);
    return true;
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
    const std::string refusal = captureOptionsRefusal(options.capture, options.sources);
    if (!refusal.empty()) {
        std::fprintf(stderr, "%s: %s\n", kProgram, refusal.c_str());
        return kUsageErrorStatus;
    }
    if (!openSource(options.sources, options.capture, &source, &error)) return fail(error);
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
    LensCalibration lens;
    if (!calibrateLens(collected.views, &lens, &error)) return fail(error);
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
                   "a camera (one digit, 0-9), a stream's URL (http://, rtsp://, ...), a video file, pictures,\n"
                   "or a numbered sequence (img%02d.png)")
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
    addCaptureOptions(&app, &options.capture);
    CommandLineOutcome outcome = parseCommandLine(&app, argc, argv);
    if (!outcome.run) return outcome.status;
    return run(options);
}
