// model_parts.h - the model loader's own steps, shared between its source
// files; not for other modules (use model.h).
//
// Usage (inside the loader):
//     const aiScene* scene = importScene(&importer, path);
//     std::vector<int> byMaterial = loadMaterialTextures(*scene, path, "", wanted, &model.textures);
#ifndef ASSETS_MODEL_PARTS_H
#define ASSETS_MODEL_PARTS_H

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

// The texture of every wanted material of scene (index into *textures, -1
// for none), read from the files beside modelPath or from the scene itself;
// or, when overridePath is not empty, that picture for every wanted material.
// Unreadable pictures give one warning line each and -1.
std::vector<int> loadMaterialTextures(const aiScene& scene, const std::string& modelPath,
                                      const std::string& overridePath, const std::vector<bool>& wanted,
                                      std::vector<ModelTexture>* textures);

// Whether the triangles of meshes, taken together, enclose a positive volume
// with every edge run once in each direction (see ModelMesh::closed).
bool enclosesVolumeOutward(const std::vector<const ModelMesh*>& meshes);

#endif
