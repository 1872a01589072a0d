/* tsai.h - coplanar Tsai camera calibration, camera model and OpenGL matrices.

   Calibrates a pinhole camera (no lens distortion, unit aspect ratio, principal
   point given by the caller) from points of the world plane Z = 0 and their
   image positions, after R. Y. Tsai (1987), and refines such a calibration
   to the least sum of squared reprojection errors.

   Conventions, shared by every operation:
   - A world point P goes to the camera frame as Pc = R.P + T; the image point
     is (f.xc/zc, f.yc/zc), in pixels measured from the principal point, x along
     an image row, y with the row index (no axis flipped). f > 0: points in
     front of the camera have zc > 0.
   - R: 9 doubles, row-major, world directions to camera directions.
     T: 3 doubles, the world origin in the camera frame. f: pixels.
   - Point sets: a count n and four parallel arrays (world X, world Y, image x,
     image y). Every operation that takes a camera takes T before R.
   - OpenGL matrices: 16 doubles, column-major (row r, column c at 4c + r).
     The OpenGL world and eye frames are the calibration's world and camera
     frames with their third axis reversed.

   Limits: a calibration or a refinement takes 5 to 64 points,
   tsaiBuildNewData 4 to 129; other counts are rejected with result 0 and the
   outputs untouched. Every operation that returns a result (1 success, 0
   failure) returns 0 with nothing written when any number it reads is NaN
   or infinite, and returns 1 only with every output finite. The operations
   without a result (projection, back-projection, the OpenGL matrices)
   compute without checks: a point at zc = 0, f = 0 or zNear = zFar give IEEE
   infinities or NaNs. Nothing is allocated, nothing is printed. The two
   calibration operations share private module storage and must not run on
   two threads at once; every other operation, the refinements included, may.

   Usage:
       double f, T[3], R[9], mv[16], proj[16];
       if (tsaiCalibration2D(48, wx, wy, ix, iy, &f, T, R)) {
           tsaiRefineCalibration(48, wx, wy, ix, iy, &f, T, R);
           tsaiOGLModelViewMatrix(T, R, mv);
       }
*/
#ifndef TSAI_H
#define TSAI_H

/* The point counts a calibration or a refinement takes. */
#define TSAI_MIN_POINTS 5
#define TSAI_MAX_POINTS 64

#ifdef __cplusplus
extern "C" {
#endif

/* Full calibration: f, T and R from n points. Returns 1 on success, 0 on
   failure. On a failure of the (f, Tz) system T[0], T[1] and R are written
   and f, T[2] are left as they were; on any other failure nothing is written. */
int tsaiCalibration2D(int n, const double* worldX, const double* worldY,
                      const double* imageX, const double* imageY,
                      double* f, double* T, double* R);

/* Pose-only calibration with a known focal length f. Returns 1 or 0 as above;
   when the final Tz system fails, T[0], T[1], R and a provisional T[2] are
   written. */
int tsaiCalibration2D_Tr(int n, const double* worldX, const double* worldY,
                         const double* imageX, const double* imageY,
                         double f, double* T, double* R);

/* Refines a camera to the least sum of squared reprojection errors over n
   points of the plane Z = 0 (Levenberg-Marquardt), starting from the given T
   and R, normally tsaiCalibration2D_Tr's result on the same points. R moves
   by rotation increments and comes back a rotation (R.R^T = I to 1e-12).
   Returns 1 with T and R written when the error did not grow (beyond
   rounding) and every output is finite; otherwise 0 with T and R untouched.
   Rejected with 0: n outside 5..64, f <= 0, R not a rotation (entries of
   R.R^T - I above 1e-5, or det R < 0), a point with zc <= 0 at the start,
   points that do not determine the pose (all on one line). */
int tsaiRefinePose(int n, const double* worldX, const double* worldY,
                   const double* imageX, const double* imageY,
                   double f, double T[3], double R[9]);

/* The same with f refined too, normally after tsaiCalibration2D. A board seen
   face-on, or within about a degree of it, does not determine f, which trades
   off against Tz: then the result is 0 with f, T and R untouched (the
   refined camera is checked too, whatever the start), and tsaiRefinePose
   with a known f is the remedy. */
int tsaiRefineCalibration(int n, const double* worldX, const double* worldY,
                          const double* imageX, const double* imageY,
                          double* f, double T[3], double R[9]);

/* World point (X, Y, Z) to image point (xi, yi). */
void tsaiProject(double X, double Y, double Z, double* xi, double* yi,
                 double f, const double* T, const double* R);

/* Image point (xi, yi) back onto the world plane of height Z. */
void tsaiUnproject(double xi, double yi, double* X, double* Y, double Z,
                   double f, const double* T, const double* R);

/* Optical centre in the OpenGL world frame (third axis reversed). Leaves the
   outputs untouched when R is singular. */
void tsaiCameraPosition(double* x, double* y, double* z, const double* T, const double* R);

/* Rigid transform [R T] with third row and column negated, column-major. */
void tsaiOGLModelViewMatrix(const double* T, const double* R, double* m);

/* Symmetric frustum through the image centre for a width x height image. */
void tsaiOGLProjectionMatrix(double f, double zNear, double zFar, int width, int height,
                             double* m);

/* The same for focal lengths fx, fy and a principal point (cx, cy) in pixels
   from the top-left pixel's centre (OpenCV's camera matrix): the image point
   (fx.xc/zc + cx, fy.yc/zc + cy) lands where tsaiOGLProjectionMatrix puts
   (f.xc/zc + width/2, f.yc/zc + height/2), halves in integer division. With
   fx = fy = f, cx = width/2 and cy = height/2 the two matrices are equal. */
void tsaiOGLProjectionMatrixK(double fx, double fy, double cx, double cy, double zNear,
                              double zFar, int width, int height, double* m);

/* Fits the plane-to-image homography of n correspondences and writes an
   nx x ny grid over the rectangle the world points span (world X in the outer
   loop: entry k = i.ny + j). Returns 1 when written, 0 with the outputs
   untouched when no homography was found or a grid point has no finite image
   (it lies on the homography's line at infinity). */
int tsaiBuildNewData(int n, const double* worldX, const double* worldY,
                     const double* imageX, const double* imageY, int nx, int ny,
                     double* gridWorldX, double* gridWorldY,
                     double* gridImageX, double* gridImageY);

#ifdef __cplusplus
}
#endif

#endif
