// model_shading.h - the surface of a model's mesh lit by a ModelLight
// (model_light.h), the GLSL way and the fixed-function way.
//
// The GLSL program (GLSL 1.20, the fixed-function attributes and matrices)
// works in linear light: colour textures (sRGB textures, decoded by GL) and
// Blinn-Phong colours are decoded from sRGB, lit, and encoded to sRGB again
// as the fragment is written.
// glTF's metal-roughness materials shade with a GGX highlight, Schlick's
// Fresnel term and Smith's visibility; the others Blinn-Phong. A highlight
// only fills the headroom the diffuse light leaves, so white never saturates
// but where it glows. Normal maps are applied in a frame taken from the
// screen-space derivatives of position and texture coordinates (no tangents
// needed). One program per combination of the maps a mesh has, so the
// fragment shader never samples what is absent.
//
// The fixed-function way, for a GL without a working GLSL program: the
// light as GL_LIGHT0 (the caller's lights off meanwhile), the texture
// modulating the lit colour, colours as stored (no linear light).
//
// Threads: the GL context's thread; a context must be current.
//
// Usage:
//     ModelProgram program;
//     if (buildModelProgram(modelShaderSources(), features, &program, &problem)) useModelProgram(program, light);
#ifndef RENDER_MODEL_SHADING_H
#define RENDER_MODEL_SHADING_H

#include <string>

#include "model.h"
#include "model_light.h"

// What a mesh's program samples, bits of ModelProgram::features.
constexpr int kBaseMap = 1, kNormalMap = 2, kMetalRoughness = 4, kMetalRoughnessMap = 8, kEmissiveMap = 16,
              kHighlight = 32;  // a Blinn-Phong highlight

// The program's two sources without their #version line: the features are
// given to them as #define lines (BASE_MAP, NORMAL_MAP, METAL_ROUGHNESS,
// METAL_ROUGHNESS_MAP, EMISSIVE_MAP, HIGHLIGHT). Colour textures are sRGB
// textures (GL decodes them), data textures plain. Tests pass broken ones.
struct ModelShaderSources {
    const char* vertex;
    const char* fragment;
};
ModelShaderSources modelShaderSources();

// A mesh's surface, linear, and its GL textures (0: none).
struct ModelSurface {
    float baseColour[4] = {0.6f, 0.6f, 0.6f, 1.0f};
    float specular[3] = {0, 0, 0};
    float shininess = 1;
    float metallic = 1, roughness = 1;
    float emissive[3] = {0, 0, 0};
    unsigned baseMap = 0, normalMap = 0, metalRoughnessMap = 0, emissiveMap = 0;
};

// The surface of mesh, its textures' GL names looked up in names (by
// Model::textures index; 0 or out of range: none).
ModelSurface describeSurface(const ModelMesh& mesh, const unsigned* names, int nameCount);
int surfaceFeatures(const ModelMesh& mesh, const ModelSurface& surface);

struct ModelProgram {
    unsigned name = 0;
    int features = 0;
    int light[3] = {-1, -1, -1};    // direction, colour, ambient
    int surface[7] = {-1, -1, -1, -1, -1, -1, -1};
};

// False with the compiler's first line in *problem (nothing left allocated).
bool buildModelProgram(const ModelShaderSources& sources, int features, ModelProgram* program, std::string* problem);

// The program in use with the light (eye space), then each mesh's surface.
void useModelProgram(const ModelProgram& program, const ModelLight& eyeLight);
void setProgramSurface(const ModelProgram& program, const ModelSurface& surface);

// The light as GL_LIGHT0, the others off; inside the caller's
// glPushAttrib(GL_LIGHTING_BIT | GL_ENABLE_BIT).
void setFixedFunctionLight(const ModelLight& eyeLight);
// The stored diffuse colour (sRGB) as the lit material's.
void setFixedFunctionSurface(const float diffuse[4]);

#endif
