// ship.cpp - loading, drawing and steering the ship.
#include "ship.h"

#include <cmath>
#include <cstdlib>

#include <GL/gl.h>

#include "message_box.h"
#include "state.h"
#include "texture.h"

namespace {

constexpr float kShipScale = 0.02f;  // board units per mesh unit
constexpr double kPiApproximation = 3.14159265;
constexpr const char* kMissingTextureCaption = "Quorvane";
constexpr const char* kMissingTextureText = "Image file: spaceshiptexture.bmp not found";

// Mesh frame to board frame: the mesh's z axis becomes the board's normal.
void applyShipTransform(float heading, float tx, float ty, float tz) {
    glRotatef(90.0f, 1.0f, 0.0f, 0.0f);
    glRotatef(90.0f, 0.0f, 0.0f, 1.0f);
    glScalef(kShipScale, kShipScale, kShipScale);
    glTranslatef(tx, ty, tz);
    glRotatef(heading, 0.0f, 0.0f, 1.0f);
}

// The inverse steps in reverse order, so the axes find the board frame again.
void undoShipTransform(float heading, float tx, float ty, float tz) {
    glRotatef(-heading, 0.0f, 0.0f, 1.0f);
    glTranslatef(-tx, -ty, -tz);
    glScalef(1.0f / kShipScale, 1.0f / kShipScale, 1.0f / kShipScale);
    glRotatef(-90.0f, 0.0f, 0.0f, 1.0f);
    glRotatef(-90.0f, 1.0f, 0.0f, 0.0f);
}

bool indexInMesh(int index) { return index >= 0 && index < object.vertex_count; }

void emitCorner(int index) {
    glTexCoord2f(object.mapping[index].u, object.mapping[index].v);
    glVertex3f(object.vertices[index].x, object.vertices[index].y, object.vertices[index].z);
}

// Triangles naming a vertex the mesh does not have are skipped.
void drawTriangles() {
    glBegin(GL_TRIANGLES);
    for (int i = 0; i < object.polygon_count; ++i) {
        const mesh_polygon& p = object.polygons[i];
        if (!indexInMesh(p.a) || !indexInMesh(p.b) || !indexInMesh(p.c)) continue;
        emitCorner(p.a);
        emitCorner(p.b);
        emitCorner(p.c);
    }
    glEnd();
}

// The ship never sinks below the board plane.
void clampHeight() {
    if (translacao_z > 0) translacao_z = 0;
}

void turn(double degrees) {
    rotation_z += degrees;
    if (rotation_z > 359) rotation_z = 360 - rotation_z;
}

// One step along the nose (direction +1) or against it (-1).
void advance(int direction) {
    double a = rotation_z * (-kPiApproximation) / 180;
    translacao_x = translacao_x - direction * std::sin(a) * translacao_xy_increment;
    translacao_y = translacao_y - direction * std::cos(a) * translacao_xy_increment;
}

}  // namespace

bool loadShipAssets() {
    char meshFile[] = "spaceship.3DS";
    char textureFile[] = "spaceshiptexture.bmp";
    Load3DS(&object, meshFile);
    object.texture_id = LoadBitmapA(textureFile);
    return object.texture_id != -1;
}

void initNave() {
    if (loadShipAssets()) return;
    showErrorMessage(kMissingTextureCaption, kMissingTextureText);
    std::exit(0);
}

void drawShip() {
    glDisable(GL_LIGHTING);
    glEnable(GL_TEXTURE_2D);
    float heading = static_cast<float>(rotation_z);
    float tx = static_cast<float>(translacao_x), ty = static_cast<float>(translacao_y),
          tz = static_cast<float>(translacao_z);
    applyShipTransform(heading, tx, ty, tz);
    glBindTexture(GL_TEXTURE_2D, static_cast<GLuint>(object.texture_id));
    drawTriangles();
    undoShipTransform(heading, tx, ty, tz);
    glDisable(GL_TEXTURE_2D);
}

void keyboard(unsigned char key, int, int) {
    switch (key) {
        case 'A':
        case 'a':
            translacao_z += translacao_z_increment;
            clampHeight();
            break;
        case 'S':
        case 's':
            translacao_z -= translacao_z_increment;
            clampHeight();
            break;
        case 'O':
        case 'o':
        case 'P':
        case 'p':
            translacao_x = translacao_y = translacao_z = 0.0;
            break;
        default:
            break;
    }
}

void keyboard_s(int key, int, int) {
    switch (key) {
        case kKeyLeft: turn(rotation_z_increment); break;
        case kKeyRight: turn(-rotation_z_increment); break;
        case kKeyUp: advance(+1); break;
        case kKeyDown: advance(-1); break;
        default: break;
    }
}
