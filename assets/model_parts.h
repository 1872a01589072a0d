// model_parts.h - the model loader's own steps, shared between its source
// files; not for other modules (use model.h).
//
// Usage (inside the loader):
//     const aiScene* scene = importScene(&importer, path);
//     std::vector<MaterialTextures> byMaterial = loadMaterialTextures(*scene, path, "", wanted, &model.textures);
#ifndef ASSETS_MODEL_PARTS_H
#define ASSETS_MODEL_PARTS_H

#include <cstddef>
#include <string>
#include <vector>

#include "model.h"

struct aiScene;
namespace Assimp {
class Importer;
}

// Reads path with importer (its IO handler and settings replaced): the scene,
// owned by importer, or nullptr and one line on standard error.
const aiScene* importScene(Assimp::Importer* importer, const std::string& path);

// The textures of one material, indices into Model::textures, -1 for none.
struct MaterialTextures {
    int base = -1, normal = -1, metalRoughness = -1, emissive = -1;
};

// The textures of every wanted material of scene, read from the files beside
// modelPath or from the scene itself (a picture several materials name is
// read once); or, when overridePath is not empty, that picture as every
// wanted material's base texture and no others. Unreadable pictures give
// one warning line each and -1.
std::vector<MaterialTextures> loadMaterialTextures(const aiScene& scene, const std::string& modelPath,
                                                   const std::string& overridePath, const std::vector<bool>& wanted,
                                                   std::vector<ModelTexture>* textures);

// The sides a picture's header announces, read without decoding it
// (picture_sides.cpp); false for a header none of the decoders' readers
// knows, or a damaged one.
bool measureModelPicture(const unsigned char* bytes, std::size_t size, long long* width, long long* height);

// The picture in bytes[0, size) (a PNG, TGA... file's contents) as a texture
// named source: 8-bit RGBA, bottom row first, scaled to kMaxModelTextureSide.
// False with *problem ("cannot be decoded", "W x H texels, more than N
// allowed"...) for an empty or unreadable picture or one over the bounds of
// model.h, refused before it is decoded.
bool decodeModelPicture(const unsigned char* bytes, std::size_t size, const std::string& source,
                        ModelTexture* texture, std::string* problem);

// The same from width x height texels b, g, r, a, top row first (Assimp's
// uncompressed embedded pictures).
bool makeModelTextureFromBgra(const unsigned char* bgra, unsigned width, unsigned height, const std::string& source,
                              ModelTexture* texture, std::string* problem);

// Whether the triangles of meshes, taken together, enclose a positive volume
// with every edge run once in each direction (see ModelMesh::closed).
bool enclosesVolumeOutward(const std::vector<const ModelMesh*>& meshes);

#endif
