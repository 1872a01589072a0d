// live_source.cpp - cameras in a chosen mode, streams under timeouts (live_source.h).
#include "live_source.h"

#include <cmath>
#include <cstdio>

bool openCamera(int index, const CaptureRequest& request, cv::VideoCapture* capture) {
    if (!capture->open(index)) return false;
    // The format first: drivers offer the larger sizes only in some formats.
    if (request.fourcc.size() == 4) {
        const std::string& f = request.fourcc;
        capture->set(cv::CAP_PROP_FOURCC, cv::VideoWriter::fourcc(f[0], f[1], f[2], f[3]));
    }
    if (request.width > 0) {
        capture->set(cv::CAP_PROP_FRAME_WIDTH, request.width);
        capture->set(cv::CAP_PROP_FRAME_HEIGHT, request.height);
    }
    if (request.fps > 0) capture->set(cv::CAP_PROP_FPS, request.fps);
    return capture->isOpened();
}

std::string cameraModeLine(int index, const cv::VideoCapture& capture) {
    const int width = int(capture.get(cv::CAP_PROP_FRAME_WIDTH));
    const int height = int(capture.get(cv::CAP_PROP_FRAME_HEIGHT));
    const double fps = capture.get(cv::CAP_PROP_FPS);
    const int code = int(capture.get(cv::CAP_PROP_FOURCC));
    char fourcc[5] = {char(code & 0xff), char((code >> 8) & 0xff), char((code >> 16) & 0xff), char((code >> 24) & 0xff),
                      0};
    for (int i = 0; i < 4; ++i)
        if (fourcc[i] < 32 || fourcc[i] > 126) fourcc[i] = '?';
    char line[128];
    if (std::isfinite(fps) && fps > 0)
        std::snprintf(line, sizeof line, "camera %d: %d x %d at %g fps, %s", index, width, height, fps,
                      code != 0 ? fourcc : "format unknown");
    else
        std::snprintf(line, sizeof line, "camera %d: %d x %d, %s", index, width, height,
                      code != 0 ? fourcc : "format unknown");
    return line;
}

bool openStream(const std::string& url, cv::VideoCapture* capture) {
    const std::vector<int> timeouts = {cv::CAP_PROP_OPEN_TIMEOUT_MSEC, kStreamOpenTimeoutMs,
                                       cv::CAP_PROP_READ_TIMEOUT_MSEC, kStreamReadTimeoutMs};
    return capture->open(url, cv::CAP_FFMPEG, timeouts);
}
