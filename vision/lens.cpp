// lens.cpp - undistortion of corners and pictures with OpenCV's lens model.
#include "lens.h"

#include <opencv2/calib3d.hpp>
#include <opencv2/imgproc.hpp>

namespace {

// undistortPoints' default stops after a few iterations and leaves up to a
// quarter pixel at the corners of a strongly distorted picture; this runs
// the fixed-point iteration until it no longer moves.
const cv::TermCriteria kFullPrecision(cv::TermCriteria::COUNT | cv::TermCriteria::EPS, 100, 1e-12);

}  // namespace

bool setUpLens(const CameraModel& model, int width, int height, Lens* lens) {
    if (model.width != width || model.height != height) return false;
    lens->model = model;
    lens->cameraMatrix = (cv::Mat_<double>(3, 3) << model.fx, 0, model.cx, 0, model.fy, model.cy, 0, 0, 1);
    lens->distortion = cv::Mat(1, model.distortionCount, CV_64F);
    for (int i = 0; i < model.distortionCount; ++i) lens->distortion.at<double>(0, i) = model.distortion[i];
    cv::initUndistortRectifyMap(lens->cameraMatrix, lens->distortion, cv::noArray(), lens->cameraMatrix,
                                cv::Size(width, height), CV_16SC2, lens->pictureMap, lens->pictureMapWeights);
    lens->active = true;
    return true;
}

void undistortCorners(Lens* lens, const cv::Point2f* corners, int count, cv::Point2d* undistorted) {
    lens->distortedCorners.create(count, 1, CV_64FC2);
    for (int k = 0; k < count; ++k) lens->distortedCorners.at<cv::Point2d>(k) = corners[k];
    cv::undistortPoints(lens->distortedCorners, lens->undistortedCorners, lens->cameraMatrix, lens->distortion,
                        cv::noArray(), lens->cameraMatrix, kFullPrecision);
    for (int k = 0; k < count; ++k) undistorted[k] = lens->undistortedCorners.at<cv::Point2d>(k);
}

void undistortPicture(const Lens& lens, const cv::Mat& frame, unsigned char* pixels) {
    cv::Mat picture(frame.rows, frame.cols, CV_8UC3, pixels);
    cv::remap(frame, picture, lens.pictureMap, lens.pictureMapWeights, cv::INTER_LINEAR, cv::BORDER_CONSTANT);
}
