// ship.cpp - loading and steering the model; its drawing is render/model_drawing.h.
#include "ship.h"

#include <cctype>
#include <cmath>
#include <cstdlib>

#include "message_box.h"
#include "lighting.h"
#include "model.h"
#include "model_contained.h"
#include "model_drawing.h"
#include "model_gl.h"
#include "overlay_multisample.h"
#include "shadow_map.h"
#include "state.h"
#include "texture.h"

namespace {

constexpr double kPiApproximation = 3.14159265;
constexpr const char* kMissingTextureCaption = "Quorvane";
constexpr const char* kMissingTextureText = "Image file: spaceshiptexture.bmp not found";
// Scene positions are written to a few decimals; in model units they are
// rounded to millionths, so that the ship's 16.6 / 0.02 is 830 and not
// 830.0000000000001.
constexpr double kGrainsPerModelUnit = 1e6;
constexpr double kNearlyZero = 1e-9;

// The model's orientation, scale and steering axes in its own frame, fixed
// at start-up. down: the board's -y (the heading turns about it; A moves
// along it); nose: the board's +x at heading 0; side = down x nose.
struct ShipFrame {
    float orientation[3];  // degrees about x, y, z
    float scale;
    double down[3], nose[3], side[3];
    double floor;  // lowest height of the origin, model units
    bool meshIs3DS;
};

ShipFrame frame = {{90.0f, 0.0f, 90.0f}, 0.02f, {0, 0, 1}, {0, -1, 0}, {1, 0, 0}, 0.0, true};
std::string meshFile = "spaceship.3DS", textureFile = "spaceshiptexture.bmp";
Model model;           // a model in another format than 3DS
ModelBuffers buffers;  // and its GL copy

// --shadows and --antialias: their GL objects, made once the context exists.
struct ShipLook {
    bool shadows = false, antialias = false;
    ShadowMap shadowMap;
    OverlayMultisample multisample;
    float lo[3] = {0, 0, 0}, hi[3] = {0, 0, 0};  // the model's box, its own frame
};
ShipLook look;

double radians(double degrees) { return degrees * 3.14159265358979323846 / 180.0; }

// Rotation matrix of glRotate(x) glRotate(y) glRotate(z), row-major.
void orientationMatrix(const ScenePoint& degrees, double R[9]) {
    double cx = std::cos(radians(degrees[0])), sx = std::sin(radians(degrees[0]));
    double cy = std::cos(radians(degrees[1])), sy = std::sin(radians(degrees[1]));
    double cz = std::cos(radians(degrees[2])), sz = std::sin(radians(degrees[2]));
    const double Rx[9] = {1, 0, 0, 0, cx, -sx, 0, sx, cx};
    const double Ry[9] = {cy, 0, sy, 0, 1, 0, -sy, 0, cy};
    const double Rz[9] = {cz, -sz, 0, sz, cz, 0, 0, 0, 1};
    double Rxy[9];
    for (int r = 0; r < 3; ++r)
        for (int c = 0; c < 3; ++c) {
            Rxy[3 * r + c] = Rx[3 * r] * Ry[c] + Rx[3 * r + 1] * Ry[3 + c] + Rx[3 * r + 2] * Ry[6 + c];
        }
    for (int r = 0; r < 3; ++r)
        for (int c = 0; c < 3; ++c)
            R[3 * r + c] = Rxy[3 * r] * Rz[c] + Rxy[3 * r + 1] * Rz[3 + c] + Rxy[3 * r + 2] * Rz[6 + c];
}

// A board vector in the model's frame: R transposed.
void toModelFrame(const double R[9], const double v[3], double out[3]) {
    for (int i = 0; i < 3; ++i) out[i] = R[i] * v[0] + R[3 + i] * v[1] + R[6 + i] * v[2];
}

// A board direction in the model's frame, with the rounding of right angles
// removed: cos 90 degrees is 6e-17, not 0.
void directionInModelFrame(const double R[9], const double v[3], double out[3]) {
    toModelFrame(R, v, out);
    for (int i = 0; i < 3; ++i) {
        if (std::fabs(out[i]) < kNearlyZero) out[i] = 0;
        if (std::fabs(std::fabs(out[i]) - 1) < kNearlyZero) out[i] = out[i] > 0 ? 1 : -1;
    }
}

double inModelUnits(double boardUnits, double scale) {
    return std::round(boardUnits / scale * kGrainsPerModelUnit) / kGrainsPerModelUnit;
}

// What the drawing needs of the frame, and the pose the keys move.
ModelPlacement placement() {
    ModelPlacement p;
    for (int i = 0; i < 3; ++i) p.orientation[i] = frame.orientation[i], p.down[i] = static_cast<float>(frame.down[i]);
    p.scale = frame.scale;
    return p;
}

ModelPose pose() {
    return ModelPose{static_cast<float>(rotation_z), static_cast<float>(translacao_x),
                     static_cast<float>(translacao_y), static_cast<float>(translacao_z)};
}

void moveAlong(const double direction[3], double amount) {
    translacao_x += amount * direction[0];
    translacao_y += amount * direction[1];
    translacao_z += amount * direction[2];
}

// The model never sinks below its floor (for the ship, the board plane).
void clampHeight() {
    double height = -(translacao_x * frame.down[0] + translacao_y * frame.down[1] + translacao_z * frame.down[2]);
    if (height < frame.floor) moveAlong(frame.down, height - frame.floor);
}

// Above 359 the heading comes round by a full turn: 360 becomes 0, and with
// any other step the ship keeps turning the same way (350 + 25 is 15). No
// wrap below: turning right lowers the heading without bound.
void turn(double degrees) {
    rotation_z += degrees;
    if (rotation_z > 359) rotation_z -= 360;
}

// One step along the nose (direction +1) or against it (-1).
void advance(int direction) {
    double a = rotation_z * (-kPiApproximation) / 180;
    double c = std::cos(a), s = -std::sin(a);
    for (int i = 0; i < 3; ++i) {
        double along = c * frame.nose[i] + s * frame.side[i];
        double* t = i == 0 ? &translacao_x : i == 1 ? &translacao_y : &translacao_z;
        *t = *t + direction * along * translacao_xy_increment;
    }
}

}  // namespace

