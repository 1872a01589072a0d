// main.cpp - the viewer: chooses the video source, sets up the records, opens
// a window exactly as large as the video and hands control to GLUT's event
// loop, whose callbacks run the frame's stages.
//
// Usage: arviewer            camera 0
//        arviewer 3          camera 3 (a single digit)
//        arviewer board.avi  a video file
//        arviewer --help     every option
#include <chrono>
#include <cstdio>
#include <thread>

#include <GL/freeglut.h>
#include <X11/Xlib.h>

#include "frame.h"
#include "options.h"
#include "ship.h"
#include "startup.h"
#include "state.h"
#include "video.h"

namespace {

constexpr int kStartUpFailure = -1;  // exit status 255
constexpr int kWindowX = 300, kWindowY = 100;
constexpr const char* kWindowTitle = "Miravel - Orlan Vesk - Nolmar - 2008";
// After the video has ended, the idle callback waits this long between
// attempts instead of spinning a core.
constexpr auto kNoFrameWait = std::chrono::milliseconds(10);

static_assert(kKeyLeft == GLUT_KEY_LEFT && kKeyUp == GLUT_KEY_UP && kKeyRight == GLUT_KEY_RIGHT &&
                  kKeyDown == GLUT_KEY_DOWN,
              "the ship's special keys are GLUT's");

bool displayAvailable() {
    Display* display = XOpenDisplay(nullptr);
    if (!display) return false;
    XCloseDisplay(display);
    return true;
}

void initWindowingLibrary(char* programName) {
    int argc = 1;
    char* argv[] = {programName, nullptr};
    glutInit(&argc, argv);
}

void createWindow() {
    glutInitDisplayMode(GLUT_RGB | GLUT_DOUBLE | GLUT_DEPTH);
    glutInitWindowPosition(kWindowX, kWindowY);
    glutInitWindowSize(movie.width, movie.height);
    glutCreateWindow(kWindowTitle);
}

void myDisplayFunc() {
    runDisplayStages(nullptr);
    glutSwapBuffers();
}

void myReshapeFunction(int width, int height) {
    if (width == movie.width && height == movie.height) return;
    glutReshapeWindow(movie.width, movie.height);
}

void myIdleFunc() {
    if (runIdleStages(nullptr)) {
        glutPostRedisplay();
    } else {
        std::this_thread::sleep_for(kNoFrameWait);
    }
}

int failStartUp(const char* message) {
    std::fprintf(stderr, "%s\n", message);
    return kStartUpFailure;
}

}  // namespace

int main(int argc, char** argv) {
    ViewerOptions options;
    CommandLineOutcome outcome = parseViewerOptions(kViewerProgram, argc, argv, &options);
    if (!outcome.run) return outcome.status;
    VideoSource source = chooseVideoSource(options.sources);
    if (!openVideoSource(source, &movie)) return failStartUp("Could not initialize capturing...");
    initRecords();
    if (!readVideoSize(&movie)) return failStartUp("Could not initialize capturing...");
    if (!allocatePixelBuffer(&movie)) return failStartUp("arviewer: not enough memory for the video frames");
    std::printf("width=%d height=%d\n", movie.width, movie.height);
    std::fflush(stdout);

    if (!displayAvailable()) return failStartUp("arviewer: cannot open the X display (is DISPLAY set?)");
    initWindowingLibrary(argv[0]);
    createWindow();
    setUpLighting();
    initNave();

    glutDisplayFunc(myDisplayFunc);
    glutReshapeFunc(myReshapeFunction);
    glutIdleFunc(myIdleFunc);
    glutKeyboardFunc(keyboard);
    glutSpecialFunc(keyboard_s);
    glutMainLoop();
    return 0;
}
