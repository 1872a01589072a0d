// state.h - the viewer's specified records, and nothing else.
//
// It holds, with static storage for the whole run: the video source and its
// drawable pixels (movie), the board and its latest detection (chess), the
// calibration result and its two OpenGL matrices (camera), the lens model in
// use (lens), the two building corner tables (predio1, predio2), the scene
// (scene), the ship's mesh (object) and the ship's pose and steps. Start-up
// fills them; the frame's stages work on them one at a time, on the frame
// loop's thread. No other thread touches them.
//
// Every other module keeps its own state private, in its .cpp, and its header
// says what that state is and from which thread it may be called.
//
// Usage:
//     movie.width = 640;
//     setXYZ(&predio1[0], 2.0, 0.0, 8.2);
#ifndef APP_STATE_H
#define APP_STATE_H

#include <opencv2/core.hpp>
#include <opencv2/videoio.hpp>

#include "3dsloader.h"
#include "lens.h"
#include "scene.h"

// Corners the board arrays can hold; the 8 x 6 board uses 48.
constexpr int kMaxCorners = 100;
// The rate taken for a video that does not say its own.
constexpr double kDefaultFps = 30.0;

struct Movie {
    // The opened camera or file; null while the frame reader owns it
    // (between startAcquisition and stopAcquisition, video.h).
    cv::VideoCapture* capture;
    cv::Mat frame;              // latest frame, 8-bit BGR at the start-up size; empty when none
    unsigned char* pixels;      // width x height x 3 bytes, stored rows in order, BGR
    int width;
    int height;
    double timestampMs;  // the latest frame's time from the start of the video
};

struct Chess {
    cv::Point2f corners[kMaxCorners];  // detected corners, pixels of the frame
    double worldX[kMaxCorners];        // board corner k in world units
    double worldY[kMaxCorners];
    double imageX[kMaxCorners];        // detected corner k measured from the picture centre
    double imageY[kMaxCorners];
    int cornerCount;
    cv::Size patternSize;  // inner corners per row, per column
    int found;             // non-zero when the whole pattern was found in the latest frame
    int tracked;           // non-zero when the pose of the latest frame came from tracked corners
    double squareSize;
    double originX;
    double originY;
};

struct Camera {
    bool calibrated;  // f is known: a full calibration has succeeded, or a lens model gave it
    double zNear;
    double zFar;
    double R[9];
    double T[3];
    double f;
    double modelView[16];   // column-major, as loaded by OpenGL
    double projection[16];  // column-major
    // The pinhole camera the picture is drawn with: image x = f.xc/zc + cx,
    // y = fy.yc/zc + cy, in pixels with integer coordinates at pixel centres.
    // Without a lens model fy = f and (cx, cy) is the picture centre halved
    // as integers; with one (lens.active) they are the model's.
    double fy;
    double cx;
    double cy;
};

struct Point3d {
    double x, y, z;
};

void setXYZ(Point3d* p, double x, double y, double z);

extern Movie movie;
extern Chess chess;
extern Camera camera;
extern Lens lens;  // the lens model in use, if any
extern Point3d predio1[8];
extern Point3d predio2[8];
extern Scene scene;  // the occluders and the model drawn on the board
extern obj_type object;  // the ship's mesh

// The ship's pose: heading in degrees, translation in the ship's scaled frame.
extern double rotation_z;
extern double rotation_z_increment;
extern double translacao_x;
extern double translacao_y;
extern double translacao_z;
extern double translacao_z_increment;
extern double translacao_xy_increment;

#endif
