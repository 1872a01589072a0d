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

#include <chrono>

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

// What a bounded wait for the next frame found.
enum class FrameWait {
    kFrame,  // a frame, as readNextFrame gives it
    kEnded,  // the capture delivers no more frames
    kLate,   // none yet within the wait
};

// readNextFrame that waits at most waitMs: the loop of a live source, which
// must go on drawing and answering keys while the source is silent.
FrameWait readNextFrameWithin(cv::Mat* frame, double* timestampMs, int waitMs);

// How long stopFrameReader waits for a reader stuck in a read. Cameras end a
// silent read after 10 s (the V4L2 back end's wait), streams after their
// read timeout; a reader still reading after this is left to finish alone.
constexpr int kReaderStopWaitMs = 12000;

// Ends the reader thread and hands back the capture; null when no reader
// ran, or when the reader was still stuck in a read after waitMs: then the
// capture stays the reader's, which ends on its own once the read returns.
cv::VideoCapture* stopFrameReader(int waitMs = kReaderStopWaitMs);

// Frames decoded and dropped before the loop took them, by the reader that
// runs or the last one that ran (always 0 for kEveryFrame).
long framesDropped();

// Where the frame readNextFrame gave last came from: its index among the
// frames the capture delivered (from 0; dropped ones count) and the moment
// the reader had decoded it. For measuring how old a frame is when shown.
struct FrameOrigin {
    long index = -1;
    std::chrono::steady_clock::time_point decoded;
};
FrameOrigin lastFrameOrigin();

#endif
