// model_gl.h - draws a loaded Model (model.h) from buffer objects, one
// glDrawElements per mesh, shaded by the ModelLight it is given
// (model_shading.h): a GLSL program in linear light, textures modulating the
// lit colour, glTF's metal-roughness materials and normal maps honoured,
// Blinn-Phong for the others. When no program can be built, uploadModel
// prints one line (`shading: MODEL: problem; models drawn fixed-function`)
// and the model is drawn fixed-function, lit by the same light. Both sides
// of open surfaces are lit. Textures repeat, magnify linearly and minify
// through mipmaps. With colour writes off (a depth-only pass, as for a
// shadow map) only positions are drawn.
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
// drawModel leaves the GL state as it found it (program, enables, lighting,
// texture bindings and environment of every unit, polygon state, current
// colour; no buffer bound). A GL context must be current for all calls; GL
// names are generated (glGenBuffers, glGenTextures), never fixed.
//
// Usage:
//     ModelBuffers buffers;
//     if (uploadModel(model, &buffers)) drawModel(buffers, modelLightInEyeSpace(boardLight));   ... releaseModel(&buffers);
#ifndef ASSETS_MODEL_GL_H
#define ASSETS_MODEL_GL_H

#include <cstddef>
#include <vector>

#include "model.h"
#include "model_light.h"
#include "model_shading.h"

enum class ModelCulling { kNone, kClosedMeshes, kAllMeshes };

struct ModelDrawMesh {
    unsigned vertexBuffer = 0;  // positions, normals, then texture coordinates if any
    unsigned indexBuffer = 0;   // 32-bit triangle corners
    int indexCount = 0;
    std::size_t normalOffset = 0;    // bytes into vertexBuffer
    std::size_t texcoordOffset = 0;  // bytes into vertexBuffer; 0: none
    unsigned texture = 0;            // GL texture name of the base colour; 0: none
    float diffuse[4] = {0.8f, 0.8f, 0.8f, 1.0f};  // as stored, for the fixed-function way
    ModelSurface surface;
    int program = -1;  // index into ModelBuffers::programs; -1: fixed-function
    bool closed = false;
};

struct ModelBuffers {
    std::vector<ModelDrawMesh> meshes;
    std::vector<unsigned> textures;  // the GL textures made by uploadModel
    std::vector<ModelProgram> programs;
    ModelCulling culling = ModelCulling::kClosedMeshes;
};

// Copies model into buffer objects and textures and builds its programs
// from shaders (*buffers replaced, culling back to kClosedMeshes; release
// the old ones first). A texture larger than this GL takes gives a warning
// line and leaves its meshes untextured; a program that does not build, the
// fallback line above. False, with one line on standard error and nothing
// left allocated, when GL runs out of memory.
bool uploadModel(const Model& model, ModelBuffers* buffers,
                 const ModelShaderSources& shaders = modelShaderSources());

// boardLight's direction turned by the current modelview (the frame the
// direction is given in, before the model's own transform) into eye space.
ModelLight modelLightInEyeSpace(const ModelLight& boardLight);

void drawModel(const ModelBuffers& buffers, const ModelLight& eyeLight);

// Deletes the buffers, textures and programs and empties *buffers.
void releaseModel(ModelBuffers* buffers);

#endif
