// startup.cpp - records and GL state set once before the first frame.
#include "startup.h"

#include <GL/gl.h>

#include "buildings.h"
#include "camera_file.h"
#include "lens_switch.h"
#include "ship.h"
#include "state.h"
#include "tracking.h"

namespace {

constexpr double kSquareSize = 1.0;  // board units
constexpr double kNearDistance = 1.0, kFarDistance = 100.0;  // board units
constexpr double kStandingModelSize = 3.0;                   // squares, its largest side

}  // namespace

void initRecords(BoardSize board) {
    setBuildingCorners();
    chess.patternSize = cv::Size(board.columns, board.rows);
    chess.originX = 0.0;
    chess.originY = 0.0;
    chess.squareSize = kSquareSize;
    initChessWordCoords(&chess);
    camera.calibrated = false;
    camera.zNear = kNearDistance;
    camera.zFar = kFarDistance;
}

bool setUpCamera(const ViewerOptions& options, int width, int height, SelfCalibrationWork work,
                 std::string* error) {
    camera.cx = width / 2;
    camera.cy = height / 2;
    saveCameraTo(options.saveCameraFile);
    if (options.selfCalibrate) startSelfCalibration(cv::Size(width, height), chess.patternSize, work);
    if (options.cameraFile.empty()) return true;
    CameraModel model;
    if (!readCameraFile(options.cameraFile, width, height, &model, error)) return false;
    if (!takeLensModel(model, width, height, &camera)) {
        *error = options.cameraFile + ": the lens model does not fit a " + std::to_string(width) + " x " +
                 std::to_string(height) + " picture";
        return false;
    }
    return true;
}

bool setUpScene(const ViewerOptions& options, std::string* error) {
    if (!options.sceneFile.empty() && !readSceneFile(options.sceneFile, &scene, error)) return false;
    if (!options.modelFile.empty()) {
        scene.occluders.clear();
        ScenePoint boardCentre = {(chess.patternSize.width - 1) / 2.0, 0.0, (chess.patternSize.height - 1) / 2.0};
        error->clear();
        if (!setUpStandingModel(options.modelFile, kStandingModelSize, boardCentre, &scene.model)) return false;
    }
    error->clear();
    return setUpShip(scene.model);
}

bool finishCamera(std::string* error) {
    stopSelfCalibration();
    return saveCameraInUse(error);
}

void setUpLighting() {
    const GLfloat ambient[] = {0.8f, 0.8f, 0.8f, 1.0f};
    const GLfloat diffuse[] = {0.8f, 0.8f, 0.8f, 1.0f};
    const GLfloat specular[] = {1.5f, 1.5f, 1.5f, 1.0f};
    const GLfloat position[] = {-2.0f, 5.0f, -10.0f, 1.0f};  // eye coordinates
    const GLfloat backMaterial[] = {0.5f, 0.5f, 0.5f, 1.0f};
    glEnable(GL_LIGHTING);
    glEnable(GL_LIGHT0);
    glLightfv(GL_LIGHT0, GL_AMBIENT, ambient);
    glLightfv(GL_LIGHT0, GL_DIFFUSE, diffuse);
    glLightfv(GL_LIGHT0, GL_SPECULAR, specular);
    glLightfv(GL_LIGHT0, GL_POSITION, position);
    glMaterialfv(GL_BACK, GL_AMBIENT_AND_DIFFUSE, backMaterial);
}
