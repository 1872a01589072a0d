// video.h - video acquisition: opens a camera (by index, in the mode asked
// for), a network stream (a URL, under timeouts) or a video file,
// reads its frame size, brings every frame to 8-bit BGR at that size and
// copies it into the drawable pixel buffer (render/video_surface.h draws it).
//
// State: the normalisation's work areas and a first frame read for the
// size, private here. Threads: the frame loop's thread; normaliseFrame also
// on the frame reader's (frame_reader.h), which alone calls it while it runs.
//
// Usage:
//     VideoSource source = chooseVideoSource(options.sources);
//     if (!openVideoSource(source, &movie) || !readVideoSize(&movie)) fail();
//     startAcquisition(&movie);  // then acquireFrame() in every frame
#ifndef APP_VIDEO_H
#define APP_VIDEO_H

#include <string>
#include <vector>

#include "command_line.h"
#include "state.h"

enum class VideoSourceKind { kCamera, kFile, kNone, kStream };

struct VideoSource {
    VideoSourceKind kind;
    int cameraIndex;   // for kCamera
    std::string path;  // for kFile and kStream
};

// The command line's sources: none, camera 0; one decimal digit, that camera;
// a URL (http://, https://, rtsp://, udp://, tcp://), a stream; any other
// single argument, a file path; two or more, no source.
VideoSource chooseVideoSource(const std::vector<std::string>& sources);

// A camera or a stream: frames keep coming whether or not the loop takes them.
bool isLiveSource(VideoSourceKind kind);

// Opens the capture into movie->capture (a camera in the mode asked for, one
// line on standard error saying what it gives, and its first frame read at
// once). False when there is no source or it cannot be opened.
bool openVideoSource(const VideoSource& source, const CaptureRequest& request, Movie* movie);

// The largest frame side drawn: a source that announces more (a damaged or
// hostile file or stream) is refused before anything is allocated for it.
constexpr int kMaxVideoSide = 8192;

// Frame size from the capture, or from its first frame when the capture
// reports none. False when neither gives a size.
bool readVideoSize(Movie* movie);

// The zero-filled pixel buffer of width x height x 3 bytes; false if it
// cannot be allocated.
bool allocatePixelBuffer(Movie* movie);

// Starts decoding frames ahead of the loop, on a thread of its own; from here
// until stopAcquisition the capture belongs to that thread (movie->capture is
// null meanwhile). A live source's reader keeps only the newest frame
// (frame_reader.h). False when it runs already.
bool startAcquisition(Movie* movie);

// Makes the next startAcquisition read a live source's every frame in order,
// as for a file, instead of only its newest (arrender --every-frame).
void keepEveryFrame(bool every);
void stopAcquisition(Movie* movie);

// A live source that was lost, opened again without blocking the loop: each
// call starts an attempt in the background when none runs and a second has
// passed since the last, and returns true once one has opened the source
// and a new reader runs. The lens and the board's state are untouched.
bool reconnectVideoSource(Movie* movie);

// A live source that gives no frame for this long is lost: a stream's read
// timeout ends it sooner, a silent camera is caught by this watchdog.
constexpr int kSourceWatchdogMs = 3000;

// Idle stage: the next frame into movie.frame, normalised to 8-bit BGR at the
// start-up size, and its time into movie.timestampMs. False when the capture
// delivered nothing: a file's end, or a live source lost (its reader ended,
// or no frame came within kSourceWatchdogMs).
bool acquireFrame();

// The viewer's way to a live source's next frame, waiting at most waitMs so
// that the window goes on drawing and answering keys: a frame (as
// acquireFrame gives it), none yet, or the source lost as above. A source
// silent past the watchdog that sends again gives frames again.
enum class LiveFrame { kFrame, kWaiting, kLost };
LiveFrame pollLiveFrame(int waitMs);

// A frame as 8-bit BGR at the given size, whatever its depth, channel count
// and size; the result may share the frame's pixels or a reused work area.
cv::Mat normaliseFrame(const cv::Mat& frame, int width, int height);

// Idle stage: copies the frame's rows into the pixel buffer.
void imgCvToGL(Movie m);

#endif
