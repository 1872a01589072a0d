// model_import.cpp - runs Assimp on a model file with the guards it needs to
// fail cleanly on malformed files: only the formats this module was tested
// with, reads that keep returning nothing at the end of a file stopped, and
// Assimp's internal checks turned from an abort into a failed import.
//
// Usage (inside the loader):
//     Assimp::Importer importer;
//     const aiScene* scene = importScene(&importer, path);   // nullptr: message printed
#include <algorithm>
#include <cctype>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <stdexcept>
#include <string>

#include <assimp/DefaultIOSystem.h>
#include <assimp/IOStream.hpp>
#include <assimp/Importer.hpp>
#include <assimp/postprocess.h>
#include <assimp/scene.h>

#include "model_parts.h"

// Debian's Assimp is built with its internal checks on, and a failed check
// ends the process (a truncated PLY file does it). Defining the check's
// handler here overrides the library's for the whole process: the check
// throws instead, Assimp's importer catches it and the file fails to load.
namespace Assimp {
void aiAssertViolation(const char* expression, const char*, int) {
    throw std::runtime_error(std::string("malformed (Assimp's check ") + expression + " failed)");
}
}  // namespace Assimp

namespace {

// Invalid data is dropped by the loader rather than by
// aiProcess_FindInvalidData, which discards a whole mesh for one infinite
// position. UVs keep their origin at the picture's bottom (no
// aiProcess_FlipUVs): the textures are stored bottom row first to match.
constexpr unsigned kImportSteps =
    aiProcess_PreTransformVertices | aiProcess_Triangulate | aiProcess_SortByPType |
    aiProcess_JoinIdenticalVertices | aiProcess_FindDegenerates | aiProcess_GenSmoothNormals |
    aiProcess_GenUVCoords | aiProcess_TransformUVCoords | aiProcess_ImproveCacheLocality |
    aiProcess_ValidateDataStructure;

// Assimp reads many more formats, some with importers that allocate
// gigabytes for a bad count; these are the ones tried on real files here.
constexpr const char* kFormats[] = {".obj", ".gltf", ".glb", ".ply", ".dae", ".fbx", ".stl", ".3ds"};
constexpr const char* kFormatNames = "OBJ, glTF, GLB, PLY, Collada, FBX, STL, 3DS";

// Assimp 5.2's PLY reader loops for ever on a file cut short, asking again
// and again for the bytes after the end; no reader needs that many tries.
constexpr int kMaxReadsAtEnd = 1000;

struct ReadPastEnd : std::runtime_error {
    ReadPastEnd() : std::runtime_error("truncated (read past its end)") {}
};

class GuardedStream : public Assimp::IOStream {
public:
    GuardedStream(Assimp::IOStream* inner, bool* readPastEnd) : inner_(inner), readPastEnd_(readPastEnd) {}
    size_t Read(void* buffer, size_t size, size_t count) override {
        const size_t read = inner_->Read(buffer, size, count);
        if (read == 0 && size * count > 0 && ++readsAtEnd_ > kMaxReadsAtEnd) {
            *readPastEnd_ = true;
            throw ReadPastEnd();
        }
        return read;
    }
    size_t Write(const void* buffer, size_t size, size_t count) override { return inner_->Write(buffer, size, count); }
    aiReturn Seek(size_t offset, aiOrigin origin) override { return inner_->Seek(offset, origin); }
    size_t Tell() const override { return inner_->Tell(); }
    size_t FileSize() const override { return inner_->FileSize(); }
    void Flush() override { inner_->Flush(); }

private:
    std::unique_ptr<Assimp::IOStream> inner_;
    bool* readPastEnd_;
    int readsAtEnd_ = 0;
};

class GuardedIOSystem : public Assimp::DefaultIOSystem {
public:
    bool readPastEnd = false;
    Assimp::IOStream* Open(const char* file, const char* mode) override {
        Assimp::IOStream* stream = DefaultIOSystem::Open(file, mode);
        return stream != nullptr ? new GuardedStream(stream, &readPastEnd) : nullptr;
    }
    void Close(Assimp::IOStream* stream) override { delete stream; }
};

bool isSupportedFormat(const std::string& path) {
    std::string extension = std::filesystem::path(path).extension().string();
    std::transform(extension.begin(), extension.end(), extension.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return std::find(std::begin(kFormats), std::end(kFormats), extension) != std::end(kFormats);
}

void fail(const std::string& path, const std::string& problem) {
    std::fprintf(stderr, "model: %s: %s\n", path.c_str(), problem.c_str());
}

std::string firstLine(const char* message) {
    const std::string text = message != nullptr && message[0] != '\0' ? message : "cannot be read";
    return text.substr(0, text.find_first_of("\r\n"));
}

}  // namespace

const aiScene* importScene(Assimp::Importer* importer, const std::string& path) {
    if (!isSupportedFormat(path)) {
        fail(path, std::string("not a model format read here (") + kFormatNames + ")");
        return nullptr;
    }
    GuardedIOSystem* files = new GuardedIOSystem();  // the importer owns it
    importer->SetIOHandler(files);
    importer->SetPropertyFloat(AI_CONFIG_PP_GSN_MAX_SMOOTHING_ANGLE, kModelSmoothingAngle);
    // Only triangles with coinciding corners go: an area threshold would
    // also remove the small triangles of a model drawn in large units.
    importer->SetPropertyBool(AI_CONFIG_PP_FD_REMOVE, true);
    importer->SetPropertyBool(AI_CONFIG_PP_FD_CHECKAREA, false);
    const aiScene* scene = importer->ReadFile(path, kImportSteps);
    if (scene == nullptr) fail(path, files->readPastEnd ? ReadPastEnd().what() : firstLine(importer->GetErrorString()));
    return scene;
}
