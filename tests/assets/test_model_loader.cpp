// The model loader without OpenGL: real files of Debian's assimp-testmodels
// in each format against counts read from the files themselves, textures
// found the ways models name them, the fallbacks for pictures that cannot be
// read, the geometry steps (transforms, triangulation, normals, closed
// surfaces), and clean failures on missing, truncated and empty files.
#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>

#include <opencv2/imgcodecs.hpp>
#include <opencv2/imgproc.hpp>

#include "model.h"
#include "model_files.h"
#include "model_load.h"

namespace fs = std::filesystem;
using namespace model_files;

namespace {

const fs::path kModels = ASSIMP_MODELS_DIR;

// The picture as the loader should store it: RGBA, bottom row first.
cv::Mat bottomUpRgba(const std::string& file) {
    cv::Mat picture = cv::imread(file, cv::IMREAD_COLOR), rgba, flipped;
    cv::cvtColor(picture, rgba, cv::COLOR_BGR2RGBA);
    cv::flip(rgba, flipped, 0);
    return flipped;
}

bool sameTexels(const ModelTexture& texture, const cv::Mat& rgba) {
    return texture.width == rgba.cols && texture.height == rgba.rows &&
           std::equal(texture.rgba.begin(), texture.rgba.end(), rgba.data);
}

void copyTruncated(const fs::path& from, const fs::path& to, double fraction) {
    std::ifstream in(from, std::ios::binary);
    std::vector<char> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    std::ofstream(to, std::ios::binary).write(bytes.data(), static_cast<std::streamsize>(bytes.size() * fraction));
}

void expectBounds(const Model& model, cv::Vec3f low, cv::Vec3f high) {
    for (int k = 0; k < 3; ++k) {
        EXPECT_NEAR(model.boundsMin[k], low[k], 1e-4) << k;
        EXPECT_NEAR(model.boundsMax[k], high[k], 1e-4) << k;
    }
}

}  // namespace

TEST(ModelRealFiles, ObjWithWindowsTexturePathsHasTheFilesTrianglesAndPictures) {
    const fs::path file = kModels / "OBJ/spider.obj";  // map_Kd .\wal67ar_small.jpg and so on
    Model model;
    const Loaded loaded = load(file, &model);
    ASSERT_TRUE(loaded.ok) << loaded.err;
    EXPECT_EQ(loaded.err, "");
    const ObjCounts counts = countObj(file);
    EXPECT_EQ(modelTriangleCount(model), counts.triangles);
    expectBounds(model, counts.low, counts.high);
    // Four of its five materials are used, each with its own picture.
    ASSERT_EQ(model.textures.size(), 4u);
    for (const ModelMesh& mesh : model.meshes) EXPECT_GE(mesh.texture, 0);
    for (const char* name : {"wal67ar_small.jpg", "SpiderTex.jpg", "drkwood2.jpg", "engineflare1.jpg"}) {
        auto same = [&](const ModelTexture& t) { return fs::path(t.source).filename() == name; };
        auto texture = std::find_if(model.textures.begin(), model.textures.end(), same);
        ASSERT_NE(texture, model.textures.end()) << name;
        EXPECT_TRUE(sameTexels(*texture, bottomUpRgba((kModels / "OBJ" / name).string()))) << name;
    }
}

TEST(ModelRealFiles, GltfGlbAndDataUriBoxesGiveTheSameTexturedCube) {
    const cv::Mat logo = bottomUpRgba((kModels / "glTF2/BoxTextured-glTF/CesiumLogoFlat.png").string());
    for (const char* name : {"BoxTextured-glTF/BoxTextured.gltf", "BoxTextured-glTF-Binary/BoxTextured.glb",
                             "BoxTextured-glTF-Embedded/BoxTextured.gltf"}) {
        SCOPED_TRACE(name);
        Model model;
        const Loaded loaded = load(kModels / "glTF2" / name, &model);
        ASSERT_TRUE(loaded.ok) << loaded.err;
        EXPECT_EQ(modelTriangleCount(model), 12u);
        expectBounds(model, {-0.5f, -0.5f, -0.5f}, {0.5f, 0.5f, 0.5f});
        ASSERT_EQ(model.textures.size(), 1u);
        EXPECT_TRUE(sameTexels(model.textures[0], logo));
        EXPECT_EQ(model.meshes[0].texture, 0);
        EXPECT_TRUE(model.meshes[0].closed);
    }
}