bool setUpShip(const SceneModel& m) {
    double R[9];
    orientationMatrix(m.orientation, R);
    const double boardDown[3] = {0, -1, 0}, boardRows[3] = {1, 0, 0};
    directionInModelFrame(R, boardDown, frame.down);
    directionInModelFrame(R, boardRows, frame.nose);
    frame.side[0] = frame.down[1] * frame.nose[2] - frame.down[2] * frame.nose[1];
    frame.side[1] = frame.down[2] * frame.nose[0] - frame.down[0] * frame.nose[2];
    frame.side[2] = frame.down[0] * frame.nose[1] - frame.down[1] * frame.nose[0];
    for (int i = 0; i < 3; ++i) frame.orientation[i] = static_cast<float>(m.orientation[i]);
    frame.scale = static_cast<float>(m.scale);
    frame.floor = inModelUnits(m.floor, m.scale);
    double start[3];
    toModelFrame(R, m.position.data(), start);
    translacao_x = inModelUnits(start[0], m.scale);
    translacao_y = inModelUnits(start[1], m.scale);
    translacao_z = inModelUnits(start[2], m.scale);
    rotation_z = m.heading;
    rotation_z_increment = m.turn;
    translacao_z_increment = inModelUnits(m.rise, m.scale);
    translacao_xy_increment = inModelUnits(m.advance, m.scale);
    meshFile = m.file;
    textureFile = m.texture;
    // A 3DS mesh with its texture named goes through the project's own
    // loader, as a scene file has it; --model's 3DS file, without one,
    // through the model loader, which has read it already for its size.
    frame.meshIs3DS = isModel3DS(m.file) && !m.texture.empty();
    if (frame.meshIs3DS || (model.path == m.file && m.texture.empty())) return true;
    return loadModelContained(m.file, m.texture, &model);
}

bool setUpStandingModel(const std::string& file, double sizeSquares, const ScenePoint& boardCentre,
                        SceneModel* m) {
    if (!loadModelContained(file, "", &model)) return false;
    double largest = 0;
    for (int i = 0; i < 3; ++i) largest = std::fmax(largest, model.boundsMax[i] - model.boundsMin[i]);
    double scale = largest > 0 ? sizeSquares / largest : 1.0;
    double middleX = 0.5 * (model.boundsMin[0] + model.boundsMax[0]);
    double middleZ = 0.5 * (model.boundsMin[2] + model.boundsMax[2]);
    double base = -scale * model.boundsMin[1];
    m->file = file;
    m->texture.clear();
    m->scale = scale;
    m->orientation = {0, 0, 0};
    m->position = {boardCentre[0] - scale * middleX, base, boardCentre[2] - scale * middleZ};
    m->heading = 0;
    m->floor = base;
    return true;
}

