// arrender on a live stream from a local ffmpeg server on the loopback
// address, started and stopped here: boards found as from the file, frames
// the loop had no time for dropped and counted, a server stopped mid-stream
// ending the run cleanly with complete files, and the camera-mode options
// refused for anything but a camera.
#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <signal.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <fstream>
#include <regex>
#include <sstream>
#include <thread>

#include <opencv2/videoio.hpp>

#include "viewer_fixture.h"
#include "viewer_harness.h"

namespace {

const std::string kRenderer = ARRENDER_PATH;
const std::string kViewer = ARVIEWER_PATH;
const std::string kCalibrator = ARCALIBRATE_PATH;
const std::string kSampleVideo = SAMPLE_VIDEO;
// arrender runs where the ship's files are, beside it.
const std::string kBinFolder = kRenderer.substr(0, kRenderer.find_last_of('/'));

int freePort() {
    int s = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    bind(s, reinterpret_cast<sockaddr*>(&address), sizeof address);
    getsockname(s, reinterpret_cast<sockaddr*>(&address), &length);
    close(s);
    return ntohs(address.sin_port);
}

// Whether something listens on the port: read from /proc, since a probe
// connection would be the one client the server takes.
bool listening(int port) {
    std::ifstream table("/proc/net/tcp");
    char hexPort[8];
    std::snprintf(hexPort, sizeof hexPort, ":%04X", port);
    for (std::string line; std::getline(table, line);)
        if (line.find(hexPort) != std::string::npos && line.find(" 0A ") != std::string::npos) return true;
    return false;
}

// The sample video served as a live MJPEG stream, at its own rate times
// `speed`; the URL, once the server listens.
struct Server {
    ChildProcess process;
    std::string url;
};

Server serve(double speed, int port = 0) {
    Server server;
    if (port == 0) port = freePort();
    server.url = "http://127.0.0.1:" + std::to_string(port) + "/cam.mjpg";
    char rate[32];
    std::snprintf(rate, sizeof rate, "%g", speed);
    server.process = launch({"/usr/bin/ffmpeg", "-nostdin", "-loglevel", "error", "-readrate", rate, "-i", kSampleVideo,
                             "-c:v", "mjpeg", "-q:v", "3", "-f", "mpjpeg", "-listen", "1", server.url},
                            "");
    for (int i = 0; i < 200 && !listening(port); ++i) std::this_thread::sleep_for(std::chrono::milliseconds(50));
    EXPECT_TRUE(listening(port)) << "the ffmpeg server did not start";
    return server;
}

long numberAfter(const std::string& text, const std::string& pattern) {
    std::smatch m;
    if (!std::regex_search(text, m, std::regex(pattern + "([0-9]+)"))) return -1;
    return std::stol(m[1]);
}

// arrender's summary line "N frames of the source dropped ..."; -1 without one.
long droppedIn(const std::string& text) {
    std::smatch m;
    if (!std::regex_search(text, m, std::regex("arrender: ([0-9]+) frames of the source dropped"))) return -1;
    return std::stol(m[1]);
}

// A --frame-ages log's source_frame and dropped columns, found by name.
struct AgeLog {
    std::vector<long> sourceFrames, dropped;
};

AgeLog readAgeLog(const std::string& csv) {
    std::ifstream in(csv);
    std::string line;
    std::getline(in, line);
    std::vector<std::string> header;
    std::stringstream names(line);
    for (std::string name; std::getline(names, name, ',');) header.push_back(name);
    const long source = std::find(header.begin(), header.end(), "source_frame") - header.begin();
    const long dropped = std::find(header.begin(), header.end(), "dropped") - header.begin();
    AgeLog log;
    while (std::getline(in, line)) {
        std::vector<std::string> fields;
        std::stringstream row(line);
        for (std::string field; std::getline(row, field, ',');) fields.push_back(field);
        if (source >= (long)fields.size() || dropped >= (long)fields.size()) break;
        log.sourceFrames.push_back(std::stol(fields[source]));
        log.dropped.push_back(std::stol(fields[dropped]));
    }
    return log;
}

long rowsOf(const std::string& csv) {
    std::ifstream in(csv);
    long rows = -1;  // the header
    for (std::string line; std::getline(in, line);) ++rows;
    return rows;
}

std::string scratchFolder() {
    char pattern[] = "/tmp/live_stream_XXXXXX";
    return mkdtemp(pattern);
}

struct Rendered {
    int status;
    std::string err;
};

Rendered render(const std::vector<std::string>& arguments, double timeoutSeconds = 120) {
    std::vector<std::string> argv = {kRenderer};
    argv.insert(argv.end(), arguments.begin(), arguments.end());
    ChildProcess child = launch(argv, "", kBinFolder);
    const int status = waitForExit(&child, timeoutSeconds);
    if (status < 0) stopProcess(&child);
    return {status, readFile(child.stderrPath)};
}

}  // namespace

