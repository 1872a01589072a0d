// command_line.h - one way of reading command lines for every program of the
// project, on CLI11: the same --help layout, --version (the project's version),
// and every mistake reported as one line "PROGRAM: what is wrong (see --help)"
// with exit status 2. CLI11's exceptions end here; callers see an outcome.
//
// Also the board-size option shared by every program that looks for a board:
// --board WxH, inner corners, W != H (a square pattern's orientation is
// ambiguous), both at least kMinBoardSide (3: the board search's least), at
// most kMaxBoardCorners in all (the points a calibration takes, tsai.h).
//
// Usage (with <CLI/CLI.hpp>):
//     CLI::App app{"Does things.", "tool"};
//     setUpCommandLine(&app);
//     app.add_option("-o", output, "output file")->required();
//     CommandLineOutcome outcome = parseCommandLine(&app, argc, argv);
//     if (!outcome.run) return outcome.status;
#ifndef APP_COMMAND_LINE_H
#define APP_COMMAND_LINE_H

#include <string>
#include <vector>

#include "tsai.h"

// CLI11 itself stays out of this header: X11's headers, which the viewer
// includes too, define macros that clash with its names.
namespace CLI {
class App;
class Option;
}  // namespace CLI

constexpr int kUsageErrorStatus = 2;

struct CommandLineOutcome {
    bool run;    // false: end the program now with status
    int status;  // 0 after --help or --version, kUsageErrorStatus after a mistake
};

// The project's help layout and --version flag.
void setUpCommandLine(CLI::App* app);

// Parses; prints the help, the version or the one-line error itself.
CommandLineOutcome parseCommandLine(CLI::App* app, int argc, char** argv);

// Prints "PROGRAM: message (see --help)" on standard error; returns kUsageErrorStatus.
int reportUsageError(const CLI::App& app, const std::string& message);

// Checks on an option's number with a plain message ("--x: expected a
// positive number, got -1"), where CLI11's own prints the whole double range.
CLI::Option* requirePositive(CLI::Option* option);
CLI::Option* requireNonNegative(CLI::Option* option);

// The project's version, from the build.
const char* projectVersion();

// Inner corners of a chessboard: corners per row (columns) and per column (rows).
struct BoardSize {
    int columns;
    int rows;
};
constexpr BoardSize kDefaultBoard = {8, 6};
constexpr int kMinBoardSide = 3;  // inner corners per row and per column
constexpr int kMaxBoardCorners = TSAI_MAX_POINTS;

// What names a camera, for every program that opens a video: a single digit
// 0-9 (camera N, /dev/videoN on Linux). Anything else is a file, an image
// sequence or a stream, so a file called "7" is given as ./7.
bool isCameraIndex(const std::string& text);

// A network stream: a URL starting http://, https://, rtsp://, udp:// or
// tcp://, opened through FFmpeg (a phone's camera app, an IP camera).
bool isStreamUrl(const std::string& text);

// A camera's mode, asked for before its first frame: --capture-size WxH,
// --capture-fps N, --capture-format FOURCC (MJPG, YUYV, ...). Zero or empty:
// the camera's own choice.
struct CaptureRequest {
    int width = 0, height = 0;
    double fps = 0;
    std::string fourcc;
};

// Adds the three options writing into request.
void addCaptureOptions(CLI::App* app, CaptureRequest* request);

// The one line that refuses the capture options for sources that are not a
// camera ("--capture-size applies to cameras only, not to clip.avi (see
// --help)"), or empty when none is given or the sources are one camera index
// (no sources: camera 0).
std::string captureOptionsRefusal(const CaptureRequest& request, const std::vector<std::string>& sources);

// "WxH" into a board size; false with a reason when it is not a usable board.
bool parseBoardSize(const std::string& text, BoardSize* board, std::string* error);

// Adds --board WxH (default 8x6) writing into board.
CLI::Option* addBoardOption(CLI::App* app, BoardSize* board);

#endif
