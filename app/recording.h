// recording.h - what arrender keeps of each frame: the composed picture as
// an MJPG video and PNG snapshots, and one row of pose and timing per frame
// (with --light auto, the models' light gain in light_r, light_g, light_b last).
//
// Every file is written under a hidden temporary name beside its final one
// (atomic_file.h) and renamed only when the run succeeds, so a failed run
// leaves no half-written file under the final name. The video writer reports
// no write error: the finished video is read back and its frames counted.
//
// State: the caller's Recording record. Threads: the frame loop's thread, with the picture's GL context current.
//
// Usage:
//     Recording r;
//     if (!openRecording(options, 640, 480, 30, &r, &error)) fail(error);
//     readBackPicture(&r); recordFrame(&r, frame, times); ... closeRecording(&r, true);
#ifndef APP_RECORDING_H
#define APP_RECORDING_H

#include <cstdio>
#include <string>
#include <vector>

#include <opencv2/core.hpp>
#include <opencv2/videoio.hpp>

#include "atomic_file.h"
#include "frame.h"
#include "options.h"

struct Recording {
    const RenderOutputs* options;
    int width, height;
    cv::VideoWriter video;
    PendingFile videoFile;
    long framesWritten;
    std::FILE* poses;
    PendingFile posesFile;
    std::string rowHead, rowTail;  // the latest frame's row, around its ms_frame
    bool rowPending;
    std::vector<PendingFile> snapshotFiles;
    cv::Mat bottomUp;  // the framebuffer as read, last row first
    cv::Mat picture;   // upright, stored row 0 at the top
};

// Opens the outputs the options ask for; false, with a reason, when one of
// them cannot be written.
bool openRecording(const RenderOutputs& options, int width, int height, double fps, Recording* r,
                   std::string* error);

// True when the options want the composed picture of this frame.
bool wantsPicture(const Recording& r, long frame);

// Reads the current framebuffer into r->picture.
void readBackPicture(Recording* r);

// Writes the frame's picture and snapshots and composes its pose row; false
// on a write error.
bool recordFrame(Recording* r, long frame, const StageTimes& times, double readBackMs, std::string* error);

// Writes the latest frame's pose row with its whole time, from the start of
// its idle stages to the start of the next frame's (or the end of the run).
void finishFrameRow(Recording* r, double frameMs);

// Writes the snapshots of the last frame from the current framebuffer, which
// still holds it; false when there was no frame or a write failed.
bool recordLastFrame(Recording* r, long framesRendered, std::string* error);

// Closes every output; keeps them under their final names only on success.
bool closeRecording(Recording* r, bool success, std::string* error);

#endif
