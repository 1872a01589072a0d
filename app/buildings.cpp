// buildings.cpp - the buildings' corner tables and their phantom boxes.
#include "buildings.h"

#include <GL/gl.h>

#include "state.h"

namespace {

constexpr int kFacesPerBox = 5;
// Corner order of every face: the side at smaller x, the side at near z, the
// side at larger x, the side at far z, the top.
constexpr int kFaceCorners[kFacesPerBox][4] = {{0, 1, 2, 3}, {0, 1, 5, 4}, {4, 5, 6, 7}, {3, 2, 6, 7}, {1, 2, 6, 5}};

void drawBox(const Point3d* corners) {
    for (const auto& face : kFaceCorners) {
        glBegin(GL_POLYGON);
        for (int index : face) {
            const Point3d& p = corners[index];
            glVertex3f(static_cast<float>(p.x), static_cast<float>(p.y), static_cast<float>(p.z));
        }
        glEnd();
    }
}

}  // namespace

void setBuildingCorners() {
    // The far sides are measured, not squared: they keep their own values.
    setXYZ(&predio1[0], 2.0, 0.0, 8.2);
    setXYZ(&predio1[1], 2.0, 6.0, 8.2);
    setXYZ(&predio1[2], 2.0, 6.0, 12.4);
    setXYZ(&predio1[3], 2.0, 0.0, 12.4);
    setXYZ(&predio1[4], 7.2, 0.0, 8.2);
    setXYZ(&predio1[5], 7.2, 6.0, 8.2);
    setXYZ(&predio1[6], 7.0, 6.0, 12.4);
    setXYZ(&predio1[7], 7.0, 0.0, 12.4);
    setXYZ(&predio2[0], 11.0, 0.0, 1.0);
    setXYZ(&predio2[1], 11.0, 4.0, 1.0);
    setXYZ(&predio2[2], 11.0, 4.0, 5.0);
    setXYZ(&predio2[3], 11.0, 0.0, 5.0);
    setXYZ(&predio2[4], 15.4, 0.0, 1.4);
    setXYZ(&predio2[5], 15.2, 4.0, 1.3);
    setXYZ(&predio2[6], 15.3, 4.0, 5.4);
    setXYZ(&predio2[7], 15.4, 0.0, 5.4);
}

void drawPhantomBuildings() {
    glEnable(GL_DEPTH_TEST);
    drawBox(predio1);
    drawBox(predio2);
}