TEST(ModelRealFiles, PlyColladaFbxAndALargeGlbLoad) {
    Model model;
    for (const char* name : {"PLY/cube.ply", "PLY/Wuson.ply"}) {
        ASSERT_TRUE(load(kModels / name, &model).ok) << name;
        EXPECT_EQ(modelTriangleCount(model), countPlyTriangles(kModels / name)) << name;
    }
    const ObjCounts sameModel = countObj(kModels / "OBJ/WusonOBJ.obj");
    expectBounds(model, sameModel.low, sameModel.high);

    // The duck's texture is a TGA (its texels: test_model_pictures.cpp).
    const Loaded duck = load(kModels / "Collada/duck.dae", &model);
    ASSERT_TRUE(duck.ok) << duck.err;
    EXPECT_EQ(duck.err, "");
    EXPECT_EQ(model.meshes[0].texture, 0);
    std::ifstream dae(kModels / "Collada/duck.dae");
    const std::string xml((std::istreambuf_iterator<char>(dae)), std::istreambuf_iterator<char>());
    const std::size_t vcount = xml.find("<vcount>");  // corners per polygon, its only polygon list
    ASSERT_NE(vcount, std::string::npos);
    std::istringstream corners(xml.substr(vcount + 8, xml.find('<', vcount + 8) - vcount - 8));
    std::size_t triangles = 0;
    for (std::size_t n; corners >> n;) triangles += n - 2;
    EXPECT_EQ(modelTriangleCount(model), triangles);

    ASSERT_TRUE(load(kModels / "FBX/box.fbx", &model).ok);
    EXPECT_EQ(modelTriangleCount(model), 12u);
    ASSERT_TRUE(load(kModels / "FBX/embedded_ascii/box.FBX", &model).ok);  // picture inside the file
    ASSERT_EQ(model.textures.size(), 1u);
    EXPECT_EQ(model.textures[0].source, "embedded #0");

    ASSERT_TRUE(load(kModels / "glTF2/2CylinderEngine-glTF-Binary/2CylinderEngine.glb", &model).ok);
    EXPECT_GT(modelTriangleCount(model), 100000u);  // far beyond the 3DS loader's 8000
}

TEST(ModelRealFiles, BadIndicesAndNonFinitePositionsAreDropped) {
    Model model;
    // One of its twelve triangles names a vertex the mesh does not have.
    ASSERT_TRUE(load(kModels / "glTF2/IndexOutOfRange/IndexOutOfRange.gltf", &model).ok);
    EXPECT_EQ(modelTriangleCount(model), 11u);
    // Every triangle has an infinite corner.
    const Loaded infinite = load(kModels / "glTF2/BoxWithInfinites-glTF-Binary/BoxWithInfinites.glb", &model);
    EXPECT_FALSE(infinite.ok);
    EXPECT_NE(infinite.err.find(": no triangles"), std::string::npos) << infinite.err;
    // Normals of zero length are computed again from the faces.
    ASSERT_TRUE(load(kModels / "glTF2/BoxBadNormals-glTF-Binary/BoxBadNormals.glb", &model).ok);
    for (const ModelMesh& mesh : model.meshes)
        for (std::size_t i = 0; i < mesh.normals.size(); i += 3)
            ASSERT_NEAR(std::hypot(mesh.normals[i], mesh.normals[i + 1], mesh.normals[i + 2]), 1.0, 1e-5);
}

TEST(ModelFailures, MissingTruncatedEmptyForeignAndPointOnlyFilesFailWithOneLine) {
    const std::string folder = freshFolder("failures");
    copyTruncated(kModels / "glTF2/BoxTextured-glTF-Binary/BoxTextured.glb", folder + "/half.glb", 0.5);
    copyTruncated(kModels / "PLY/cube.ply", folder + "/cube.off", 1.0);
    copyTruncated(kModels / "FBX/spider.fbx", folder + "/half.fbx", 0.5);
    copyTruncated(kModels / "OBJ/spider.obj", folder + "/empty.obj", 0.0);
    writeText(folder + "/noise.obj", std::string("\x01\x02\xff garbage \x7f", 14));
    const std::vector<std::pair<std::string, std::string>> cases = {
        {folder + "/missing.obj", "cannot open"},
        {folder, "is a folder"},
        {folder + "/half.glb", ""},
        {folder + "/cube.off", "not a model format read here"},
        {folder + "/half.fbx", ""},
        {folder + "/empty.obj", ""},
        {folder + "/noise.obj", ""},
        {(kModels / "OBJ/testpoints.obj").string(), "no triangles"},
    };
    for (const auto& [path, problem] : cases) {
        SCOPED_TRACE(path);
        Model model;
        model.path = "kept";
        const Loaded loaded = load(path, &model);
        EXPECT_FALSE(loaded.ok);
        EXPECT_EQ(model.path, "kept");
        EXPECT_EQ(lineCount(loaded.err), 1) << loaded.err;
        EXPECT_EQ(loaded.err.rfind("model: " + path + ": ", 0), 0u) << loaded.err;
        EXPECT_NE(loaded.err.find(problem), std::string::npos) << loaded.err;
    }
}

