// model_drawing.h - the steered model in the board frame: the ship's 3DS
// mesh drawn unlit with its texture's colours (immediate mode, as it always
// was), or a model's buffer objects (model_gl.h) shaded by the models'
// light, both placed by
//     glRotate(orientation x) glRotate(orientation y) glRotate(orientation z)
//     glScale(scale) glTranslate(x, y, z) glRotate(heading, down)
// and the transform undone afterwards, so that what follows is drawn in the
// board frame again.
//
// Threads: the GL context's thread only; nothing here keeps state.
//
// Usage:
//     ModelPlacement place = {{90, 0, 90}, 0.02f, {0, 0, 1}};
//     drawTexturedMesh(object, object.texture_id, place, ModelPose{180, 341, -830, -60});
#ifndef RENDER_MODEL_DRAWING_H
#define RENDER_MODEL_DRAWING_H

#include "3dsloader.h"
#include "model_gl.h"

// Fixed at start-up: the model's orientation (degrees about x, y, z), its
// scale (board units per model unit) and the axis its heading turns about,
// in the model's frame (the board's -y).
struct ModelPlacement {
    float orientation[3];
    float scale;
    float down[3];
};

// The model's pose in its own frame: heading in degrees, translation in
// model units.
struct ModelPose {
    float heading, x, y, z;
};

// Lighting off, the texture on, the mesh's triangles (those naming vertices
// it has), the texture off.
void drawTexturedMesh(const obj_type& mesh, int textureId, const ModelPlacement& placement, const ModelPose& pose);

// The model's buffers shaded by light (its direction in the board frame, the
// frame in force when called); lighting off afterwards, as after the mesh.
void drawPlacedModel(const ModelBuffers& buffers, const ModelPlacement& placement, const ModelPose& pose,
                     const ModelLight& light);

// The 8 corners of the model's box lo..hi (its own frame) placed in the
// board frame, as the drawing places them. GL's current matrices are left
// as they were.
void placedCorners(const float lo[3], const float hi[3], const ModelPlacement& placement, const ModelPose& pose,
                   float corners[8][3]);

#endif