TEST(LiveStream, AtItsOwnRateFindsTheBoardsOfTheFileAndEndsCleanly) {
    const std::string folder = scratchFolder();
    Rendered file = render({kSampleVideo, "-o", folder + "/file.avi"});
    ASSERT_EQ(file.status, 0) << file.err;
    const long fileFound = numberAfter(file.err, "board found in ");

    Server server = serve(1.0);
    Rendered live = render({server.url, "-o", folder + "/live.avi", "--poses", folder + "/live.csv"});
    waitForExit(&server.process, 10);
    stopProcess(&server.process);
    ASSERT_EQ(live.status, 0) << live.err;
    const long frames = numberAfter(live.err, "arrender: "), found = numberAfter(live.err, "board found in ");
    const long dropped = droppedIn(live.err);
    ASSERT_GE(dropped, 0) << live.err;
    EXPECT_NE(live.err.find("the source ended early, after " + std::to_string(frames) + " frames"), std::string::npos)
        << live.err;
    // Frames dropped at the start (the loop's first frame builds its
    // shaders) may take a board each.
    EXPECT_GE(found, fileFound - 2 - dropped) << live.err;
    EXPECT_LE(found, fileFound + 2) << live.err;
    EXPECT_EQ(rowsOf(folder + "/live.csv"), frames);
    cv::VideoCapture recorded(folder + "/live.avi", cv::CAP_FFMPEG);
    EXPECT_EQ(long(recorded.get(cv::CAP_PROP_FRAME_COUNT)), frames);
    std::system(("rm -rf " + folder).c_str());
}

TEST(LiveStream, FasterThanTheLoopDropsAndCountsFramesAndEndsSoonAfterIt) {
    const std::string folder = scratchFolder();
    Server server = serve(6.0);  // 180 frames per second
    const auto start = std::chrono::steady_clock::now();
    Rendered live = render({server.url, "--track", "--smooth", "--refine", "-o", folder + "/live.avi", "--frame-ages",
                            folder + "/ages.csv"});
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    waitForExit(&server.process, 10);
    stopProcess(&server.process);
    ASSERT_EQ(live.status, 0) << live.err;
    const long dropped = droppedIn(live.err), frames = numberAfter(live.err, "arrender: ");
    EXPECT_GT(dropped, 0) << live.err;
    EXPECT_GT(frames, 0);
    // The age log names the source frame of every picture: in order, with
    // the dropped ones as gaps, counted as the summary counts them.
    const AgeLog ages = readAgeLog(folder + "/ages.csv");
    ASSERT_EQ((long)ages.sourceFrames.size(), frames);
    for (size_t i = 1; i < ages.sourceFrames.size(); ++i) EXPECT_GT(ages.sourceFrames[i], ages.sourceFrames[i - 1]);
    EXPECT_EQ(ages.sourceFrames.back() + 1 - frames, ages.dropped.back());
    EXPECT_LE(ages.dropped.back(), dropped);
    // The stream lasts a few seconds at most; the run ends with it, not
    // after a backlog (seconds of margin for a slow machine).
    EXPECT_LT(seconds, 30.0) << live.err;
    std::system(("rm -rf " + folder).c_str());
}

// --every-frame: a stream read as a file is, every frame in order, none dropped.
TEST(LiveStream, EveryFrameKeptDropsNone) {
    const std::string folder = scratchFolder();
    Server server = serve(6.0);
    Rendered live = render({server.url, "--every-frame", "--frames", "40", "--frame-ages", folder + "/ages.csv"});
    stopProcess(&server.process);
    ASSERT_EQ(live.status, 0) << live.err;
    EXPECT_EQ(droppedIn(live.err), 0) << live.err;
    const AgeLog ages = readAgeLog(folder + "/ages.csv");
    ASSERT_EQ(ages.sourceFrames.size(), 40u);
    for (size_t i = 0; i < ages.sourceFrames.size(); ++i) EXPECT_EQ(ages.sourceFrames[i], (long)i);
    std::system(("rm -rf " + folder).c_str());
}

