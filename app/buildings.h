// buildings.h - the real objects beside the board as phantom boxes: by
// default the two buildings, or the scene's occluders; drawn into the depth
// buffer before the video, so that the video's picture of a building hides
// whatever virtual object stands behind it.
//
// Each box is eight corners in the board frame (x along the rows, y the
// height above the board, z across the rows; one unit per square), corners
// 0-3 on the side at smaller x, 4-7 on the other, each side ordered (base,
// near z), (top, near z), (top, far z), (base, far z). Five faces are drawn;
// the bottom face lies in the board and is never drawn.
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
