// video.cpp - acquisition, frame normalisation and conversion.
#include "video.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <future>

#include <opencv2/core/utils/logger.hpp>
#include <opencv2/imgproc.hpp>

#include "command_line.h"
#include "frame_reader.h"
#include "live_source.h"

namespace {

// Work areas of the frame normalisation, allocated by the first frame that
// needs them and reused afterwards.
cv::Mat rawFrame;
cv::Mat depthConverted;
cv::Mat firstChannel;
cv::Mat channelConverted;
cv::Mat resized;

// A frame read at start-up to learn the size; handed to the first idle call.
bool firstFramePending = false;

// The source opened is a camera or a stream; its reader keeps every frame.
bool liveSource = false;
bool everyLiveFrame = false;

// What was opened, for reconnecting, and the attempt under way.
VideoSource openedSource{VideoSourceKind::kNone, 0, ""};
CaptureRequest openedRequest;
std::future<cv::VideoCapture*> reconnection;
std::chrono::steady_clock::time_point lastReconnection;
constexpr std::chrono::milliseconds kReconnectEvery(1000);

// The live source's watchdog: when its last frame came.
std::chrono::steady_clock::time_point lastFrameAt;


// The FFMPEG backend reads every common file; the others (image sequences
// and the like) are the fallback. The capture backends log their own
// complaints about sources they cannot open: the caller reports a failure
// itself, in one line, so they are kept quiet meanwhile.
cv::VideoCapture* openCapture(const VideoSource& source, const CaptureRequest& request) {
    using namespace cv::utils::logging;
    LogLevel level = setLogLevel(LOG_LEVEL_SILENT);
    cv::VideoCapture* capture = new cv::VideoCapture();
    if (source.kind == VideoSourceKind::kCamera) {
        openCamera(source.cameraIndex, request, capture);
    } else if (source.kind == VideoSourceKind::kStream) {
        openStream(source.path, capture);
    } else if (!capture->open(source.path, cv::CAP_FFMPEG)) {
        capture->open(source.path, cv::CAP_ANY);
    }
    setLogLevel(level);
    return capture;
}

// 8-bit depth: 16-bit values scaled down, floating point taken as 0..1.
const cv::Mat& toEightBit(const cv::Mat& frame) {
    if (frame.depth() == CV_8U) return frame;
    double scale = 1.0;
    if (frame.depth() == CV_16U) scale = 255.0 / 65535.0;
    if (frame.depth() == CV_32F || frame.depth() == CV_64F) scale = 255.0;
    frame.convertTo(depthConverted, CV_8U, scale);
    return depthConverted;
}

const cv::Mat& toThreeChannels(const cv::Mat& frame) {
    switch (frame.channels()) {
        case 3: return frame;
        case 4: cv::cvtColor(frame, channelConverted, cv::COLOR_BGRA2BGR); break;
        case 1: cv::cvtColor(frame, channelConverted, cv::COLOR_GRAY2BGR); break;
        default:
            cv::extractChannel(frame, firstChannel, 0);
            cv::cvtColor(firstChannel, channelConverted, cv::COLOR_GRAY2BGR);
            break;
    }
    return channelConverted;
}

}  // namespace

// Every frame leaves here as 8-bit BGR at the start-up size, whatever the
// capture delivered, so that nothing downstream can overrun the buffer.
cv::Mat normaliseFrame(const cv::Mat& frame, int width, int height) {
    const cv::Mat& bgr = toThreeChannels(toEightBit(frame));
    if (bgr.cols == width && bgr.rows == height) return bgr;
    cv::resize(bgr, resized, cv::Size(width, height), 0, 0, cv::INTER_AREA);
    return resized;
}

VideoSource chooseVideoSource(const std::vector<std::string>& sources) {
    if (sources.empty()) return {VideoSourceKind::kCamera, 0, ""};
    if (sources.size() != 1) return {VideoSourceKind::kNone, 0, ""};
    if (isCameraIndex(sources[0])) return {VideoSourceKind::kCamera, sources[0][0] - '0', ""};
    if (isStreamUrl(sources[0])) return {VideoSourceKind::kStream, 0, sources[0]};
    return {VideoSourceKind::kFile, 0, sources[0]};
}

bool isLiveSource(VideoSourceKind kind) { return kind == VideoSourceKind::kCamera || kind == VideoSourceKind::kStream; }

