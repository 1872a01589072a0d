// model.h - reads a 3D model in a common format into a plain record of
// triangle meshes, their materials and textures, without OpenGL
// (model_gl.h draws it). Through Assimp 5.2; the formats, chosen by the
// file's extension: OBJ with its MTL (.obj), glTF 2.0 (.gltf, .glb), PLY,
// Collada (.dae), FBX, STL and 3DS.
//
// Node transforms are applied (the model comes out in one frame, animations
// and bones dropped), polygons are triangulated, points and lines dropped,
// identical vertices joined, normals generated where the file has none
// (smoothed up to kModelSmoothingAngle). Triangles with a corner outside the
// vertex list or a non-finite position are dropped. No size limit but memory:
// the counts are those of the file.
//
// Materials: diffuse colour and opacity, specular colour and shininess, or
// for glTF the base colour, metallic and roughness factors; emissive colour.
//
// Textures: the diffuse (or glTF base colour) texture of each material, its
// normal map, glTF metal-roughness map and emissive map:
// PNG, JPEG and BMP read with OpenCV; TGA, PSD, GIF, Radiance HDR (made
// 8-bit by stb_image's gamma 2.2, clamped), binary PNM and PIC with
// stb_image; OpenCV's other formats (TIFF, WebP...) with OpenCV; not DDS.
// From a file (Windows paths with backslashes too, looked up relative to the
// model's folder, then by bare name in that folder, letter case ignored) or
// embedded in the model (GLB, FBX, '*0' references). A texture given by the caller replaces the
// model's base texture for every mesh with texture coordinates (its other
// maps are then not read). A texture that cannot be
// read (missing, undecodable, DDS, a header announcing more than
// kMaxModelTexturePixels, a file over kMaxModelTextureFileBytes) gives one
// warning line on standard error and leaves the meshes that use it
// untextured, drawn in their material's diffuse colour; so does an
// unreadable caller's texture, for all meshes. Pictures wider or taller
// than kMaxModelTextureSide are scaled down.
//
// Failure (a missing, unreadable or malformed file, another extension, one
// without a single triangle) returns false with one line on standard error,
// `model: FILE: problem`, and leaves the record as it was. Nothing throws.
// Assimp's failed internal checks and its PLY reader's endless loop on a cut
// file are turned into failures; otherwise Assimp is not hardened against
// hostile files (a bad count can make it allocate gigabytes, deep nesting
// overflows its stack): read files from strangers with loadModelContained
// (model_contained.h), as the viewer does. Call it from one thread at a time:
// it silences OpenCV's log, a process-wide setting, while decoding pictures.
//
// Usage:
//     Model chair;
//     if (!loadModel("chair.obj", "", &chair)) { /* message printed; nothing drawn */ }
#ifndef ASSETS_MODEL_H
#define ASSETS_MODEL_H

#include <cstddef>
#include <string>
#include <vector>

constexpr int kMaxModelTextureSide = 4096;         // texels; larger pictures are scaled down
constexpr long long kMaxModelTexturePixels = 1LL << 26;  // texels (8192 x 8192); larger pictures are refused
// Bytes of one picture, file or embedded: an uncompressed RGBA picture of
// kMaxModelTexturePixels with its header fits.
constexpr long long kMaxModelTextureFileBytes = kMaxModelTexturePixels * 4 + (1 << 20);
constexpr float kModelSmoothingAngle = 66.0f;      // degrees; sharper edges keep hard normals
constexpr long long kMaxModelFileBytes = 1LL << 30;  // larger model files are refused

constexpr float kMaxModelShininess = 1024.0f;      // Blinn-Phong exponents above are clamped

// Blinn-Phong from diffuse, specular and shininess (OBJ, Collada, PLY...), or
// glTF 2.0's metal-roughness model from base colour, metallic and roughness.
enum class ModelShading : unsigned char { kBlinnPhong, kMetalRoughness };

struct ModelTexture {
    int width = 0;
    int height = 0;
    std::vector<unsigned char> rgba;  // width x height x 4 bytes, bottom row first (as OpenGL takes it)
    std::string source;               // the file read, or "embedded #N"
};

struct ModelMesh {
    std::vector<float> positions;   // x, y, z per vertex, in the model's frame
    std::vector<float> normals;     // x, y, z per vertex, unit length
    std::vector<float> texcoords;   // u, v per vertex (v = 0 at the picture's bottom), or empty
    std::vector<unsigned> indices;  // 3 per triangle, counter-clockwise seen from the front
    float diffuse[4] = {0.8f, 0.8f, 0.8f, 1.0f};  // material colour, red, green, blue, opacity 0..1
    int texture = -1;               // index into Model::textures; -1: drawn in the diffuse colour
    // The material's shading. Colours are as the file has them: sRGB-encoded
    // for Blinn-Phong materials, linear for glTF's metal-roughness ones (as
    // glTF defines its factors); all 0..1.
    ModelShading shading = ModelShading::kBlinnPhong;
    float specular[3] = {0, 0, 0};  // Blinn-Phong highlight colour
    float shininess = 0;            // Blinn-Phong exponent, 0..kMaxModelShininess; 0: no highlight
    float metallic = 1, roughness = 1;  // glTF factors, 0..1 (glTF's defaults)
    float emissive[3] = {0, 0, 0};  // light the surface gives off itself
    // Further textures, indices into Model::textures like texture, -1 when
    // absent: a tangent-space normal map (linear data), glTF's metal-roughness
    // map (blue: metallic, green: roughness; linear data) and an emissive map
    // (sRGB colour). Used only by meshes with texture coordinates.
    int normalTexture = -1;
    int metalRoughnessTexture = -1;
    int emissiveTexture = -1;
    // Closed surfaces wound outward (every edge shared by exactly two triangles
    // running it in opposite directions, enclosing a positive volume), this
    // mesh alone or the whole model: its back faces never show from outside.
    bool closed = false;
};

struct Model {
    std::string path;  // the file read, for messages
    std::vector<ModelMesh> meshes;
    std::vector<ModelTexture> textures;
    float boundsMin[3] = {0, 0, 0};  // of the vertices the triangles use
    float boundsMax[3] = {0, 0, 0};
};

// Reads path into *model (replacing what it held). texturePathOrEmpty: a
// picture for every textured mesh instead of the model's own textures. False
// and one line on standard error on failure (see above); warnings for
// textures do not make it fail.
bool loadModel(const std::string& path, const std::string& texturePathOrEmpty, Model* model);

std::size_t modelTriangleCount(const Model& model);

#endif
