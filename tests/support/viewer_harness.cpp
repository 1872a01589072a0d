// viewer_harness.cpp - Xvfb, child processes, X window pictures, keys.
#include "viewer_harness.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>
#include <thread>

#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <opencv2/videoio.hpp>

#include "tsai.h"

namespace {

Display* connectionOf(const XServer& server) { return static_cast<Display*>(server.connection); }

double secondsSince(std::chrono::steady_clock::time_point start) {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

void pause(double seconds) { std::this_thread::sleep_for(std::chrono::duration<double>(seconds)); }

std::string temporaryPath(const char* stem) {
    char path[] = "/tmp/viewer-test-XXXXXX";
    int fd = mkstemp(path);
    if (fd >= 0) close(fd);
    return std::string(path) + "." + stem;
}

bool windowTitleIs(Display* d, Window w, const char* title) {
    char* name = nullptr;
    bool same = XFetchName(d, w, &name) && name && std::strcmp(name, title) == 0;
    if (name) XFree(name);
    return same;
}

Window searchTree(Display* d, Window root, const char* title) {
    if (windowTitleIs(d, root, title)) return root;
    Window parent, *children = nullptr;
    unsigned int count = 0;
    if (!XQueryTree(d, root, &root, &parent, &children, &count)) return 0;
    Window found = 0;
    for (unsigned int i = 0; i < count && !found; ++i) found = searchTree(d, children[i], title);
    if (children) XFree(children);
    return found;
}

}  // namespace

XServer startXServer() {
    XServer server;
    int pipeFds[2];
    if (pipe(pipeFds) != 0) return server;
    pid_t pid = fork();
    if (pid == 0) {
        close(pipeFds[0]);
        int log = open("/tmp/viewer-test-xvfb.log", O_WRONLY | O_CREAT | O_APPEND, 0644);
        dup2(log, 1);
        dup2(log, 2);
        std::string fd = std::to_string(pipeFds[1]);
        // -noreset: the server would write its display number again after
        // its last client leaves, and stop when it cannot.
        execlp("Xvfb", "Xvfb", "-displayfd", fd.c_str(), "-screen", "0", "1280x1024x24", "-nolisten", "tcp",
               "-noreset", static_cast<char*>(nullptr));
        _exit(127);
    }
    close(pipeFds[1]);
    char number[32] = {0};
    ssize_t n = read(pipeFds[0], number, sizeof number - 1);
    server.displayPipe = pipeFds[0];
    server.pid = pid;
    if (pid < 0 || n <= 0) {
        std::fprintf(stderr, "Xvfb did not start; its messages are in /tmp/viewer-test-xvfb.log\n");
        return server;
    }
    server.display = ":" + std::to_string(std::atoi(number));
    server.connection = XOpenDisplay(server.display.c_str());
    if (!server.connection) {
        std::fprintf(stderr, "cannot connect to Xvfb on %s\n", server.display.c_str());
        server.display.clear();
    }
    return server;
}

void stopXServer(XServer* server) {
    if (server->connection) XCloseDisplay(connectionOf(*server));
    if (server->displayPipe >= 0) close(server->displayPipe);
    if (server->pid > 0) {
        kill(server->pid, SIGTERM);
        waitpid(server->pid, nullptr, 0);
    }
    *server = XServer();
}

ChildProcess launch(const std::vector<std::string>& argv, const std::string& display,
                    const std::string& workingDirectory) {
    ChildProcess child;
    child.stdoutPath = temporaryPath("out");
    child.stderrPath = temporaryPath("err");
    pid_t pid = fork();
    if (pid == 0) {
        if (!workingDirectory.empty() && chdir(workingDirectory.c_str()) != 0) _exit(126);
        int out = open(child.stdoutPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        int err = open(child.stderrPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        dup2(out, 1);
        dup2(err, 2);
        if (display.empty()) unsetenv("DISPLAY");
        else setenv("DISPLAY", display.c_str(), 1);
        std::vector<char*> args;
        for (const std::string& a : argv) args.push_back(const_cast<char*>(a.c_str()));
        args.push_back(nullptr);
        execv(args[0], args.data());
        _exit(127);
    }
    child.pid = pid;
    return child;
}

int waitForExit(ChildProcess* child, double timeoutSeconds) {
    auto start = std::chrono::steady_clock::now();
    while (secondsSince(start) < timeoutSeconds) {
        int status = 0;
        if (waitpid(child->pid, &status, WNOHANG) == child->pid) {
            child->pid = -1;
            return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
        }
        pause(0.02);
    }
    return -1;
}

void stopProcess(ChildProcess* child) {
    if (child->pid <= 0) return;
    kill(child->pid, SIGTERM);
    if (waitForExit(child, 5) < 0) {
        kill(child->pid, SIGKILL);
        waitpid(child->pid, nullptr, 0);
    }
    child->pid = -1;
}

std::string readFile(const std::string& path) {
    std::ifstream in(path);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

unsigned long findWindow(const XServer& server, const char* title, double timeoutSeconds) {
    Display* d = connectionOf(server);
    auto start = std::chrono::steady_clock::now();
    do {
        Window w = searchTree(d, DefaultRootWindow(d), title);
        if (w) {
            XWindowAttributes a;
            if (XGetWindowAttributes(d, w, &a) && a.map_state == IsViewable) return w;
        }
        pause(0.05);
    } while (secondsSince(start) < timeoutSeconds);
    return 0;
}

cv::Size windowSize(const XServer& server, unsigned long window) {
    XWindowAttributes a;
    XSync(connectionOf(server), False);
    if (!XGetWindowAttributes(connectionOf(server), window, &a)) return {};
    return {a.width, a.height};
}

cv::Mat captureWindow(const XServer& server, unsigned long window) {
    Display* d = connectionOf(server);
    cv::Size size = windowSize(server, window);
    if (size.area() == 0) return {};
    XImage* image = XGetImage(d, window, 0, 0, size.width, size.height, AllPlanes, ZPixmap);
    if (!image) return {};
    cv::Mat picture(size, CV_8UC3);
    for (int y = 0; y < size.height; ++y)
        for (int x = 0; x < size.width; ++x) {
            unsigned long p = XGetPixel(image, x, y);
            picture.at<cv::Vec3b>(y, x) = cv::Vec3b(p & 0xff, (p >> 8) & 0xff, (p >> 16) & 0xff);
        }
    XDestroyImage(image);
    return picture;
}

cv::Mat waitForStillPicture(const XServer& server, unsigned long window, double timeoutSeconds) {
    auto start = std::chrono::steady_clock::now();
    cv::Mat previous = captureWindow(server, window);
    int stillCount = 0;
    while (secondsSince(start) < timeoutSeconds) {
        pause(0.4);
        cv::Mat current = captureWindow(server, window);
        bool same = !previous.empty() && current.size() == previous.size() && cv::norm(current, previous, cv::NORM_INF) == 0;
        stillCount = same ? stillCount + 1 : 0;
        if (stillCount >= 3) return current;
        previous = current;
    }
    return {};
}

void forceRepaint(const XServer& server, unsigned long window) {
    Display* d = connectionOf(server);
    XUnmapWindow(d, window);
    XSync(d, False);
    pause(0.2);
    XMapWindow(d, window);
    XSync(d, False);
    pause(0.5);
}

bool pressKeys(const XServer& server, unsigned long window, const std::string& keys) {
    std::string command = "DISPLAY=" + server.display + " xdotool key --delay 60 --window " +
                          std::to_string(window) + " " + keys;
    return std::system(command.c_str()) == 0;
}

bool pressClosingKey(const XServer& server, unsigned long window, const std::string& key) {
    std::string display = "DISPLAY=" + server.display + " xdotool ";
    bool down = std::system((display + "keydown --window " + std::to_string(window) + " " + key).c_str()) == 0;
    std::system((display + "keyup " + key + " 2>/dev/null").c_str());
    return down;
}

std::vector<TruthFrame> readGroundTruth(const std::string& csvPath) {
    std::vector<TruthFrame> rows;
    std::ifstream in(csvPath);
    std::string line;
    std::getline(in, line);  // header
    while (std::getline(in, line)) {
        TruthFrame t;
        int covered = 0;
        int read = std::sscanf(line.c_str(), "%d,%lf,%lf,%lf,%lf,%lf,%lf,%lf,%lf,%lf,%lf,%lf,%lf,%lf,%d", &t.frame,
                               &t.f, &t.R[0], &t.R[1], &t.R[2], &t.R[3], &t.R[4], &t.R[5], &t.R[6], &t.R[7],
                               &t.R[8], &t.T[0], &t.T[1], &t.T[2], &covered);
        if (read != 15) break;
        t.covered = covered != 0;
        rows.push_back(t);
    }
    return rows;
}

cv::Mat lastVideoFrame(const std::string& videoPath, int* frameCount) {
    cv::VideoCapture capture(videoPath, cv::CAP_FFMPEG);
    cv::Mat frame, last;
    int count = 0;
    while (capture.read(frame)) {
        frame.copyTo(last);
        ++count;
    }
    if (frameCount) *frameCount = count;
    return last;
}

cv::Mat videoFrameAt(const std::string& videoPath, int index) {
    cv::VideoCapture capture(videoPath, cv::CAP_FFMPEG);
    cv::Mat frame;
    for (int i = 0; i <= index; ++i)
        if (!capture.read(frame)) return {};
    return frame.clone();
}

namespace {

constexpr int kChangedLevel = 40;  // a pixel differing this much from the video is drawn over it

bool isAxisColour(const cv::Vec3b& c) {
    int saturated = 0, dark = 0;
    for (int k = 0; k < 3; ++k) saturated += c[k] > 215, dark += c[k] < 40;
    return saturated == 1 && dark == 2;
}

}  // namespace

cv::Mat overlayMask(const cv::Mat& picture, const cv::Mat& video) {
    cv::Mat mask(picture.size(), CV_8U, cv::Scalar(0));
    for (int y = 0; y < picture.rows; ++y)
        for (int x = 0; x < picture.cols; ++x) {
            cv::Vec3b p = picture.at<cv::Vec3b>(y, x), v = video.at<cv::Vec3b>(y, x);
            int change = 0;
            for (int k = 0; k < 3; ++k) change = std::max(change, std::abs(int(p[k]) - int(v[k])));
            if (change > kChangedLevel && !isAxisColour(p)) mask.at<uchar>(y, x) = 255;
        }
    return mask;
}

cv::Point2d projectToPixel(const TruthFrame& truth, double X, double Y, double Z, cv::Size image) {
    double xi, yi;
    tsaiProject(X, Y, Z, &xi, &yi, truth.f, truth.T, truth.R);
    return {xi + image.width / 2, yi + image.height / 2};
}

namespace {

struct Box {
    double min[3], max[3];
};

// World bounding boxes of the buildings (world Z is negative above the board).
const Box kBuildingBoxes[2] = {{{2.0, 8.2, -6.0}, {7.2, 12.4, 0.0}}, {{11.0, 1.0, -4.0}, {15.4, 5.4, 0.0}}};

// Slab test on the segment from a to b.
bool segmentHitsBox(const double* a, const double* b, const Box& box) {
    double enter = 0.0, leave = 1.0;
    for (int i = 0; i < 3; ++i) {
        double d = b[i] - a[i];
        if (d == 0.0) {
            if (a[i] < box.min[i] || a[i] > box.max[i]) return false;
            continue;
        }
        double t0 = (box.min[i] - a[i]) / d, t1 = (box.max[i] - a[i]) / d;
        if (t0 > t1) std::swap(t0, t1);
        enter = std::max(enter, t0);
        leave = std::min(leave, t1);
    }
    return enter < leave;
}

}  // namespace

bool hiddenByBuilding(const TruthFrame& truth, double X, double Y, double Z) {
    // Camera centre C = -R^T T.
    double centre[3];
    for (int i = 0; i < 3; ++i)
        centre[i] = -(truth.R[i] * truth.T[0] + truth.R[3 + i] * truth.T[1] + truth.R[6 + i] * truth.T[2]);
    const double point[3] = {X, Y, Z};
    for (const Box& box : kBuildingBoxes)
        if (segmentHitsBox(centre, point, box)) return true;
    return false;
}

bool colourNear(const cv::Mat& picture, cv::Point2d p, cv::Vec3b bgr, int radius, int tolerance) {
    int cx = static_cast<int>(std::lround(p.x)), cy = static_cast<int>(std::lround(p.y));
    for (int y = cy - radius; y <= cy + radius; ++y)
        for (int x = cx - radius; x <= cx + radius; ++x) {
            if (x < 0 || y < 0 || x >= picture.cols || y >= picture.rows) continue;
            cv::Vec3b c = picture.at<cv::Vec3b>(y, x);
            bool close = true;
            for (int k = 0; k < 3; ++k) close &= std::abs(int(c[k]) - int(bgr[k])) <= tolerance;
            if (close) return true;
        }
    return false;
}