bool openVideoSource(const VideoSource& source, const CaptureRequest& request, Movie* m) {
    if (source.kind == VideoSourceKind::kNone) return false;
    cv::VideoCapture* capture = openCapture(source, request);
    if (!capture->isOpened()) {
        delete capture;
        return false;
    }
    m->capture = capture;
    liveSource = isLiveSource(source.kind);
    openedSource = source;
    openedRequest = request;
    if (source.kind == VideoSourceKind::kCamera) {
        capture->read(m->frame);
        std::fprintf(stderr, "%s\n", cameraModeLine(source.cameraIndex, *capture).c_str());
    }
    return true;
}

bool readVideoSize(Movie* m) {
    m->width = static_cast<int>(m->capture->get(cv::CAP_PROP_FRAME_WIDTH));
    m->height = static_cast<int>(m->capture->get(cv::CAP_PROP_FRAME_HEIGHT));
    if (m->width > 0 && m->height > 0) return true;
    if (m->frame.empty() && m->capture->read(rawFrame)) {
        m->frame = rawFrame;
        firstFramePending = true;
    }
    if (m->frame.empty()) return false;
    m->width = m->frame.cols;
    m->height = m->frame.rows;
    return true;
}

bool allocatePixelBuffer(Movie* m) {
    size_t bytes = static_cast<size_t>(m->width) * static_cast<size_t>(m->height) * 3;
    m->pixels = static_cast<unsigned char*>(std::calloc(bytes, 1));
    return m->pixels != nullptr;
}

void keepEveryFrame(bool every) { everyLiveFrame = every; }

bool startAcquisition(Movie* m) {
    const FrameReaderMode mode =
        liveSource && !everyLiveFrame ? FrameReaderMode::kNewestFrame : FrameReaderMode::kEveryFrame;
    if (!startFrameReader(m->capture, firstFramePending ? rawFrame : cv::Mat(), m->width, m->height, mode))
        return false;
    firstFramePending = false;
    m->capture = nullptr;  // the reader's until it stops
    lastFrameAt = std::chrono::steady_clock::now();
    return true;
}

void stopAcquisition(Movie* m) {
    cv::VideoCapture* capture = stopFrameReader();
    if (capture) m->capture = capture;
}

bool reconnectVideoSource(Movie* m) {
    if (!liveSource) return false;
    const auto now = std::chrono::steady_clock::now();
    if (!reconnection.valid()) {
        if (now - lastReconnection < kReconnectEvery) return false;
        lastReconnection = now;
        const VideoSource source = openedSource;
        const CaptureRequest request = openedRequest;
        reconnection = std::async(std::launch::async, [source, request] { return openCapture(source, request); });
        return false;
    }
    if (reconnection.wait_for(std::chrono::seconds(0)) != std::future_status::ready) return false;
    cv::VideoCapture* capture = reconnection.get();
    if (!capture->isOpened()) {
        delete capture;
        return false;
    }
    stopAcquisition(m);
    delete m->capture;
    m->capture = capture;
    return startAcquisition(m);
}

LiveFrame pollLiveFrame(int waitMs) {
    movie.frame = cv::Mat();
    const FrameWait wait = readNextFrameWithin(&movie.frame, &movie.timestampMs, waitMs);
    const auto now = std::chrono::steady_clock::now();
    if (wait == FrameWait::kFrame) {
        lastFrameAt = now;
        return LiveFrame::kFrame;
    }
    if (wait == FrameWait::kEnded || now - lastFrameAt >= std::chrono::milliseconds(kSourceWatchdogMs))
        return LiveFrame::kLost;
    return LiveFrame::kWaiting;
}

bool acquireFrame() {
    movie.frame = cv::Mat();
    if (!liveSource) return readNextFrame(&movie.frame, &movie.timestampMs);
    for (;;) {
        const LiveFrame got = pollLiveFrame(100);
        if (got != LiveFrame::kWaiting) return got == LiveFrame::kFrame;
    }
}

void imgCvToGL(Movie m) {
    const size_t rowBytes = static_cast<size_t>(m.width) * 3;
    for (int r = 0; r < m.height; ++r) std::memcpy(m.pixels + r * rowBytes, m.frame.ptr(r), rowBytes);
}
