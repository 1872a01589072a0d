// Real files that this project did not write: every 3DS model of Debian's
// assimp-testmodels loads or is rejected cleanly, single-mesh models agree with
// the lib3ds reader, and BMP textures from the same package decode or are
// rejected as not 24-bit.
#include <gtest/gtest.h>
#include <lib3ds/file.h>
#include <lib3ds/mesh.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <string>
#include <vector>

#include "3dsloader.h"
#include "bitmap.h"

namespace fs = std::filesystem;

namespace {

const fs::path kModels = ASSIMP_MODELS_DIR;

std::vector<fs::path> filesWithExtension(const std::string& lowerExtension) {
    std::vector<fs::path> files;
    for (const char* folder : {"3DS", "invalid", "LWO/LWO2", "MD2"}) {
        if (!fs::is_directory(kModels / folder)) continue;
        for (const fs::directory_entry& entry : fs::directory_iterator(kModels / folder)) {
            std::string extension = entry.path().extension().string();
            std::transform(extension.begin(), extension.end(), extension.begin(), ::tolower);
            if (extension == lowerExtension) files.push_back(entry.path());
        }
    }
    std::sort(files.begin(), files.end());
    return files;
}

struct Loaded {
    int result;
    std::string err;
};

Loaded load(obj_type* record, const fs::path& file) {
    std::string path = file.string();
    testing::internal::CaptureStdout();
    testing::internal::CaptureStderr();
    const int result = Load3DS(record, &path[0]);
    testing::internal::GetCapturedStdout();
    return {result, testing::internal::GetCapturedStderr()};
}

std::unique_ptr<obj_type> emptyRecord() { return std::unique_ptr<obj_type>(new obj_type()); }

int meshCount(const Lib3dsFile* file) {
    int n = 0;
    for (const Lib3dsMesh* mesh = file->meshes; mesh != nullptr; mesh = mesh->next) ++n;
    return n;
}

}  // namespace

TEST(RealModels, Every3dsFileLoadsWithinCapacity) {
    const std::vector<fs::path> files = filesWithExtension(".3ds");
    ASSERT_GE(files.size(), 9u) << "assimp-testmodels missing from " << kModels;
    for (const fs::path& file : files) {
        SCOPED_TRACE(file.string());
        auto record = emptyRecord();
        const Loaded loaded = load(record.get(), file);
        EXPECT_EQ(loaded.result, 1) << loaded.err;
        EXPECT_LE(record->vertex_count, kMeshCapacity);
        EXPECT_LE(record->polygon_count, kMeshCapacity);
    }
}

TEST(RealModels, SingleMeshModelsAgreeWithLib3ds) {
    int compared = 0;
    for (const fs::path& file : filesWithExtension(".3ds")) {
        SCOPED_TRACE(file.string());
        Lib3dsFile* peer = lib3ds_file_load(file.c_str());
        if (peer == nullptr) continue;
        if (meshCount(peer) == 1) {
            const Lib3dsMesh& mesh = *peer->meshes;
            auto record = emptyRecord();
            ASSERT_EQ(load(record.get(), file).result, 1);
            EXPECT_EQ(static_cast<unsigned>(record->vertex_count), mesh.points);
            EXPECT_EQ(static_cast<unsigned>(record->polygon_count), mesh.faces);
            for (unsigned i = 0; i < mesh.points && i < kMeshCapacity; ++i) {
                ASSERT_EQ(record->vertices[i].x, mesh.pointL[i].pos[0]) << i;
                ASSERT_EQ(record->vertices[i].z, mesh.pointL[i].pos[2]) << i;
            }
            for (unsigned i = 0; i < mesh.faces && i < kMeshCapacity; ++i)
                ASSERT_EQ(record->polygons[i].c, mesh.faceL[i].points[2]) << i;
            for (unsigned i = 0; i < mesh.texels && i < kMeshCapacity; ++i)
                ASSERT_EQ(record->mapping[i].v, mesh.texelL[i][1]) << i;
            ++compared;
        }
        lib3ds_file_free(peer);
    }
    EXPECT_GE(compared, 6);  // the single-mesh models of the package
}

TEST(RealModels, BmpTexturesDecodeOrAreRejectedAsNot24Bit) {
    const std::vector<fs::path> files = filesWithExtension(".bmp");
    ASSERT_FALSE(files.empty());
    for (const fs::path& file : files) {
        SCOPED_TRACE(file.string());
        std::ifstream in(file, std::ios::binary);
        const std::vector<unsigned char> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
        const bool twentyFourBit = bytes.size() > 29 && bytes[28] == 24 && bytes[29] == 0;
        BitmapImage image;
        testing::internal::CaptureStderr();
        const int result = decodeBitmap(bytes.data(), bytes.size(), file.c_str(), &image);
        const std::string err = testing::internal::GetCapturedStderr();
        EXPECT_EQ(result, twentyFourBit ? 1 : 0);
        if (!twentyFourBit) {
            EXPECT_NE(err.find("not a 24-bit BMP"), std::string::npos) << err;
        }
    }
}