// A server that goes away (its connection closed) and one that stalls (it
// stops sending, the connection open: the read timeout ends the wait).
TEST(LiveStream, AServerStoppedOrStalledMidStreamEndsTheRunWithCompleteFiles) {
    for (const bool stall : {false, true}) {
        SCOPED_TRACE(stall ? "stalled" : "stopped");
        const std::string folder = scratchFolder();
        Server server = serve(1.0);
        std::vector<std::string> argv = {kRenderer, server.url, "-o", folder + "/live.avi", "--poses",
                                         folder + "/live.csv"};
        ChildProcess child = launch(argv, "", kBinFolder);
        std::this_thread::sleep_for(std::chrono::seconds(2));
        if (stall) kill(server.process.pid, SIGSTOP);
        else stopProcess(&server.process);  // the cable pulled
        const int status = waitForExit(&child, 60);
        if (status < 0) stopProcess(&child);
        if (stall) {
            kill(server.process.pid, SIGCONT);
            stopProcess(&server.process);
        }
        const std::string err = readFile(child.stderrPath);
        ASSERT_EQ(status, 0) << err;
        const long frames = numberAfter(err, "arrender: ");
        EXPECT_GT(frames, 10) << err;
        EXPECT_NE(err.find("the source ended early, after " + std::to_string(frames) + " frames"), std::string::npos)
            << err;
        EXPECT_EQ(rowsOf(folder + "/live.csv"), frames);
        cv::VideoCapture recorded(folder + "/live.avi", cv::CAP_FFMPEG);
        EXPECT_EQ(long(recorded.get(cv::CAP_PROP_FRAME_COUNT)), frames);
        std::system(("rm -rf " + folder).c_str());
    }
}

TEST(LiveStream, ArcalibrateReadsAStreamUntilItEnds) {
    const std::string folder = scratchFolder();
    Server server = serve(2.0);
    ChildProcess child = launch({kCalibrator, server.url, "-o", folder + "/camera.yml"}, "");
    const int status = waitForExit(&child, 120);
    if (status < 0) stopProcess(&child);
    stopProcess(&server.process);
    const std::string err = readFile(child.stderrPath);
    EXPECT_EQ(err.find("cannot open"), std::string::npos) << err;
    // The sample video holds a few views only: a camera file with a warning,
    // or (the sanitizer build's shorter clip) too few views to calibrate.
    if (status == 0) EXPECT_TRUE(std::ifstream(folder + "/camera.yml").good()) << err;
    else EXPECT_NE(err.find("views"), std::string::npos) << err;
    std::system(("rm -rf " + folder).c_str());
}

TEST(LiveStream, CameraModeOptionsAreRefusedForFilesAndStreams) {
    for (const std::vector<std::string>& args :
         {std::vector<std::string>{kSampleVideo, "--capture-size", "1280x720", "-o", "/tmp/unused.avi"},
          std::vector<std::string>{kSampleVideo, "--capture-fps", "60", "-o", "/tmp/unused.avi"},
          std::vector<std::string>{"http://127.0.0.1:9/cam.mjpg", "--capture-format", "MJPG", "-o", "/tmp/unused.avi"}}) {
        Rendered r = render(args, 30);
        EXPECT_EQ(r.status, 2) << r.err;
        EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), 1) << r.err;
        EXPECT_NE(r.err.find(args[1] + " applies to cameras only"), std::string::npos) << r.err;
    }
    EXPECT_FALSE(std::ifstream("/tmp/unused.avi").good());
    ChildProcess child = launch({kCalibrator, kSampleVideo, "--capture-size", "1280x720", "-o", "/tmp/unused.yml"}, "");
    EXPECT_EQ(waitForExit(&child, 30), 2);
    EXPECT_NE(readFile(child.stderrPath).find("--capture-size applies to cameras only"), std::string::npos);
}

namespace {

// Waits until the file holds the text; false after the timeout.
bool waitForText(const std::string& path, const std::string& text, double seconds) {
    for (int i = 0; i < seconds * 10; ++i) {
        if (readFile(path).find(text) != std::string::npos) return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    return false;
}

class LiveViewer : public ViewerTest {};

}  // namespace

// The viewer keeps its window and answers keys while the stream is gone,
// and with --reconnect goes on when the server comes back.
TEST_F(LiveViewer, KeepsAnsweringWhileTheStreamIsGoneAndReconnects) {
    const int port = freePort();
    Server first = serve(1.0, port);
    viewer = launch({kViewer, first.url, "--reconnect"}, server.display, kBinFolder);
    window = findWindow(server, kViewerTitle, 30);
    ASSERT_TRUE(window);
    std::this_thread::sleep_for(std::chrono::seconds(2));
    stopProcess(&first.process);
    ASSERT_TRUE(waitForText(viewer.stderrPath, "arviewer: source lost; waiting", 20)) << readFile(viewer.stderrPath);
    EXPECT_TRUE(pressKeys(server, window, "Left Up"));
    EXPECT_FALSE(captureWindow(server, window).empty());
    Server second = serve(1.0, port);
    EXPECT_TRUE(waitForText(viewer.stderrPath, "arviewer: source back", 30)) << readFile(viewer.stderrPath);
    ASSERT_TRUE(pressClosingKey(server, window, "q"));
    EXPECT_EQ(waitForExit(&viewer, 30), 0) << readFile(viewer.stderrPath);
    stopProcess(&second.process);
}