bool loadShipAssets() {
    if (!frame.meshIs3DS) return uploadModel(model, &buffers);
    Load3DS(&object, const_cast<char*>(meshFile.c_str()));
    object.texture_id = LoadBitmapA(const_cast<char*>(textureFile.c_str()));
    return object.texture_id != -1;
}

bool initNave() {
    if (loadShipAssets()) return true;
    showErrorMessage(kMissingTextureCaption, kMissingTextureText);
    return false;
}

namespace {

// The 3DS mesh's box, of the vertices its triangles may name.
void meshBounds(const obj_type& mesh, float lo[3], float hi[3]) {
    for (int i = 0; i < 3; ++i) lo[i] = 1e30f, hi[i] = -1e30f;
    for (int v = 0; v < mesh.vertex_count; ++v) {
        const float p[3] = {mesh.vertices[v].x, mesh.vertices[v].y, mesh.vertices[v].z};
        for (int i = 0; i < 3; ++i) lo[i] = std::fmin(lo[i], p[i]), hi[i] = std::fmax(hi[i], p[i]);
    }
    if (mesh.vertex_count > 0) return;
    for (int i = 0; i < 3; ++i) lo[i] = hi[i] = 0;
}

void drawModelItself() {
    if (frame.meshIs3DS) drawTexturedMesh(object, object.texture_id, placement(), pose());
    else drawPlacedModel(buffers, placement(), pose(), modelLight());
}

void castShadow(const float corners[8][3]) {
    ShadowCaster caster;
    for (int k = 0; k < 8; ++k)
        for (int i = 0; i < 3; ++i) caster.corners[k][i] = corners[k][i];
    if (!shadowMapHolds(look.shadowMap, scene.light.direction.data(), caster)) {
        beginShadowCasting(&look.shadowMap, scene.light.direction.data(), caster);
        drawModelItself();
        endShadowCasting(&look.shadowMap);
    }
    drawShadows(look.shadowMap, scene.occluders, static_cast<float>(scene.shadows.strength));
}

}  // namespace

bool setUpShipLook(bool antialias, int width, int height) {
    if (frame.meshIs3DS) meshBounds(object, look.lo, look.hi);
    else
        for (int i = 0; i < 3; ++i) look.lo[i] = model.boundsMin[i], look.hi[i] = model.boundsMax[i];
    look.shadows = scene.shadows.cast && setUpShadowMap(&look.shadowMap);
    look.antialias = antialias && setUpOverlayMultisample(width, height, &look.multisample);
    return look.shadows == scene.shadows.cast && look.antialias == antialias;
}

void drawShip() {
    if (!look.shadows && !look.antialias) {
        drawModelItself();
        return;
    }
    float corners[8][3];
    placedCorners(look.lo, look.hi, placement(), pose(), corners);
    if (look.shadows) castShadow(corners);
    if (!look.antialias) {
        drawModelItself();
        return;
    }
    if (!beginOverlayMultisample(&look.multisample, corners, scene.occluders)) return;
    drawModelItself();
    endOverlayMultisample(&look.multisample);
}


void steerShip(KeyAction action) {
    switch (action) {
        case KeyAction::kSink:
            moveAlong(frame.down, translacao_z_increment);
            clampHeight();
            break;
        case KeyAction::kRise:
            moveAlong(frame.down, -translacao_z_increment);
            clampHeight();
            break;
        case KeyAction::kToOrigin: translacao_x = translacao_y = translacao_z = 0.0; break;
        case KeyAction::kTurnLeft: turn(rotation_z_increment); break;
        case KeyAction::kTurnRight: turn(-rotation_z_increment); break;
        case KeyAction::kForward: advance(+1); break;
        case KeyAction::kBack: advance(-1); break;
        case KeyAction::kPause:
        case KeyAction::kQuit: break;
    }
}

void keyboard(unsigned char key, int, int) {
    KeyAction action;
    if (findKey(false, key, &action)) steerShip(action);
}

void keyboard_s(int key, int, int) {
    KeyAction action;
    if (findKey(true, key, &action)) steerShip(action);
}
