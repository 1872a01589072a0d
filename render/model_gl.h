// model_gl.h - draws a loaded Model (model.h) with OpenGL's fixed-function
// pipeline from buffer objects: one glDrawElements per mesh.
//
// Textured meshes are drawn like the viewer's ship: unlit, the texture's
// colours replacing the surface's (GL_REPLACE). Meshes without a texture are
// drawn in their material's diffuse colour, lit by the lights the caller has
// enabled (the viewer's GL_LIGHT0), both sides lit, so that their shape
// shows; a flat colour would show only the outline. Textures repeat,
// magnify linearly and minify through mipmaps.
//
// Back faces: with ModelCulling::kClosedMeshes (the default) only the meshes
// found closed and wound outward (ModelMesh::closed) are culled, which halves
// the work on solid models and opens no hole in open or badly wound ones;
// kAllMeshes culls every mesh (faster, holes where the winding is wrong);
// kNone culls nothing. drawModel reads the current modelview and projection
// matrices and turns the front-face winding over when together they mirror
// the picture, so culling and two-sided lighting pick the right side either
// way (the viewer's projection and its board frame each mirror one axis;
// together they do not).
//
// drawModel leaves the GL state as it found it (enables, lighting, texture
// bindings and environment, polygon state, current colour; no buffer bound).
// A GL context must be current for all three calls; GL names are generated
// (glGenBuffers, glGenTextures), never fixed.
//
// Usage:
//     ModelBuffers buffers;
//     if (uploadModel(model, &buffers)) drawModel(buffers);   ... releaseModel(&buffers);
#ifndef ASSETS_MODEL_GL_H
#define ASSETS_MODEL_GL_H

#include <cstddef>
#include <vector>

#include "model.h"

enum class ModelCulling { kNone, kClosedMeshes, kAllMeshes };

struct ModelDrawMesh {
    unsigned vertexBuffer = 0;  // positions, then normals or texture coordinates
    unsigned indexBuffer = 0;   // 32-bit triangle corners
    int indexCount = 0;
    std::size_t attributeOffset = 0;  // bytes into vertexBuffer: texture coordinates or normals
    unsigned texture = 0;             // GL texture name; 0: lit, in diffuse
    float diffuse[4] = {0.8f, 0.8f, 0.8f, 1.0f};
    bool closed = false;
};

struct ModelBuffers {
    std::vector<ModelDrawMesh> meshes;
    std::vector<unsigned> textures;  // the GL textures made by uploadModel
    ModelCulling culling = ModelCulling::kClosedMeshes;
};

// Copies model into buffer objects and textures (*buffers replaced, culling
// back to kClosedMeshes; release the old ones first). A texture larger than this GL takes gives a warning
// line and leaves its meshes untextured. False, with one line on standard
// error and nothing left allocated, when GL runs out of memory.
bool uploadModel(const Model& model, ModelBuffers* buffers);

void drawModel(const ModelBuffers& buffers);

// Deletes the buffers and textures and empties *buffers.
void releaseModel(ModelBuffers* buffers);

#endif
