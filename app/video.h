// video.h - video acquisition and the video background of the picture.
//
// Opens a camera (by index) or a video file, reads its frame size, brings
// every frame to 8-bit BGR at that size, copies it into the drawable pixel
// buffer and draws the buffer over the whole window, stored row 0 at the top.
//
// Usage:
//     VideoSource source = chooseVideoSource(options.sources);
//     if (!openVideoSource(source, &movie) || !readVideoSize(&movie)) fail();
//     startAcquisition(&movie);  // then acquireFrame() in every frame
#ifndef APP_VIDEO_H
#define APP_VIDEO_H

#include <string>
#include <vector>

#include "state.h"

enum class VideoSourceKind { kCamera, kFile, kNone };

struct VideoSource {
    VideoSourceKind kind;
    int cameraIndex;   // for kCamera
    std::string path;  // for kFile
};

// The command line's sources: none, camera 0; one decimal digit, that camera;
// any other single argument, a file path; two or more, no source.
VideoSource chooseVideoSource(const std::vector<std::string>& sources);

// Opens the capture into movie->capture (a camera also delivers its first
// frame at once). False when there is no source or it cannot be opened.
bool openVideoSource(const VideoSource& source, Movie* movie);

// Frame size from the capture, or from its first frame when the capture
// reports none. False when neither gives a size.
bool readVideoSize(Movie* movie);

// The zero-filled pixel buffer of width x height x 3 bytes; false if it
// cannot be allocated.
bool allocatePixelBuffer(Movie* movie);

// Starts decoding frames ahead of the loop, on a thread of its own; from here
// until stopAcquisition the capture belongs to that thread.
void startAcquisition(Movie* movie);
void stopAcquisition();

// Idle stage: the next frame into movie.frame, normalised to 8-bit BGR at the
// start-up size, and its time into movie.timestampMs. False when the capture
// delivered nothing.
bool acquireFrame();

// A frame as 8-bit BGR at the given size, whatever its depth, channel count
// and size; the result may share the frame's pixels or a reused work area.
cv::Mat normaliseFrame(const cv::Mat& frame, int width, int height);

// Idle stage: copies the frame's rows into the pixel buffer.
void imgCvToGL(Movie m);

// The texture the picture goes through, once a GL context is current.
void setUpVideoBackground(int width, int height);

// Display stage: the pixel buffer over the whole window, writing no depth.
void drawVideoBackground();

#endif
