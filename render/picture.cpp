// picture.cpp - clearing, camera matrices, boxes, axes and light.
#include "picture.h"

#include <GL/gl.h>

namespace {

constexpr float kAxisLineWidth = 1.8f;
constexpr float kUpAxisLength = 7.5f;  // board units

constexpr int kFacesPerBox = 5;
// Corner order of every face: the side at smaller x, the side at near z, the
// side at larger x, the side at far z, the top.
constexpr int kFaceCorners[kFacesPerBox][4] = {{0, 1, 2, 3}, {0, 1, 5, 4}, {4, 5, 6, 7}, {3, 2, 6, 7}, {1, 2, 6, 5}};

void drawBox(const ScenePoint* corners) {
    for (const auto& face : kFaceCorners) {
        glBegin(GL_POLYGON);
        for (int index : face) {
            const ScenePoint& p = corners[index];
            glVertex3f(static_cast<float>(p[0]), static_cast<float>(p[1]), static_cast<float>(p[2]));
        }
        glEnd();
    }
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

void clearPicture() {
    glClearColor(0.0f, 0.0f, 0.0f, 0.0f);
    glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
}

void loadCameraMatrices(const double projection[16], const double modelView[16], int width, int height) {
    glMatrixMode(GL_PROJECTION);
    glLoadIdentity();
    loadImageToWindowCorrection(width, height);
    glMultMatrixd(projection);
    glMatrixMode(GL_MODELVIEW);
    glLoadMatrixd(modelView);
    // Board frame: (x, y, z) is the world point (x, z, -y).
    glRotatef(90.0f, 1.0f, 0.0f, 0.0f);
    glScalef(1.0f, 1.0f, -1.0f);
}

void drawTexturedRectangle(double x0, double y0, double x1, double y1, double s, double t) {
    glMatrixMode(GL_PROJECTION);
    glPushMatrix();
    glLoadIdentity();
    glMatrixMode(GL_MODELVIEW);
    glPushMatrix();
    glLoadIdentity();
    glBegin(GL_QUADS);
    glTexCoord2d(0, 0), glVertex2d(x0, y0);
    glTexCoord2d(s, 0), glVertex2d(x1, y0);
    glTexCoord2d(s, t), glVertex2d(x1, y1);
    glTexCoord2d(0, t), glVertex2d(x0, y1);
    glEnd();
    glPopMatrix();
    glMatrixMode(GL_PROJECTION);
    glPopMatrix();
    glMatrixMode(GL_MODELVIEW);
}

void drawOccluders(const std::vector<Occluder>& occluders) {
    glEnable(GL_DEPTH_TEST);
    for (const Occluder& o : occluders) drawBox(o.corners.data());
}

// x spans a row of corners, z a column of them.
void drawAxes(int columns, int rows) {
    glDisable(GL_LIGHTING);  // plain colours; the frame's last stage turns it back on
    glLineWidth(kAxisLineWidth);
    drawAxis(0.0f, 0.0f, 1.0f, static_cast<float>(columns - 1), 0.0f, 0.0f);
    drawAxis(0.0f, 1.0f, 0.0f, 0.0f, kUpAxisLength, 0.0f);
    drawAxis(1.0f, 0.0f, 0.0f, 0.0f, 0.0f, static_cast<float>(rows - 1));
}

void finishPicture() { glEnable(GL_LIGHTING); }

void readPicture(int width, int height, unsigned char* bgrBottomUp) {
    glPixelStorei(GL_PACK_ALIGNMENT, 1);
    glReadPixels(0, 0, width, height, GL_BGR, GL_UNSIGNED_BYTE, bgrBottomUp);
}
