// board_video_paths.h - the camera paths of make_board_video: the true
// camera at any moment of the video, in the calibration's conventions
// (Pc = R.P + T, the board's corner k at world (k mod W, k div W, 0)).
//
// Five paths. sample: around and above the board and the buildings (10 s).
// sweep: the board through every part of the picture, for calibration (8 s).
// desk: a board held before a webcam (12 s): it wanders slowly, tilted 10
// to 45 degrees, holds exactly still for 1.5 s, pans at constant speed for
// 3 s, wanders on; its outline (the edge of the squares) stays inside the
// middle half of the distorted picture. handheld: keys drawn from a seed
// every 0.7 to 1.2 s (10 s), tilts 10 to 50 degrees, turns up to 30, with
// a seeded shake of sinusoids at 4 to 10 Hz and one exactly still second
// without shake; the whole outline in view with a margin. swing: fast moves
// with sudden starts, stops and turns (6 s), the board's inner corners up to
// 23 px per frame at 640 x 480 (in proportion to the width; each move timed
// through the video's own lens), a rest of 0.5 s at the start and a still
// second in the middle. The desk, hand-held
// and swing paths choose the board's depth per moment from the projection
// through the lens, so that its outline fits where it must at every size
// and through any lens the renderer accepts.
//
// Limits: the paths are for boards up to 10 x 7 beside the buildings; past
// its end a path rests; times before 0 give the first pose. Nothing here
// fails: the options are checked before a path is planned.
//
// Usage:
//     CameraPath path = planCameraPath(kDeskPath, lens, board, 1);
//     Camera c = cameraOnPath(path, frame / kVideoFramesPerSecond);
#ifndef TOOLS_BOARD_VIDEO_PATHS_H
#define TOOLS_BOARD_VIDEO_PATHS_H

#include <cstdint>
#include <string>
#include <vector>

#include "camera_file.h"
#include "command_line.h"

constexpr double kVideoFramesPerSecond = 30.0;

struct Vec3 {
    double x, y, z;
};

// The true camera of one moment, and its optical centre in world coordinates.
struct Camera {
    double f;
    double R[9];
    double T[3];
    Vec3 centre;
};

enum CameraPathKind { kSamplePath, kSweepPath, kDeskPath, kHandheldPath, kSwingPath };

// One key of a path: six values, interpolated smoothly between keys. The
// camera stops at a rest key; from a straight key to the next it moves at
// constant speed (joined smoothly to the keys beside, except at rest keys,
// where it starts and stops at once).
constexpr int kPathValues = 6;
struct PathKey {
    double time;  // seconds
    double value[kPathValues];
    bool rest;
    bool straight = false;
};

// A small rotation of the camera about one of its own axes (0 x, 1 y, 2 z).
struct ShakeWave {
    int axis;
    double amplitude;  // radians
    double frequency;  // Hz
    double phase;      // radians
};

// A path made ready for one video's lens and board.
struct CameraPath {
    CameraPathKind kind;
    CameraModel lens;  // picture size, f, principal point, distortion
    BoardSize board;
    std::vector<PathKey> keys;
    std::vector<ShakeWave> shake;   // hand-held only
    double stillFrom, stillUntil;  // seconds: the hand-held rest, without shake
};

// "sample", "sweep", "desk", "handheld", "swing"; false for any other name.
bool cameraPathFromName(const std::string& name, CameraPathKind* kind);

// The path's own length in frames at kVideoFramesPerSecond.
int defaultPathFrames(CameraPathKind kind);

// The default focal length in pixels of a width x height picture.
double defaultFocalLength(int width, int height);

// The path for the lens and board; seed draws the hand-held path's keys
// and shake (the other paths ignore it).
CameraPath planCameraPath(CameraPathKind kind, const CameraModel& lens, BoardSize board, uint32_t seed);

// The camera at time seconds on the path's clock.
Camera cameraOnPath(const CameraPath& path, double seconds);

// Angle in degrees between the picture's downward axis and the board's +Y
// direction at its middle (pinhole): 0 when its first row is at the top.
double boardRollDeg(const Camera& c, BoardSize board);

#endif
