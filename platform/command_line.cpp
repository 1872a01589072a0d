// command_line.cpp - CLI11 set-up, parsing and the board-size option.
#include "command_line.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include <CLI/CLI.hpp>

namespace {

constexpr int kHelpColumnWidth = 30;

// CLI11's messages may span lines; one line each is what people read in logs.
std::string oneLine(std::string text) {
    for (char& c : text)
        if (c == '\n' || c == '\r') c = ' ';
    while (!text.empty() && text.back() == ' ') text.pop_back();
    return text;
}

bool parsePositive(const std::string& text, int* value) {
    if (text.empty() || text.size() > 4) return false;
    for (char c : text)
        if (c < '0' || c > '9') return false;
    *value = std::atoi(text.c_str());
    return true;
}

// A number above the lowest allowed (or at it, when it is allowed).
CLI::Validator numberAbove(double lowest, bool lowestAllowed, const std::string& what) {
    return CLI::Validator(
        [=](std::string& text) -> std::string {
            char* end = nullptr;
            double v = std::strtod(text.c_str(), &end);
            bool ok = !text.empty() && *end == '\0' && std::isfinite(v) && (v > lowest || (lowestAllowed && v == lowest));
            return ok ? std::string() : "expected " + what + ", got '" + text + "'";
        },
        "");
}

}  // namespace

CLI::Option* requirePositive(CLI::Option* option) {
    return option->check(numberAbove(0.0, false, "a positive number"));
}

CLI::Option* requireNonNegative(CLI::Option* option) {
    return option->check(numberAbove(0.0, true, "a number of 0 or more"));
}

bool isCameraIndex(const std::string& text) { return text.size() == 1 && text[0] >= '0' && text[0] <= '9'; }

bool isStreamUrl(const std::string& text) {
    for (const char* scheme : {"http://", "https://", "rtsp://", "udp://", "tcp://"})
        if (text.compare(0, std::strlen(scheme), scheme) == 0) return true;
    return false;
}

void addCaptureOptions(CLI::App* app, CaptureRequest* request) {
    app->add_option_function<std::string>(
           "--capture-size",
           [request](const std::string& text) {
               int w = 0, h = 0;
               char x = 0, rest = 0;
               if (std::sscanf(text.c_str(), "%d%c%d%c", &w, &x, &h, &rest) != 3 || (x != 'x' && x != 'X') ||
                   w < 1 || h < 1 || w > 16384 || h > 16384)
                   throw CLI::ValidationError("--capture-size", "expected WxH in pixels, such as 1280x720, got " + text);
               request->width = w;
               request->height = h;
           },
           "ask a camera for this frame size before its first frame")
        ->type_name("WxH");
    app->add_option_function<double>(
           "--capture-fps",
           [request](double fps) {
               if (!(fps > 0 && fps <= 1000))
                   throw CLI::ValidationError("--capture-fps", "expected frames per second over 0, got " +
                                                                   std::to_string(fps));
               request->fps = fps;
           },
           "ask a camera for this frame rate")
        ->type_name("N");
    app->add_option_function<std::string>(
           "--capture-format",
           [request](const std::string& text) {
               if (text.size() != 4)
                   throw CLI::ValidationError("--capture-format", "expected four characters such as MJPG or YUYV, got " +
                                                                      text);
               request->fourcc = text;
           },
           "ask a camera for this pixel format (MJPG, YUYV, ...)")
        ->type_name("FOURCC");
}

std::string captureOptionsRefusal(const CaptureRequest& request, const std::vector<std::string>& sources) {
    const char* option = request.width > 0 ? "--capture-size"
                         : request.fps > 0 ? "--capture-fps"
                         : !request.fourcc.empty() ? "--capture-format" : nullptr;
    if (option == nullptr || sources.empty() || (sources.size() == 1 && isCameraIndex(sources[0]))) return "";
    return std::string(option) + " applies to cameras only, not to " + sources[0] + " (see --help)";
}

const char* projectVersion() { return ARVIEWER_VERSION; }

void setUpCommandLine(CLI::App* app) {
    app->get_formatter()->column_width(kHelpColumnWidth);
    app->set_version_flag("--version", app->get_name() + " " + projectVersion(), "print the version and exit");
    app->set_help_flag("-h,--help", "print this help and exit");
}

int reportUsageError(const CLI::App& app, const std::string& message) {
    std::fprintf(stderr, "%s: %s (see --help)\n", app.get_name().c_str(), oneLine(message).c_str());
    return kUsageErrorStatus;
}

CommandLineOutcome parseCommandLine(CLI::App* app, int argc, char** argv) {
    try {
        app->parse(argc, argv);
    } catch (const CLI::CallForHelp&) {
        std::fputs(app->help().c_str(), stdout);
        return {false, 0};
    } catch (const CLI::CallForVersion& e) {
        std::printf("%s\n", e.what());
        return {false, 0};
    } catch (const CLI::ParseError& e) {
        return {false, reportUsageError(*app, e.what())};
    } catch (const std::exception& e) {
        return {false, reportUsageError(*app, e.what())};
    }
    return {true, 0};
}

bool parseBoardSize(const std::string& text, BoardSize* board, std::string* error) {
    size_t x = text.find_first_of("xX");
    BoardSize b{};
    if (x == std::string::npos || !parsePositive(text.substr(0, x), &b.columns) ||
        !parsePositive(text.substr(x + 1), &b.rows)) {
        *error = "'" + text + "' is not a board size WxH (inner corners, e.g. 8x6)";
        return false;
    }
    if (b.columns < kMinBoardSide || b.rows < kMinBoardSide) {
        *error = "the board search needs at least " + std::to_string(kMinBoardSide) + " x " +
                 std::to_string(kMinBoardSide) + " inner corners, not " + text;
        return false;
    }
    if (b.columns == b.rows) {
        *error = "a square board (" + text + ") looks the same turned by 90 degrees; use W != H";
        return false;
    }
    if (b.columns * b.rows > kMaxBoardCorners) {
        *error = "a board of " + text + " has " + std::to_string(b.columns * b.rows) +
                 " inner corners; at most " + std::to_string(kMaxBoardCorners) + " are calibrated";
        return false;
    }
    *board = b;
    return true;
}

CLI::Option* addBoardOption(CLI::App* app, BoardSize* board) {
    return app
        ->add_option_function<std::string>(
            "--board",
            [board](const std::string& text) {
                std::string error;
                if (!parseBoardSize(text, board, &error)) throw CLI::ValidationError("--board", error);
            },
            "inner corners of the chessboard, W x H with W != H (default 8x6)")
        ->type_name("WxH");
}
