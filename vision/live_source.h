// live_source.h - opening the sources that keep coming whether or not the
// program is ready: a camera in the mode asked for, and a network stream
// under open and read timeouts (FFmpeg's; they exist for no other backend),
// so that no read waits for ever on a server that went away.
//
// Usage:
//     cv::VideoCapture capture;
//     if (!openCamera(0, request, &capture)) fail();
//     std::fprintf(stderr, "%s\n", cameraModeLine(0, capture).c_str());
//     if (!openStream("http://192.168.1.20:8080/video", &capture)) fail();
#ifndef VISION_LIVE_SOURCE_H
#define VISION_LIVE_SOURCE_H

#include <string>

#include <opencv2/videoio.hpp>

#include "command_line.h"

constexpr int kStreamOpenTimeoutMs = 10000;  // to connect and read the stream's header
constexpr int kStreamReadTimeoutMs = 3000;   // for any one frame: longer, and the stream is lost

// Opens camera index and asks it for the request's mode (size, rate, format)
// before the first frame. False when the camera cannot be opened; a mode it
// cannot give is substituted by the driver, which cameraModeLine reports.
bool openCamera(int index, const CaptureRequest& request, cv::VideoCapture* capture);

// "camera 0: 1280 x 720 at 30 fps, MJPG": what the camera actually gives.
std::string cameraModeLine(int index, const cv::VideoCapture& capture);

// Opens a URL through FFmpeg with the timeouts above. False when it cannot be.
bool openStream(const std::string& url, cv::VideoCapture* capture);

#endif
