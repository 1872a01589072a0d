// tracking.cpp - board coordinates, detection, calibration, matrices, axes.
#include "tracking.h"

#include <GL/gl.h>

#include "board_detector.h"
#include "tsai.h"

namespace {

constexpr float kAxisLineWidth = 1.8f;

// The board search's memory of the previous frames: where the board was.
// initChessWordCoords readies it for the board's pattern, so every video
// (and every test in one process) starts from the same state.
BoardDetector boardDetector;

// A bounded search, so that no frame waits long for a board that is missing
// or partly covered; see board_detector.h.
bool detectBoard(const cv::Mat& frame, Chess* board) {
    // Reused between frames: the detector only resizes it.
    static std::vector<cv::Point2f> found = [] {
        std::vector<cv::Point2f> v;
        v.reserve(kMaxCorners);
        return v;
    }();
    board->found = detectBoardCorners(frame, &boardDetector, &found) ? 1 : 0;
    int count = static_cast<int>(found.size());
    board->cornerCount = count < kMaxCorners ? count : kMaxCorners;
    for (int k = 0; k < board->cornerCount; ++k) board->corners[k] = found[k];
    return board->found != 0;
}

// Image coordinates from the picture centre, the centre halved as integers.
void centreCorners(Chess* board, int width, int height) {
    for (int k = 0; k < board->cornerCount; ++k) {
        board->imageX[k] = static_cast<double>(board->corners[k].x) - (width / 2);
        board->imageY[k] = static_cast<double>(board->corners[k].y) - (height / 2);
    }
}

// Full calibration until one succeeds, then the pose with that focal length.
// The camera record changes only when the calibration succeeds.
bool calibrateCamera(const Chess& board, Camera* cam) {
    double f = cam->f, T[3], R[9];
    int ok = cam->calibrated
                 ? tsaiCalibration2D_Tr(board.cornerCount, board.worldX, board.worldY, board.imageX,
                                        board.imageY, f, T, R)
                 : tsaiCalibration2D(board.cornerCount, board.worldX, board.worldY, board.imageX,
                                     board.imageY, &f, T, R);
    if (!ok) return false;
    cam->f = f;
    for (int i = 0; i < 3; ++i) cam->T[i] = T[i];
    for (int i = 0; i < 9; ++i) cam->R[i] = R[i];
    cam->calibrated = true;
    return true;
}

void buildCameraMatrices(Camera* cam, int width, int height) {
    tsaiOGLModelViewMatrix(cam->T, cam->R, cam->modelView);
    tsaiOGLProjectionMatrix(cam->f, cam->zNear, cam->zFar, width, height, cam->projection);
}

// The calibration's image y grows with the stored row, which is drawn
// downwards from the window's top: mirror clip y. Then move by the half pixel
// between the calibration's convention (integer coordinates at pixel centres,
// the centre halved as integers) and OpenGL's (pixel centres at +0.5).
void loadImageToWindowCorrection(int width, int height) {
    double shiftX = (width / 2) + 0.5 - width / 2.0;     // window pixels
    double shiftY = height / 2.0 - (height / 2) - 0.5;  // after the mirror
    glTranslated(2.0 * shiftX / width, 2.0 * shiftY / height, 0.0);
    glScaled(1.0, -1.0, 1.0);
}

void drawAxis(float r, float g, float b, float x, float y, float z) {
    glColor3f(r, g, b);
    glBegin(GL_LINES);
    glVertex3f(x, y, z);
    glVertex3f(0.0f, 0.0f, 0.0f);
    glEnd();
}

}  // namespace

int initChessWordCoords(Chess* board) {
    for (int i = 0; i < board->patternSize.height; ++i)
        for (int j = 0; j < board->patternSize.width; ++j) {
            int k = i * board->patternSize.width + j;
            board->worldX[k] = j * board->squareSize + board->originX;
            board->worldY[k] = i * board->squareSize + board->originY;
        }
    initBoardDetector(board->patternSize, &boardDetector);
    return 0;
}

void trackBoard() {
    if (!detectBoard(movie.frame, &chess)) return;
    centreCorners(&chess, movie.width, movie.height);
    if (calibrateCamera(chess, &camera)) buildCameraMatrices(&camera, movie.width, movie.height);
}

void loadCameraMatrices() {
    glMatrixMode(GL_PROJECTION);
    glLoadIdentity();
    loadImageToWindowCorrection(movie.width, movie.height);
    glMultMatrixd(camera.projection);
    glMatrixMode(GL_MODELVIEW);
    glLoadMatrixd(camera.modelView);
    // Board frame: (x, y, z) is the world point (x, z, -y).
    glRotatef(90.0f, 1.0f, 0.0f, 0.0f);
    glScalef(1.0f, 1.0f, -1.0f);
}

void drawAxes() {
    glDisable(GL_LIGHTING);  // plain colours; the frame's last stage turns it back on
    glLineWidth(kAxisLineWidth);
    drawAxis(0.0f, 0.0f, 1.0f, 7.0f, 0.0f, 0.0f);
    drawAxis(0.0f, 1.0f, 0.0f, 0.0f, 7.5f, 0.0f);
    drawAxis(1.0f, 0.0f, 0.0f, 0.0f, 0.0f, 5.0f);
}
