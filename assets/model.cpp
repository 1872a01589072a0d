// model.cpp - imports a model file through Assimp and copies its triangle
// meshes, material colours and textures into the Model record (model.h).
//
// Usage:
//     Model model;
//     if (loadModel(path, "", &model)) std::printf("%zu triangles\n", modelTriangleCount(model));
#include "model.h"

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <new>

#include <assimp/Importer.hpp>
#include <assimp/scene.h>

#include "model_parts.h"

namespace fs = std::filesystem;

namespace {

constexpr float kDefaultNormal[3] = {0.0f, 0.0f, 1.0f};  // for triangles of no area

void fail(const std::string& path, const std::string& problem) {
    std::fprintf(stderr, "model: %s: %s\n", path.c_str(), problem.c_str());
}

bool checkFile(const std::string& path) {
    FILE* file = std::fopen(path.c_str(), "rb");
    if (file == nullptr) {
        fail(path, std::string("cannot open (") + std::strerror(errno) + ")");
        return false;
    }
    std::fclose(file);
    std::error_code error;
    if (fs::is_directory(path, error)) {
        fail(path, "is a folder");
        return false;
    }
    if (!fs::is_regular_file(path, error)) {
        fail(path, "not a regular file");
        return false;
    }
    const std::uintmax_t bytes = fs::file_size(path, error);
    if (error || bytes > static_cast<std::uintmax_t>(kMaxModelFileBytes)) {
        fail(path, error ? "size unknown" : "too large for a model");
        return false;
    }
    return true;
}

bool isFinite(const aiVector3D& v) { return std::isfinite(v.x) && std::isfinite(v.y) && std::isfinite(v.z); }

// Triangles whose corners all exist and lie at finite positions.
std::vector<unsigned> usableTriangles(const aiMesh& mesh) {
    std::vector<unsigned> indices;
    if (mesh.mVertices == nullptr) return indices;
    indices.reserve(static_cast<std::size_t>(mesh.mNumFaces) * 3);
    for (unsigned f = 0; f < mesh.mNumFaces; ++f) {
        const aiFace& face = mesh.mFaces[f];
        if (face.mNumIndices != 3 || face.mIndices == nullptr) continue;
        bool usable = true;
        for (int k = 0; k < 3; ++k)
            usable = usable && face.mIndices[k] < mesh.mNumVertices && isFinite(mesh.mVertices[face.mIndices[k]]);
        if (usable) indices.insert(indices.end(), face.mIndices, face.mIndices + 3);
    }
    return indices;
}

void normalise(float* v) {
    const float length = std::sqrt(v[0] * v[0] + v[1] * v[1] + v[2] * v[2]);
    if (length > 0.0f && std::isfinite(length)) {
        for (int k = 0; k < 3; ++k) v[k] /= length;
    } else {
        std::copy(kDefaultNormal, kDefaultNormal + 3, v);
    }
}

// Area-weighted sums of the face normals around each vertex.
void computeNormals(ModelMesh* mesh) {
    const std::vector<float>& p = mesh->positions;
    mesh->normals.assign(p.size(), 0.0f);
    for (std::size_t t = 0; t + 2 < mesh->indices.size(); t += 3) {
        const float* a = &p[3 * mesh->indices[t]];
        const float* b = &p[3 * mesh->indices[t + 1]];
        const float* c = &p[3 * mesh->indices[t + 2]];
        const float u[3] = {b[0] - a[0], b[1] - a[1], b[2] - a[2]};
        const float v[3] = {c[0] - a[0], c[1] - a[1], c[2] - a[2]};
        const float n[3] = {u[1] * v[2] - u[2] * v[1], u[2] * v[0] - u[0] * v[2], u[0] * v[1] - u[1] * v[0]};
        for (int corner = 0; corner < 3; ++corner)
            for (int k = 0; k < 3; ++k) mesh->normals[3 * mesh->indices[t + corner] + k] += n[k];
    }
}

bool isUsableNormal(const aiVector3D& n) { return isFinite(n) && n.SquareLength() > 0.0f; }

// The file's normals, or computed ones when any is unusable.
void copyNormals(const aiMesh& source, ModelMesh* mesh) {
    bool usable = source.mNormals != nullptr;
    for (unsigned i = 0; usable && i < source.mNumVertices; ++i) usable = isUsableNormal(source.mNormals[i]);
    if (usable) {
        mesh->normals.resize(3 * static_cast<std::size_t>(source.mNumVertices));
        std::memcpy(mesh->normals.data(), source.mNormals, mesh->normals.size() * sizeof(float));
    } else {
        computeNormals(mesh);
    }
    for (std::size_t i = 0; i < mesh->normals.size(); i += 3) normalise(&mesh->normals[i]);
}

void copyTexcoords(const aiMesh& source, ModelMesh* mesh) {
    if (source.mTextureCoords[0] == nullptr || source.mNumUVComponents[0] < 2) return;
    mesh->texcoords.resize(2 * static_cast<std::size_t>(source.mNumVertices));
    for (unsigned i = 0; i < source.mNumVertices; ++i) {
        const aiVector3D& uv = source.mTextureCoords[0][i];
        mesh->texcoords[2 * i] = std::isfinite(uv.x) ? uv.x : 0.0f;
        mesh->texcoords[2 * i + 1] = std::isfinite(uv.y) ? uv.y : 0.0f;
    }
}

void readDiffuse(const aiMaterial* material, float diffuse[4]) {
    aiColor4D colour;
    if (material == nullptr) return;
    if (material->Get(AI_MATKEY_COLOR_DIFFUSE, colour) != AI_SUCCESS &&
        material->Get(AI_MATKEY_BASE_COLOR, colour) != AI_SUCCESS)
        return;
    const float values[4] = {colour.r, colour.g, colour.b, colour.a};
    for (int k = 0; k < 4; ++k)
        if (std::isfinite(values[k])) diffuse[k] = std::min(1.0f, std::max(0.0f, values[k]));
    float opacity = 1.0f;
    if (material->Get(AI_MATKEY_OPACITY, opacity) == AI_SUCCESS && std::isfinite(opacity))
        diffuse[3] = std::min(diffuse[3], std::max(0.0f, opacity));
}

float unitClamped(float value, float fallback) {
    return std::isfinite(value) ? std::min(1.0f, std::max(0.0f, value)) : fallback;
}

void readColour(const aiMaterial& material, const char* key, unsigned type, unsigned index, float colour[3]) {
    aiColor3D value;
    if (material.Get(key, type, index, value) != AI_SUCCESS) return;
    const float read[3] = {value.r, value.g, value.b};
    for (int k = 0; k < 3; ++k) colour[k] = unitClamped(read[k], colour[k]);
}

// A material with a metallic factor is glTF's metal-roughness model (Assimp
// sets the factor for glTF 2.0 files); the others shade Blinn-Phong, their
// highlight's strength folded into its colour.
void readShading(const aiMaterial& material, ModelMesh* mesh) {
    readColour(material, AI_MATKEY_COLOR_EMISSIVE, mesh->emissive);
    float metallic = 1.0f, roughness = 1.0f;
    if (material.Get(AI_MATKEY_METALLIC_FACTOR, metallic) == AI_SUCCESS) {
        mesh->shading = ModelShading::kMetalRoughness;
        mesh->metallic = unitClamped(metallic, 1.0f);
        if (material.Get(AI_MATKEY_ROUGHNESS_FACTOR, roughness) == AI_SUCCESS)
            mesh->roughness = unitClamped(roughness, 1.0f);
        return;
    }
    readColour(material, AI_MATKEY_COLOR_SPECULAR, mesh->specular);
    float shininess = 0.0f, strength = 1.0f;
    if (material.Get(AI_MATKEY_SHININESS, shininess) == AI_SUCCESS && std::isfinite(shininess))
        mesh->shininess = std::min(kMaxModelShininess, std::max(0.0f, shininess));
    if (material.Get(AI_MATKEY_SHININESS_STRENGTH, strength) == AI_SUCCESS && std::isfinite(strength))
        for (float& c : mesh->specular) c = std::min(1.0f, c * std::max(0.0f, strength));
}

// The mesh's texture is left as its material's index until the pictures are read.
bool convertMesh(const aiScene& scene, const aiMesh& source, ModelMesh* mesh) {
    mesh->indices = usableTriangles(source);
    if (mesh->indices.empty()) return false;
    mesh->positions.resize(3 * static_cast<std::size_t>(source.mNumVertices));
    std::memcpy(mesh->positions.data(), source.mVertices, mesh->positions.size() * sizeof(float));
    copyNormals(source, mesh);
    copyTexcoords(source, mesh);
    const unsigned m = source.mMaterialIndex;
    if (m < scene.mNumMaterials) {
        readDiffuse(scene.mMaterials[m], mesh->diffuse);
        if (scene.mMaterials[m] != nullptr) readShading(*scene.mMaterials[m], mesh);
        if (!mesh->texcoords.empty()) mesh->texture = static_cast<int>(m);
    }
    return true;
}

// Only the pictures of materials that textured meshes use are read.
void attachTextures(const aiScene& scene, const std::string& path, const std::string& texturePath, Model* model) {
    std::vector<bool> wanted(scene.mNumMaterials, false);
    for (const ModelMesh& mesh : model->meshes)
        if (mesh.texture >= 0) wanted[static_cast<std::size_t>(mesh.texture)] = true;
    const std::vector<MaterialTextures> byMaterial =
        loadMaterialTextures(scene, path, texturePath, wanted, &model->textures);
    for (ModelMesh& mesh : model->meshes) {
        if (mesh.texture < 0) continue;
        const MaterialTextures& found = byMaterial[static_cast<std::size_t>(mesh.texture)];
        mesh.texture = found.base;
        mesh.normalTexture = found.normal;
        mesh.metalRoughnessTexture = found.metalRoughness;
        mesh.emissiveTexture = found.emissive;
    }
}

void computeBounds(Model* model) {
    float low[3] = {INFINITY, INFINITY, INFINITY}, high[3] = {-INFINITY, -INFINITY, -INFINITY};
    for (const ModelMesh& mesh : model->meshes)
        for (unsigned index : mesh.indices)
            for (int k = 0; k < 3; ++k) {
                low[k] = std::min(low[k], mesh.positions[3 * index + k]);
                high[k] = std::max(high[k], mesh.positions[3 * index + k]);
            }
    std::copy(low, low + 3, model->boundsMin);
    std::copy(high, high + 3, model->boundsMax);
}

// Each mesh on its own, and, as a model split into parts by material is often
// closed only as a whole, all of them together.
void markClosedMeshes(Model* model) {
    std::vector<const ModelMesh*> all;
    bool allClosed = true;
    for (ModelMesh& mesh : model->meshes) {
        mesh.closed = enclosesVolumeOutward({&mesh});
        allClosed = allClosed && mesh.closed;
        all.push_back(&mesh);
    }
    if (allClosed || model->meshes.size() < 2 || !enclosesVolumeOutward(all)) return;
    for (ModelMesh& mesh : model->meshes) mesh.closed = true;
}

bool loadUnguarded(const std::string& path, const std::string& texturePath, Model* model) {
    if (!checkFile(path)) return false;
    Assimp::Importer importer;
    const aiScene* scene = importScene(&importer, path);
    if (scene == nullptr) return false;
    Model loaded;
    loaded.path = path;
    for (unsigned i = 0; i < scene->mNumMeshes; ++i) {
        ModelMesh mesh;
        if (scene->mMeshes[i] != nullptr && convertMesh(*scene, *scene->mMeshes[i], &mesh))
            loaded.meshes.push_back(std::move(mesh));
    }
    if (loaded.meshes.empty()) {
        fail(path, "no triangles");
        return false;
    }
    attachTextures(*scene, path, texturePath, &loaded);
    computeBounds(&loaded);
    markClosedMeshes(&loaded);
    *model = std::move(loaded);
    return true;
}

}  // namespace

bool loadModel(const std::string& path, const std::string& texturePathOrEmpty, Model* model) {
    try {
        return loadUnguarded(path, texturePathOrEmpty, model);
    } catch (const std::bad_alloc&) {
        fail(path, "out of memory");
    } catch (const std::exception& e) {
        fail(path, e.what());
    } catch (...) {
        fail(path, "cannot be read");
    }
    return false;
}

std::size_t modelTriangleCount(const Model& model) {
    std::size_t triangles = 0;
    for (const ModelMesh& mesh : model.meshes) triangles += mesh.indices.size() / 3;
    return triangles;
}
