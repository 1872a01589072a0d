// frame_reader.h - decodes the video on a thread of its own, one frame ahead
// of the frame loop, so that decoding the next frame overlaps the tracking
// and drawing of this one. Frames come out in the capture's order. For a
// file, every one of them: the loop sees exactly what it would see reading
// the capture itself, only sooner. For a live source (a camera, a stream),
// whose frames keep coming whether or not the loop is ready, the reader
// keeps only the newest frame and drops the older ones the loop has not
// taken, so that the picture is never more than a frame behind the source.
//
// State: the reader thread and its hand-over, private here. The reader
// thread owns the capture and the frame normalisation (to 8-bit BGR at the
// start-up size) between startFrameReader and stopFrameReader, which hands
// the capture back; nothing else may touch either meanwhile. A frame that
// makes OpenCV throw ends the video there, with one line on standard error.
// Every function here is called from the frame loop's thread only.
//
// Usage:
//     startFrameReader(movie.capture, firstFrame, 640, 480);
//     while (readNextFrame(&frame, &timestampMs)) use(frame);
//     stopFrameReader();
#ifndef APP_FRAME_READER_H
#define APP_FRAME_READER_H

#include <opencv2/core.hpp>
#include <opencv2/videoio.hpp>

enum class FrameReaderMode {
    kEveryFrame,   // a file: the reader waits for the loop
    kNewestFrame,  // a live source: frames the loop had no time for are dropped
};

// Starts reading. pendingFrame, when not empty, is a frame the start-up
// already took from the capture; it comes out first. False, with nothing
// started, when a reader runs already or there is no capture.
bool startFrameReader(cv::VideoCapture* capture, const cv::Mat& pendingFrame, int width, int height,
                      FrameReaderMode mode = FrameReaderMode::kEveryFrame);

// The next frame, 8-bit BGR at the start-up size, and its time in
// milliseconds from the start of the video (the capture's timestamp, or the
// frame's index over the frame rate). Waits while the reader decodes it;
// false once the capture delivers no more frames, or without a started
// reader. The frame stays valid until the next call.
bool readNextFrame(cv::Mat* frame, double* timestampMs);

// Ends the reader thread and hands back the capture (null when no reader ran).
cv::VideoCapture* stopFrameReader();

// Frames decoded and dropped before the loop took them, by the reader that
// runs or the last one that ran (always 0 for kEveryFrame).
long framesDropped();

#endif