TEST(ModelFailures, EveryInvalidSampleFailsOrLoadsCleanly) {
    for (const fs::directory_entry& entry : fs::directory_iterator(kModels / "invalid")) {
        SCOPED_TRACE(entry.path().string());
        Model model;
        const Loaded loaded = load(entry.path(), &model);
        EXPECT_EQ(lineCount(loaded.err), loaded.ok ? 0 : 1) << loaded.err;
        if (loaded.ok) {
            EXPECT_GT(modelTriangleCount(model), 0u);
        }
    }
}

TEST(ModelTextures, PathsWrittenOnWindowsAreFoundBesideTheModel) {
    const std::string folder = freshFolder("windows_paths");
    fs::create_directories(folder + "/pictures");
    ASSERT_TRUE(cv::imwrite(folder + "/pictures/quadrants.png", quadrantPicture()));
    ASSERT_TRUE(cv::imwrite(folder + "/Bare.png", quadrantPicture()));
    writeSquareObj(folder, "relative", "pictures\\quadrants.png");
    writeSquareObj(folder, "absolute", "C:\\Users\\someone\\models\\Bare.png");
    writeSquareObj(folder, "other_case", "C:\\Users\\someone\\models\\BARE.PNG");
    const cv::Mat expected = bottomUpRgba(folder + "/Bare.png");
    for (const char* name : {"relative", "absolute", "other_case"}) {
        SCOPED_TRACE(name);
        Model model;
        const Loaded loaded = load(folder + "/" + name + ".obj", &model);
        ASSERT_TRUE(loaded.ok) << loaded.err;
        EXPECT_EQ(loaded.err, "");
        ASSERT_EQ(model.meshes[0].texture, 0);
        EXPECT_TRUE(sameTexels(model.textures[0], expected));
    }
}

TEST(ModelTextures, UnreadablePicturesWarnOnceAndLeaveTheMaterialColour) {
    const std::string folder = freshFolder("unreadable");
    writeText(folder + "/broken.png", "not a picture at all");
    writeSquareObj(folder, "missing", "nowhere.png", cv::Vec3f(0.0f, 0.5f, 1.0f));
    writeSquareObj(folder, "broken", "broken.png");
    for (const char* name : {"missing", "broken"}) {
        SCOPED_TRACE(name);
        Model model;
        const Loaded loaded = load(folder + "/" + name + ".obj", &model);
        ASSERT_TRUE(loaded.ok);
        EXPECT_EQ(lineCount(loaded.err), 1) << loaded.err;
        EXPECT_NE(loaded.err.find("drawn in its material colour"), std::string::npos) << loaded.err;
        EXPECT_TRUE(model.textures.empty());
        EXPECT_EQ(model.meshes[0].texture, -1);
    }
    Model model;
    load(folder + "/missing.obj", &model);
    EXPECT_EQ(model.meshes[0].diffuse[1], 0.5f);
    EXPECT_EQ(model.meshes[0].diffuse[2], 1.0f);
}

TEST(ModelTextures, CallersPictureReplacesTheModelsAndFallsBackToColour) {
    const std::string folder = freshFolder("override");
    ASSERT_TRUE(cv::imwrite(folder + "/mine.png", quadrantPicture()));
    const fs::path spider = kModels / "OBJ/spider.obj";
    Model model;
    ASSERT_TRUE(load(spider, &model, folder + "/mine.png").ok);
    ASSERT_EQ(model.textures.size(), 1u);
    EXPECT_TRUE(sameTexels(model.textures[0], bottomUpRgba(folder + "/mine.png")));
    for (const ModelMesh& mesh : model.meshes) EXPECT_EQ(mesh.texture, 0);

    const Loaded missing = load(spider, &model, folder + "/absent.png");
    ASSERT_TRUE(missing.ok);
    EXPECT_EQ(lineCount(missing.err), 1) << missing.err;
    EXPECT_TRUE(model.textures.empty());
    for (const ModelMesh& mesh : model.meshes) EXPECT_EQ(mesh.texture, -1);
}

