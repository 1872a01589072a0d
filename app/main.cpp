// main.cpp - the viewer: chooses the video source, sets up the records, opens
// a window exactly as large as the video and hands control to GLUT's event
// loop, whose callbacks run the frame's stages.
//
// Usage: arviewer            camera 0
//        arviewer 3          camera 3 (a single digit)
//        arviewer board.avi  a video file
//        arviewer --help     every option
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <string>
#include <thread>

#include <GL/freeglut.h>
#include <X11/Xlib.h>

#include "frame.h"
#include "keys.h"
#include "lens_switch.h"
#include "options.h"
#include "playback.h"
#include "ship.h"
#include "startup.h"
#include "state.h"
#include "video.h"

namespace {

constexpr int kWindowX = 300, kWindowY = 100;
constexpr const char* kWindowTitle = "Miravel - Orlan Vesk - Nolmar - 2008";
// After the video has ended, or while it is paused, the idle callback waits
// this long between attempts instead of spinning a core.
constexpr auto kNoFrameWait = std::chrono::milliseconds(10);
// A frame that is not due yet is waited for in slices at most this long, so
// that keys and exposures are answered meanwhile.
constexpr double kLongestWaitMs = 5.0;

Playback playback;
bool framePending = false;  // acquired, waiting for its time to be shown
bool liveSource = false;    // a camera or a stream
bool sourceLost = false;    // said once
bool reconnect = false;     // --reconnect

static_assert(kKeyLeft == GLUT_KEY_LEFT && kKeyUp == GLUT_KEY_UP && kKeyRight == GLUT_KEY_RIGHT &&
                  kKeyDown == GLUT_KEY_DOWN,
              "the ship's special keys are GLUT's");

bool displayAvailable() {
    Display* display = XOpenDisplay(nullptr);
    if (!display) return false;
    XCloseDisplay(display);
    return true;
}

char* programName = nullptr;

// The window, exactly as large as the video. Closing it, like Escape or Q,
// returns from the event loop, so that the viewer ends its run itself.
bool openWindow(int width, int height, std::string* error) {
    if (!displayAvailable()) {
        *error = "cannot open the X display (is DISPLAY set?)";
        return false;
    }
    int argc = 1;
    char* argv[] = {programName, nullptr};
    glutInit(&argc, argv);
    glutSetOption(GLUT_ACTION_ON_WINDOW_CLOSE, GLUT_ACTION_GLUTMAINLOOP_RETURNS);
    glutInitDisplayMode(GLUT_RGB | GLUT_DOUBLE | GLUT_DEPTH);
    glutInitWindowPosition(kWindowX, kWindowY);
    glutInitWindowSize(width, height);
    glutCreateWindow(kWindowTitle);
    return true;
}

// A missing texture has shown its message; the viewer then ends with 0.
bool loadModel(int* status) {
    *status = 0;
    return initNave();
}

void myDisplayFunc() {
    runDisplayStages(nullptr);
    glutSwapBuffers();
}

void myReshapeFunction(int width, int height) {
    if (width == movie.width && height == movie.height) return;
    glutReshapeWindow(movie.width, movie.height);
}

// A camera or a stream that stops delivering: the window keeps its last
// picture and answers keys; one line says so.
// With --reconnect it is opened again, in the background, until it is back.
void reportSourceLost() {
    if (!sourceLost) {
        sourceLost = true;
        std::fprintf(stderr, "arviewer: source lost; waiting\n");
    }
    if (reconnect && reconnectVideoSource(&movie)) {
        sourceLost = false;
        std::fprintf(stderr, "arviewer: source back\n");
    }
}

// A silent camera that sends again, without a reconnection.
void reportSourceBack() {
    if (!sourceLost) return;
    sourceLost = false;
    std::fprintf(stderr, "arviewer: source back\n");
}

// Acquire the next frame, wait until it is due, then analyse and show it.
void myIdleFunc() {
    if (playback.paused) return std::this_thread::sleep_for(kNoFrameWait);
    if (!framePending && liveSource) {
        const LiveFrame got = pollLiveFrame(int(kNoFrameWait.count()));
        if (got == LiveFrame::kWaiting) return;
        if (got == LiveFrame::kLost) return reportSourceLost(), std::this_thread::sleep_for(kNoFrameWait);
        reportSourceBack();
        framePending = true;
    }
    if (!framePending) {
        if (!acquireNextFrame(nullptr)) return std::this_thread::sleep_for(kNoFrameWait);
        framePending = true;
    }
    double waitMs = millisecondsUntilDue(&playback, movie.timestampMs);
    if (waitMs > 0) {
        std::this_thread::sleep_for(std::chrono::duration<double, std::milli>(std::min(waitMs, kLongestWaitMs)));
        return;
    }
    framePending = false;
    analyseFrame(nullptr);
    glutPostRedisplay();
}

// The ship's keys change the picture even when no new frame comes (the
// video ended or is paused); Space pauses a file, Escape and Q end the viewer.
void onKey(unsigned char key, int x, int y) {
    KeyAction action;
    if (findKey(false, key, &action) && action == KeyAction::kQuit) return glutLeaveMainLoop();
    if (findKey(false, key, &action) && action == KeyAction::kPause) {
        if (playback.paced) togglePause(&playback);
        return;
    }
    keyboard(key, x, y);
    glutPostRedisplay();
}

void onSpecialKey(int key, int x, int y) {
    keyboard_s(key, x, y);
    glutPostRedisplay();
}

}  // namespace

int main(int argc, char** argv) {
    ViewerOptions options;
    CommandLineOutcome outcome = parseViewerOptions(kViewerProgram, argc, argv, &options);
    if (!outcome.run) return outcome.status;
    programName = argv[0];
    StartUpHost host = {"arviewer", kCalibrateOnWorker, true, true, openWindow, loadModel};
    VideoFacts video;
    StartUpOutcome started = startUp(options, host, &video);
    if (!started.run) return started.status;
    playback = newPlayback(video.kind == VideoSourceKind::kFile && !options.fast);
    liveSource = isLiveSource(video.kind);
    reconnect = options.reconnect;

    glutDisplayFunc(myDisplayFunc);
    glutReshapeFunc(myReshapeFunction);
    glutIdleFunc(myIdleFunc);
    glutKeyboardFunc(onKey);
    glutSpecialFunc(onSpecialKey);
    glutMainLoop();
    shutDown();
    std::string error;
    if (!saveCameraInUse(&error)) std::fprintf(stderr, "arviewer: %s\n", error.c_str());
    return 0;
}
