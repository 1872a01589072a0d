// lens_switch.cpp - the self-calibration's lens taken into use, and saved.
#include "lens_switch.h"

#include <cstdio>

#include "lens_calibration.h"
#include "self_calibration.h"
#include "state.h"

namespace {

std::string savePath;

void reportSwitch(const CameraModel& m, const LensSwitchReport& r) {
    std::fprintf(stderr,
                 "self-calibration: the lens is calibrated from %d views (%ld frames shown meanwhile), stage %s; "
                 "now undistorting with f %.1f px (fy %.1f), principal point (%.1f, %.1f), k1 %.4f, RMS %.3f px, "
                 "predicted overlay error %.3f px\n",
                 r.views, r.framesWhileComputing, lensStageName(static_cast<LensStage>(r.stage)), m.fx, m.fy, m.cx,
                 m.cy, m.distortion[0], m.rms, r.predictedPx);
}

}  // namespace

void saveCameraTo(const std::string& path) { savePath = path; }

bool takeLensModel(const CameraModel& model, int width, int height, Camera* cam) {
    if (!setUpLens(model, width, height, &lens)) return false;
    cam->calibrated = true;
    cam->f = model.fx;
    cam->fy = model.fy;
    cam->cx = model.cx;
    cam->cy = model.cy;
    return true;
}

bool switchToTrustedLens() {
    CameraModel model;
    LensSwitchReport report;
    if (!takeTrustedLens(&model, &report) || !takeLensModel(model, movie.width, movie.height, &camera)) return false;
    reportSwitch(model, report);
    std::string error;
    if (!saveCameraInUse(&error)) std::fprintf(stderr, "self-calibration: %s\n", error.c_str());
    return true;
}

bool saveCameraInUse(std::string* error) {
    if (savePath.empty()) return true;
    if (!lens.active && !camera.calibrated) {
        *error = "no camera to write to " + savePath + ": the board was never seen";
        return false;
    }
    CameraModel model = lens.active ? lens.model : centredPinholeCamera(movie.width, movie.height, camera.f);
    return writeCameraFile(savePath, model, error);
}
