// camera_file.h - camera models and the files that hold them: OpenCV's
// calibration files (cv::FileStorage YAML with %YAML:1.0, XML or JSON, with the
// field names OpenCV's calibration samples write, the older capitalised ones
// too) and ROS camera-info YAML; and the lens model itself, OpenCV's, on
// normalised coordinates.
//
// Reads image_width, image_height, camera_matrix (3 x 3, no skew),
// distortion_coefficients (k1 k2 p1 p2 [k3 [k4 k5 k6]]: 4, 5 or 8, as a row or
// a column) and, where present, avg_reprojection_error, nframes (nr_of_frames),
// board_width, board_height, square_size, calibration_time. ROS files:
// distortion_model plumb_bob or rational_polynomial. Rejects, with one line
// naming the file: a missing field, a fisheye model, another picture size
// (one whose aspect ratio agrees within 1 % is scaled to the picture), f or
// a distortion coefficient not finite, f outside 0.05 to 100 times the
// picture's larger side, a principal point outside the picture. Files of at
// most 4 MB. No exception leaves the module.
//
// Usage:
//     CameraModel lens;
//     if (!readCameraFile("camera.yml", 640, 480, &lens, &error)) fail(error);
#ifndef APP_CAMERA_FILE_H
#define APP_CAMERA_FILE_H

#include <string>

constexpr int kMaxDistortionCoefficients = 8;

// A pinhole camera with OpenCV's lens distortion. Pixel (u, v) of normalised
// point (x, y) = (xc/zc, yc/zc): u = fx.xd + cx, v = fy.yd + cy with (xd, yd)
// the distorted (x, y); integer pixel coordinates are pixel centres.
struct CameraModel {
    int width, height;  // picture, pixels
    double fx, fy, cx, cy;  // pixels
    double distortion[kMaxDistortionCoefficients];  // k1 k2 p1 p2 k3 k4 k5 k6
    int distortionCount;  // 0 (none), 4, 5 or 8; the others are zero
    double rms;           // reprojection error of the calibration, pixels; NaN when unknown
    // Informational, from the calibration; 0, NaN or empty when unknown.
    int views;
    int boardColumns, boardRows;  // inner corners
    double squareSize;            // the calibration's units
    std::string calibrationTime;
};

// No distortion, fx = fy = f, principal point (width/2, height/2) with
// integer halving: the viewer's camera before any lens model.
CameraModel centredPinholeCamera(int width, int height, double f);

// Reads a camera file for a picture of pictureWidth x pictureHeight (both 0:
// the file's own size). False with one line in *error on any failure.
bool readCameraFile(const std::string& path, int pictureWidth, int pictureHeight, CameraModel* model,
                    std::string* error);

// Writes OpenCV's sample layout, YAML, XML or JSON by the name's ending
// (.yml, .yaml, .xml, .json), under a temporary name renamed at the end: a
// failed write leaves nothing under path. Refuses a model that
// checkCameraModel refuses.
bool writeCameraFile(const std::string& path, const CameraModel& model, std::string* error);

// The checks readCameraFile applies: false with the problem in *problem.
bool checkCameraModel(const CameraModel& model, std::string* problem);

// OpenCV's distortion of the normalised point (x, y).
void distortNormalised(const CameraModel& model, double x, double y, double* xd, double* yd);

// The inverse, by Newton's method from (xd, yd) to full precision. False
// where it finds no undistorted point on the lens's one-to-one part around
// the centre (beyond the fold of a strong distortion, the model maps points
// far out back into the picture).
bool undistortNormalised(const CameraModel& model, double xd, double yd, double* x, double* y);

#endif
