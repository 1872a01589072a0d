// buildings.cpp - the buildings' corner tables and their phantom boxes.
#include "buildings.h"

#include "picture.h"
#include "state.h"

void setBuildingCorners() {
    const Scene builtIn = builtInScene();
    Point3d* tables[2] = {predio1, predio2};
    for (int b = 0; b < 2; ++b)
        for (int i = 0; i < 8; ++i) {
            const ScenePoint& p = builtIn.occluders[b].corners[i];
            setXYZ(&tables[b][i], p[0], p[1], p[2]);
        }
}

void drawPhantomBuildings() { drawOccluders(scene.occluders); }