TEST(ModelTextures, DeepGreyAndOversizedPicturesBecomeEightBitRgba) {
    const std::string folder = freshFolder("picture_kinds");
    ASSERT_TRUE(cv::imwrite(folder + "/deep.png", cv::Mat(2, 2, CV_16UC3, cv::Scalar(0, 65535, 32896))));
    ASSERT_TRUE(cv::imwrite(folder + "/grey.png", cv::Mat(2, 2, CV_8UC1, cv::Scalar(77))));
    ASSERT_TRUE(cv::imwrite(folder + "/wide.png", cv::Mat(10, kMaxModelTextureSide + 904, CV_8UC3, cv::Scalar(1, 2, 3))));
    writeSquareObj(folder, "square", "unused.png");
    Model model;
    ASSERT_TRUE(load(folder + "/square.obj", &model, folder + "/deep.png").ok);
    EXPECT_EQ(std::vector<unsigned char>(model.textures[0].rgba.begin(), model.textures[0].rgba.begin() + 4),
              (std::vector<unsigned char>{128, 255, 0, 255}));
    ASSERT_TRUE(load(folder + "/square.obj", &model, folder + "/grey.png").ok);
    EXPECT_EQ(std::vector<unsigned char>(model.textures[0].rgba.begin(), model.textures[0].rgba.begin() + 4),
              (std::vector<unsigned char>{77, 77, 77, 255}));
    ASSERT_TRUE(load(folder + "/square.obj", &model, folder + "/wide.png").ok);
    EXPECT_EQ(model.textures[0].width, kMaxModelTextureSide);
    EXPECT_EQ(model.textures[0].height, 8);
}

TEST(ModelGeometry, NodeTransformsAreAppliedAndGltfPicturesComeFromDataUris) {
    const std::string folder = freshFolder("gltf_square");
    writeSquareGltf(folder + "/square.gltf", quadrantPicture(), cv::Vec3f(10, 0, -2));
    Model model;
    const Loaded loaded = load(folder + "/square.gltf", &model);
    ASSERT_TRUE(loaded.ok) << loaded.err;
    expectBounds(model, {9, -1, -2}, {11, 1, -2});
    ASSERT_EQ(model.textures.size(), 1u);
    EXPECT_EQ(model.textures[0].source, "embedded #0");
}

TEST(ModelGeometry, PolygonsAreTriangulatedAndMissingNormalsComputed) {
    const std::string folder = freshFolder("polygons");
    writeText(folder + "/polygons.obj",
              "v 0 0 0\nv 1 0 0\nv 1 1 0\nv 0 1 0\nv 2 0 0\nv 3 0 0\nv 3.5 1 0\nv 2.5 2 0\nv 2 1 0\n"
              "f 1 2 3 4\nf 5 6 7 8 9\n");
    Model model;
    ASSERT_TRUE(load(folder + "/polygons.obj", &model).ok);
    EXPECT_EQ(modelTriangleCount(model), 5u);
    for (const ModelMesh& mesh : model.meshes)
        for (std::size_t i = 0; i < mesh.normals.size(); i += 3) {
            EXPECT_NEAR(mesh.normals[i + 2], 1.0f, 1e-6);  // the polygons face +z
        }
}

TEST(ModelGeometry, OnlyClosedOutwardSurfacesAreMarkedClosed) {
    const std::string folder = freshFolder("closed");
    writeCubeObj(folder, "cube", {});
    writeCubeObj(folder, "open", {true, false, false});
    writeCubeObj(folder, "inward", {false, true, false});
    writeCubeObj(folder, "parts", {false, false, true});  // open faces, closed together
    Model model;
    ASSERT_TRUE(load(folder + "/cube.obj", &model).ok);
    EXPECT_TRUE(model.meshes[0].closed);
    ASSERT_TRUE(load(folder + "/open.obj", &model).ok);
    EXPECT_FALSE(model.meshes[0].closed);
    ASSERT_TRUE(load(folder + "/inward.obj", &model).ok);
    EXPECT_FALSE(model.meshes[0].closed);
    ASSERT_TRUE(load(folder + "/parts.obj", &model).ok);
    ASSERT_EQ(model.meshes.size(), 3u);
    for (const ModelMesh& mesh : model.meshes) EXPECT_TRUE(mesh.closed);
}

TEST(ModelGeometry, ModelsBeyondTheOldCapacityLoadWhole) {
    constexpr int kSide = 300;  // a grid of 2 x 300 x 300 = 180,000 triangles
    const std::string folder = freshFolder("large");
    std::ostringstream obj;
    for (int y = 0; y <= kSide; ++y)
        for (int x = 0; x <= kSide; ++x) obj << "v " << x << ' ' << y << " 0\n";
    for (int y = 0; y < kSide; ++y)
        for (int x = 0; x < kSide; ++x) {
            const int a = y * (kSide + 1) + x + 1;
            obj << "f " << a << ' ' << a + 1 << ' ' << a + kSide + 2 << ' ' << a + kSide + 1 << '\n';
        }
    writeText(folder + "/grid.obj", obj.str());
    Model model;
    ASSERT_TRUE(load(folder + "/grid.obj", &model).ok);
    EXPECT_EQ(modelTriangleCount(model), 2u * kSide * kSide);
    expectBounds(model, {0, 0, 0}, {kSide, kSide, 0});
}
