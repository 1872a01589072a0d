// viewer_harness.h - drives the real viewer in tests: a private Xvfb server,
// the program started as a child process, its window found by title, its
// picture read from the X server, keys sent with xdotool, and the sample
// video's ground truth.
//
// Usage:
//     XServer x = startXServer();              // fails the test if it cannot
//     ChildProcess viewer = launch({"arviewer", "board.avi"}, x.display);
//     cv::Mat picture = waitForStillPicture(x, findWindow(x, kTitle, 20));
#ifndef VIEWER_HARNESS_H
#define VIEWER_HARNESS_H

#include <sys/types.h>

#include <string>
#include <vector>

#include <opencv2/core.hpp>

constexpr const char* kViewerTitle = "Miravel - Orlan Vesk - Nolmar - 2008";

struct XServer {
    pid_t pid = -1;
    std::string display;  // ":N"
    void* connection = nullptr;  // the harness's own Display*
    int displayPipe = -1;        // where the server wrote its display number
};

// Starts Xvfb on a free display (1280 x 1024 x 24). Empty display on failure.
XServer startXServer();
void stopXServer(XServer* server);

struct ChildProcess {
    pid_t pid = -1;
    std::string stdoutPath, stderrPath;
};

// Starts argv[0] with the given DISPLAY (unset when empty) and working
// directory, standard output and error going to temporary files.
ChildProcess launch(const std::vector<std::string>& argv, const std::string& display,
                    const std::string& workingDirectory = "");
// Exit status, or -1 when the process is still running after the timeout.
int waitForExit(ChildProcess* child, double timeoutSeconds);
void stopProcess(ChildProcess* child);
std::string readFile(const std::string& path);

// 0 when no window with the title appears within the timeout.
unsigned long findWindow(const XServer& server, const char* title, double timeoutSeconds);
cv::Size windowSize(const XServer& server, unsigned long window);
// The window's picture as 8-bit BGR, as the X server holds it.
cv::Mat captureWindow(const XServer& server, unsigned long window);
// Captures until the picture stops changing (the video has played); empty
// on timeout.
cv::Mat waitForStillPicture(const XServer& server, unsigned long window, double timeoutSeconds);
// Makes the viewer compose its picture again, as an exposure does.
void forceRepaint(const XServer& server, unsigned long window);
// Sends key presses through xdotool, e.g. "Left a".
bool pressKeys(const XServer& server, unsigned long window, const std::string& keys);
// A key that closes the window: pressed on it, released on the server (the
// window is gone by then; a key left down would repeat into the next one).
bool pressClosingKey(const XServer& server, unsigned long window, const std::string& key);

// One row of the sample video's ground truth.
struct TruthFrame {
    int frame = 0;
    double f = 0, R[9] = {0}, T[3] = {0};
    bool covered = false;
};
std::vector<TruthFrame> readGroundTruth(const std::string& csvPath);
cv::Mat lastVideoFrame(const std::string& videoPath, int* frameCount);
// Frame number index (from 0) of a video; empty when it has none such.
cv::Mat videoFrameAt(const std::string& videoPath, int index);
// Pixels drawn over the video: differing from it by more than 40 levels in
// some channel, and not of an axis's pure colour.
cv::Mat overlayMask(const cv::Mat& picture, const cv::Mat& video);
// Pixel position (column, row) of a world point, in the viewer's convention.
cv::Point2d projectToPixel(const TruthFrame& truth, double X, double Y, double Z, cv::Size image);



// True when a straight line from the camera to the world point passes
// through the bounding box of one of the two real buildings beside the board.
bool hiddenByBuilding(const TruthFrame& truth, double X, double Y, double Z);
// True when some pixel within radius of p has the colour (within tolerance).
bool colourNear(const cv::Mat& picture, cv::Point2d p, cv::Vec3b bgr, int radius, int tolerance);
#endif
