// buildings.cpp - the buildings' corner tables and their phantom boxes.
#include "buildings.h"

#include <GL/gl.h>

#include "state.h"

namespace {

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

}  // namespace

void setBuildingCorners() {
    const Scene builtIn = builtInScene();
    Point3d* tables[2] = {predio1, predio2};
    for (int b = 0; b < 2; ++b)
        for (int i = 0; i < 8; ++i) {
            const ScenePoint& p = builtIn.occluders[b].corners[i];
            setXYZ(&tables[b][i], p[0], p[1], p[2]);
        }
}

void drawPhantomBuildings() {
    glEnable(GL_DEPTH_TEST);
    for (const Occluder& o : scene.occluders) drawBox(o.corners.data());
}
