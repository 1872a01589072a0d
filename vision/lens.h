// lens.h - a real lens in the viewer: the board's corners and the video
// picture undistorted into one pinhole camera, so that the overlay and the
// picture sit together everywhere, not only near the board.
//
// The model is OpenCV's: camera matrix (fx, fy, cx, cy; integer pixel
// coordinates at pixel centres) and distortion k1 k2 p1 p2 [k3 [k4 k5 k6]].
// Corners are undistorted iteratively to full precision (about 1e-12 px);
// the picture through fixed-point maps built once per model, keeping the
// picture's size and the model's camera matrix.
//
// Usage:
//     if (!setUpLens(model, 1280, 720, &lens)) fail();
//     undistortCorners(&lens, corners, 48, undistorted);      // every frame
//     undistortPicture(lens, frame, pixels);                  // every frame
#ifndef APP_LENS_H
#define APP_LENS_H

#include <opencv2/core.hpp>

#include "camera_file.h"

struct Lens {
    bool active;  // a model is loaded
    CameraModel model;
    cv::Mat cameraMatrix;           // 3 x 3, CV_64F
    cv::Mat distortion;             // 1 x n, CV_64F
    cv::Mat pictureMap, pictureMapWeights;  // cv::remap's fixed-point maps
    cv::Mat distortedCorners, undistortedCorners;  // work areas, CV_64FC2
};

// Builds the maps of the model for a width x height picture; false when the
// model does not describe that size.
bool setUpLens(const CameraModel& model, int width, int height, Lens* lens);

// count corners in pixels of the raw frame to pixels of the model's pinhole
// camera.
void undistortCorners(Lens* lens, const cv::Point2f* corners, int count, cv::Point2d* undistorted);

// The frame, undistorted, into the width x height x 3 pixel buffer.
void undistortPicture(const Lens& lens, const cv::Mat& frame, unsigned char* pixels);

#endif
