// model_textures.cpp - finds and decodes the pictures a model's materials
// name: files beside the model (Windows paths, case-blind bare names) or
// pictures embedded in the model (compressed, or raw BGRA texels), decoded
// by OpenCV into bottom-up RGBA. See model.h for what is accepted.
//
// Usage (inside the loader):
//     std::vector<int> byMaterial = loadMaterialTextures(*scene, path, "", &model.textures);
#include <algorithm>
#include <cctype>
#include <cstdio>
#include <filesystem>
#include <map>

#include <assimp/material.h>
#include <assimp/scene.h>
#include <assimp/texture.h>

#include <opencv2/core/utils/logger.hpp>
#include <opencv2/imgcodecs.hpp>
#include <opencv2/imgproc.hpp>

#include "model_parts.h"

namespace fs = std::filesystem;

namespace {

constexpr unsigned kMaxRawTextureSide = 16384;  // texels, either side of an embedded raw picture
constexpr double kSixteenToEightBit = 255.0 / 65535.0;
constexpr double kUnitToEightBit = 255.0;

// The decoders complain on standard error about files they reject; the loader
// prints its own one line instead.
struct QuietOpenCV {
    cv::utils::logging::LogLevel previous =
        cv::utils::logging::setLogLevel(cv::utils::logging::LOG_LEVEL_SILENT);
    ~QuietOpenCV() { cv::utils::logging::setLogLevel(previous); }
};

cv::Mat toEightBit(const cv::Mat& image) {
    if (image.depth() == CV_8U) return image;
    double scale = 1.0;
    if (image.depth() == CV_16U) scale = kSixteenToEightBit;
    if (image.depth() == CV_32F || image.depth() == CV_64F) scale = kUnitToEightBit;
    cv::Mat converted;
    image.convertTo(converted, CV_8U, scale);
    return converted;
}

bool toRgba(const cv::Mat& image, cv::Mat* rgba) {
    switch (image.channels()) {
        case 1: cv::cvtColor(image, *rgba, cv::COLOR_GRAY2RGBA); return true;
        case 3: cv::cvtColor(image, *rgba, cv::COLOR_BGR2RGBA); return true;
        case 4: cv::cvtColor(image, *rgba, cv::COLOR_BGRA2RGBA); return true;
        default: return false;
    }
}

cv::Mat limitSize(const cv::Mat& image) {
    const int side = std::max(image.cols, image.rows);
    if (side <= kMaxModelTextureSide) return image;
    const double scale = static_cast<double>(kMaxModelTextureSide) / side;
    cv::Mat smaller;
    cv::resize(image, smaller, cv::Size(), scale, scale, cv::INTER_AREA);
    return smaller;
}

// OpenCV's row 0 is the picture's top; OpenGL takes the bottom row first, so
// that texture coordinate v = 0 (Assimp's convention) meets the bottom.
bool makeTexture(const cv::Mat& image, const std::string& source, ModelTexture* texture) {
    cv::Mat rgba;
    if (image.empty() || !toRgba(toEightBit(image), &rgba)) return false;
    cv::Mat upright = limitSize(rgba), bottomUp;
    cv::flip(upright, bottomUp, 0);
    texture->width = bottomUp.cols;
    texture->height = bottomUp.rows;
    texture->rgba.assign(bottomUp.data, bottomUp.data + bottomUp.total() * bottomUp.elemSize());
    texture->source = source;
    return true;
}

bool readEmbedded(const aiTexture& embedded, int index, ModelTexture* texture) {
    if (embedded.pcData == nullptr || embedded.mWidth == 0) return false;
    const std::string source = "embedded #" + std::to_string(index);
    QuietOpenCV quiet;
    if (embedded.mHeight == 0) {  // compressed: mWidth bytes of a PNG, JPEG...
        if (embedded.mWidth > static_cast<unsigned>(INT32_MAX)) return false;
        const cv::Mat bytes(1, static_cast<int>(embedded.mWidth), CV_8UC1, embedded.pcData);
        return makeTexture(cv::imdecode(bytes, cv::IMREAD_UNCHANGED), source, texture);
    }
    if (embedded.mWidth > kMaxRawTextureSide || embedded.mHeight > kMaxRawTextureSide) return false;
    // aiTexel is b, g, r, a; rows taken top first, as in a picture file.
    const cv::Mat texels(static_cast<int>(embedded.mHeight), static_cast<int>(embedded.mWidth), CV_8UC4,
                         embedded.pcData);
    return makeTexture(texels, source, texture);
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

bool readTextureFile(const fs::path& file, ModelTexture* texture) {
    QuietOpenCV quiet;
    return makeTexture(cv::imread(file.string(), cv::IMREAD_UNCHANGED), file.string(), texture);
}

void warn(const std::string& modelPath, const std::string& reference, const char* problem) {
    std::fprintf(stderr, "model: %s: texture %s: %s; drawn in its material colour\n", modelPath.c_str(),
                 reference.c_str(), problem);
}

// Reads the picture named by reference once (textures shared by several
// materials are decoded once); the index into *textures, or -1 with a warning.
int loadReference(const aiScene& scene, const std::string& modelPath, const std::string& reference,
                  std::map<std::string, int>* loaded, std::vector<ModelTexture>* textures) {
    auto known = loaded->find(reference);
    if (known != loaded->end()) return known->second;
    ModelTexture texture;
    bool ok = false;
    const std::pair<const aiTexture*, int> embedded = scene.GetEmbeddedTextureAndIndex(reference.c_str());
    if (embedded.first != nullptr) {
        ok = readEmbedded(*embedded.first, embedded.second, &texture);
        if (!ok) warn(modelPath, reference, "embedded picture cannot be decoded");
    } else {
        const fs::path file = findTextureFile(reference, fs::path(modelPath).parent_path());
        ok = !file.empty() && readTextureFile(file, &texture);
        if (!ok) warn(modelPath, reference, file.empty() ? "not found" : "cannot be decoded");
    }
    int index = -1;
    if (ok) {
        index = static_cast<int>(textures->size());
        textures->push_back(std::move(texture));
    }
    (*loaded)[reference] = index;
    return index;
}

bool materialTexture(const aiMaterial& material, std::string* reference) {
    aiString path;
    for (aiTextureType type : {aiTextureType_DIFFUSE, aiTextureType_BASE_COLOR})
        if (material.GetTextureCount(type) > 0 && material.GetTexture(type, 0, &path) == AI_SUCCESS &&
            path.length > 0) {
            *reference = path.C_Str();
            return true;
        }
    return false;
}

}  // namespace

std::vector<int> loadMaterialTextures(const aiScene& scene, const std::string& modelPath,
                                      const std::string& overridePath, const std::vector<bool>& wanted,
                                      std::vector<ModelTexture>* textures) {
    std::vector<int> byMaterial(scene.mNumMaterials, -1);
    if (std::find(wanted.begin(), wanted.end(), true) == wanted.end()) return byMaterial;
    if (!overridePath.empty()) {
        ModelTexture texture;
        if (isRegularFile(overridePath) && readTextureFile(overridePath, &texture)) {
            textures->push_back(std::move(texture));
            const int index = static_cast<int>(textures->size()) - 1;
            for (unsigned m = 0; m < scene.mNumMaterials; ++m)
                if (wanted[m]) byMaterial[m] = index;
        } else {
            warn(modelPath, overridePath, isRegularFile(overridePath) ? "cannot be decoded" : "not found");
        }
        return byMaterial;
    }
    std::map<std::string, int> loaded;
    for (unsigned m = 0; m < scene.mNumMaterials; ++m) {
        std::string reference;
        if (wanted[m] && scene.mMaterials[m] != nullptr && materialTexture(*scene.mMaterials[m], &reference))
            byMaterial[m] = loadReference(scene, modelPath, reference, &loaded, textures);
    }
    return byMaterial;
}
