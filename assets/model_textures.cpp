// model_textures.cpp - finds the pictures a model's materials name (base
// colour, normal map, glTF metal-roughness map, emissive map): files
// beside the model (Windows paths, case-blind bare names) or pictures
// embedded in the model (compressed files, or raw BGRA texels), and hands
// their bytes to decodeModelPicture (model_picture.cpp). A file is read only
// when its length is within kMaxModelTextureFileBytes. See model.h for what
// is accepted.
//
// Usage (inside the loader):
//     std::vector<MaterialTextures> byMaterial = loadMaterialTextures(*scene, path, "", wanted, &model.textures);
#include <algorithm>
#include <cctype>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <map>

#include <assimp/material.h>
#include <assimp/scene.h>
#include <assimp/texture.h>

#include "model_parts.h"

namespace fs = std::filesystem;

namespace {

bool readEmbedded(const aiTexture& embedded, int index, ModelTexture* texture, std::string* problem) {
    const std::string source = "embedded #" + std::to_string(index);
    const auto* bytes = reinterpret_cast<const unsigned char*>(embedded.pcData);
    if (bytes == nullptr || embedded.mWidth == 0) {
        *problem = "empty picture";
        return false;
    }
    if (embedded.mHeight == 0)  // compressed: mWidth bytes of a PNG, TGA... file
        return decodeModelPicture(bytes, embedded.mWidth, source, texture, problem);
    return makeModelTextureFromBgra(bytes, embedded.mWidth, embedded.mHeight, source, texture, problem);
}

bool isRegularFile(const fs::path& path) {
    std::error_code error;
    return fs::is_regular_file(path, error);
}

std::string lowerCase(std::string text) {
    std::transform(text.begin(), text.end(), text.begin(), [](unsigned char c) { return std::tolower(c); });
    return text;
}

// A file in folder whose name matches name but for letter case, as on Windows.
fs::path findIgnoringCase(const fs::path& folder, const std::string& name) {
    const std::string target = lowerCase(name);
    std::error_code error;
    for (fs::directory_iterator entry(folder, error), end; !error && entry != end; entry.increment(error))
        if (lowerCase(entry->path().filename().string()) == target && isRegularFile(entry->path()))
            return entry->path();
    return {};
}

// Materials written on Windows name their pictures with backslashes, often
// by an absolute path on the author's machine: try the path as written, then
// the bare name beside the model.
fs::path findTextureFile(std::string reference, const fs::path& folder) {
    std::replace(reference.begin(), reference.end(), '\\', '/');
    const std::string filePrefix = "file://";
    if (reference.compare(0, filePrefix.size(), filePrefix) == 0) reference.erase(0, filePrefix.size());
    const fs::path written(reference);
    if (written.empty()) return {};
    const fs::path asWritten = written.is_absolute() ? written : folder / written;
    if (isRegularFile(asWritten)) return asWritten;
    const fs::path bare = folder / written.filename();
    if (isRegularFile(bare)) return bare;
    return findIgnoringCase(folder, written.filename().string());
}

bool readTextureFile(const fs::path& file, ModelTexture* texture, std::string* problem) {
    std::error_code error;
    const std::uintmax_t length = fs::file_size(file, error);
    if (error || length > static_cast<std::uintmax_t>(kMaxModelTextureFileBytes)) {
        *problem = error ? "cannot be read" : "larger than " + std::to_string(kMaxModelTextureFileBytes >> 20) + " MB";
        return false;
    }
    std::vector<unsigned char> bytes(length);
    std::ifstream in(file, std::ios::binary);
    if (!in.read(reinterpret_cast<char*>(bytes.data()), static_cast<std::streamsize>(length))) {
        *problem = "cannot be read";
        return false;
    }
    return decodeModelPicture(bytes.data(), bytes.size(), file.string(), texture, problem);
}

void warn(const std::string& modelPath, const std::string& reference, const std::string& problem) {
    std::fprintf(stderr, "model: %s: texture %s: %s; drawn in its material colour\n", modelPath.c_str(),
                 reference.c_str(), problem.c_str());
}

// Reads the picture named by reference once (textures shared by several
// materials are decoded once); the index into *textures, or -1 with a warning.
int loadReference(const aiScene& scene, const std::string& modelPath, const std::string& reference,
                  std::map<std::string, int>* loaded, std::vector<ModelTexture>* textures) {
    auto known = loaded->find(reference);
    if (known != loaded->end()) return known->second;
    ModelTexture texture;
    bool ok = false;
    std::string problem;
    const std::pair<const aiTexture*, int> embedded = scene.GetEmbeddedTextureAndIndex(reference.c_str());
    if (embedded.first != nullptr) {
        ok = readEmbedded(*embedded.first, embedded.second, &texture, &problem);
        if (!ok) warn(modelPath, reference, "embedded picture: " + problem);
    } else {
        const fs::path file = findTextureFile(reference, fs::path(modelPath).parent_path());
        ok = !file.empty() && readTextureFile(file, &texture, &problem);
        if (!ok) warn(modelPath, reference, file.empty() ? "not found" : problem);
    }
    int index = -1;
    if (ok) {
        index = static_cast<int>(textures->size());
        textures->push_back(std::move(texture));
    }
    (*loaded)[reference] = index;
    return index;
}

// The first picture the material names for any of types.
bool materialTexture(const aiMaterial& material, const std::vector<aiTextureType>& types, std::string* reference) {
    aiString path;
    for (aiTextureType type : types)
        if (material.GetTextureCount(type) > 0 && material.GetTexture(type, 0, &path) == AI_SUCCESS &&
            path.length > 0) {
            *reference = path.C_Str();
            return true;
        }
    return false;
}

// glTF's metal-roughness map is Assimp's texture of unknown kind; some
// importers name it as the metalness or roughness texture instead.
MaterialTextures readMaterialTextures(const aiScene& scene, const aiMaterial& material, const std::string& modelPath,
                                      std::map<std::string, int>* loaded, std::vector<ModelTexture>* textures) {
    MaterialTextures found;
    const std::pair<std::vector<aiTextureType>, int*> roles[] = {
        {{aiTextureType_DIFFUSE, aiTextureType_BASE_COLOR}, &found.base},
        {{aiTextureType_NORMALS}, &found.normal},
        {{aiTextureType_UNKNOWN, aiTextureType_METALNESS, aiTextureType_DIFFUSE_ROUGHNESS}, &found.metalRoughness},
        {{aiTextureType_EMISSIVE}, &found.emissive}};
    for (const auto& role : roles) {
        std::string reference;
        if (materialTexture(material, role.first, &reference))
            *role.second = loadReference(scene, modelPath, reference, loaded, textures);
    }
    return found;
}

}  // namespace

std::vector<MaterialTextures> loadMaterialTextures(const aiScene& scene, const std::string& modelPath,
                                                   const std::string& overridePath, const std::vector<bool>& wanted,
                                                   std::vector<ModelTexture>* textures) {
    std::vector<MaterialTextures> byMaterial(scene.mNumMaterials);
    if (std::find(wanted.begin(), wanted.end(), true) == wanted.end()) return byMaterial;
    if (!overridePath.empty()) {
        ModelTexture texture;
        std::string problem = "not found";
        if (isRegularFile(overridePath) && readTextureFile(overridePath, &texture, &problem)) {
            textures->push_back(std::move(texture));
            const int index = static_cast<int>(textures->size()) - 1;
            for (unsigned m = 0; m < scene.mNumMaterials; ++m)
                if (wanted[m]) byMaterial[m].base = index;
        } else {
            warn(modelPath, overridePath, problem);
        }
        return byMaterial;
    }
    std::map<std::string, int> loaded;
    for (unsigned m = 0; m < scene.mNumMaterials; ++m)
        if (wanted[m] && scene.mMaterials[m] != nullptr)
            byMaterial[m] = readMaterialTextures(scene, *scene.mMaterials[m], modelPath, &loaded, textures);
    return byMaterial;
}
