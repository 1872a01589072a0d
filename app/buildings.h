// buildings.h - the real objects beside the board as phantom boxes: by
// default the two buildings (the corner tables predio1 and predio2), or the
// scene's occluders; drawn into the depth buffer before the video
// (render/picture.h), so that the video's picture of a building hides
// whatever virtual object stands behind it.
//
// State: none of its own (the corner tables and the scene are state.h's).
// Threads: the frame loop's thread.
//
// Usage:
//     setBuildingCorners();      // once, at start-up
//     drawPhantomBuildings();    // every frame, before the video
#ifndef APP_BUILDINGS_H
#define APP_BUILDINGS_H

// Fills predio1 and predio2, the built-in scene's two buildings.
void setBuildingCorners();

// Display stage: depth test on, the scene's boxes, five four-corner polygons
// each.
void drawPhantomBuildings();

#endif
