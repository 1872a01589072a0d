// Writers and counters of small model files for the model tests.
#include "model_files.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <limits>
#include <sstream>

#include <opencv2/imgcodecs.hpp>

namespace fs = std::filesystem;

namespace model_files {

namespace {

std::string base64(const std::vector<unsigned char>& bytes) {
    static const char digits[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    std::string text;
    const std::size_t n = bytes.size();
    for (std::size_t i = 0; i < n; i += 3) {
        const unsigned word = bytes[i] << 16 | (i + 1 < n ? bytes[i + 1] << 8 : 0) | (i + 2 < n ? bytes[i + 2] : 0);
        const std::size_t present = std::min<std::size_t>(3, n - i);  // 1 to 3 bytes: 2 to 4 digits
        for (std::size_t k = 0; k < 4; ++k) text += k <= present ? digits[(word >> (18 - 6 * k)) & 63] : '=';
    }
    return text;
}

template <typename T>
void append(std::vector<unsigned char>* bytes, const std::vector<T>& values) {
    const unsigned char* data = reinterpret_cast<const unsigned char*>(values.data());
    bytes->insert(bytes->end(), data, data + values.size() * sizeof(T));
}

const cv::Vec3f kCorners[8] = {{-1, -1, -1}, {1, -1, -1}, {-1, 1, -1}, {1, 1, -1},
                               {-1, -1, 1},  {1, -1, 1},  {-1, 1, 1},  {1, 1, 1}};
// Counter-clockwise seen from outside: +z, -z, +x, -x, +y, -y.
const int kCubeFaces[6][4] = {{4, 5, 7, 6}, {0, 2, 3, 1}, {1, 3, 7, 5}, {0, 4, 6, 2}, {2, 6, 7, 3}, {0, 1, 5, 4}};
const char* const kFaceMaterials[6] = {"red", "green", "blue", "blue", "blue", "blue"};

}  // namespace

std::string freshFolder(const std::string& name) {
    const fs::path folder = fs::path(testing::TempDir()) / ("model_" + name);
    fs::remove_all(folder);
    fs::create_directories(folder);
    return folder.string();
}

void writeText(const std::string& path, const std::string& text) {
    std::ofstream out(path, std::ios::binary);
    out << text;
    EXPECT_TRUE(out.good()) << path;
}

cv::Mat quadrantPicture() {
    cv::Mat picture(64, 64, CV_8UC3);
    picture(cv::Rect(0, 0, 32, 32)).setTo(cv::Scalar(0, 0, 255));
    picture(cv::Rect(32, 0, 32, 32)).setTo(cv::Scalar(0, 255, 0));
    picture(cv::Rect(0, 32, 32, 32)).setTo(cv::Scalar(255, 0, 0));
    picture(cv::Rect(32, 32, 32, 32)).setTo(cv::Scalar(255, 255, 255));
    return picture;
}

void writeSquareObj(const std::string& folder, const std::string& name, const std::string& texture,
                    const cv::Vec3f& kd) {
    std::ostringstream mtl;
    mtl << "newmtl surface\nKd " << kd[0] << ' ' << kd[1] << ' ' << kd[2] << '\n';
    if (!texture.empty()) mtl << "map_Kd " << texture << '\n';
    writeText(folder + "/" + name + ".mtl", mtl.str());
    writeText(folder + "/" + name + ".obj",
              "mtllib " + name + ".mtl\nv -1 -1 0\nv 1 -1 0\nv 1 1 0\nv -1 1 0\n"
              "vt 0 0\nvt 1 0\nvt 1 1\nvt 0 1\nusemtl surface\nf 1/1 2/2 3/3 4/4\n");
}

void writeCubeObj(const std::string& folder, const std::string& name, const CubeOptions& options) {
    std::ostringstream obj;
    obj << "mtllib " << name << ".mtl\n";
    for (const cv::Vec3f& c : kCorners) obj << "v " << c[0] << ' ' << c[1] << ' ' << c[2] << '\n';
    for (int f = 0; f < 6; ++f) {
        if (options.dropTopFace && f == 0) continue;
        obj << "usemtl " << (options.facePerMaterial ? kFaceMaterials[f] : "grey") << "\nf";
        for (int k = 0; k < 4; ++k) obj << ' ' << kCubeFaces[f][options.inward ? 3 - k : k] + 1;
        obj << '\n';
    }
    writeText(folder + "/" + name + ".obj", obj.str());
    writeText(folder + "/" + name + ".mtl",
              "newmtl grey\nKd 0.5 0.5 0.5\nnewmtl red\nKd 1 0 0\nnewmtl green\nKd 0 1 0\nnewmtl blue\nKd 0 0 1\n");
}

// The glTF square's buffer (positions, texture coordinates from the
// picture's top left, two triangles) in a data URI, with its views and
// accessors: the end of the file's JSON.
static std::string squareBufferJson() {
    std::vector<unsigned char> buffer;
    append(&buffer, std::vector<float>{-1, 1, 0, 1, 1, 0, 1, -1, 0, -1, -1, 0});
    append(&buffer, std::vector<float>{0, 0, 1, 0, 1, 1, 0, 1});  // top-left origin
    append(&buffer, std::vector<unsigned short>{0, 2, 1, 0, 3, 2});
    std::ostringstream json;
    json << R"("buffers":[{"byteLength":)" << buffer.size()
         << R"(,"uri":"data:application/octet-stream;base64,)" << base64(buffer) << R"("}],)"
         << R"("bufferViews":[{"buffer":0,"byteOffset":0,"byteLength":48},)"
         << R"({"buffer":0,"byteOffset":48,"byteLength":32},{"buffer":0,"byteOffset":80,"byteLength":12}],)"
         << R"("accessors":[{"bufferView":0,"componentType":5126,"count":4,"type":"VEC3",)"
         << R"("min":[-1,-1,0],"max":[1,1,0]},{"bufferView":1,"componentType":5126,"count":4,"type":"VEC2"},)"
         << R"({"bufferView":2,"componentType":5123,"count":6,"type":"SCALAR"}]})";
    return json.str();
}

void writeSquareGltf(const std::string& path, const cv::Mat& picture, const cv::Vec3f& translation) {
    std::vector<unsigned char> png;
    cv::imencode(".png", picture, png);
    writeSquareGltfWithImage(path, png, "image/png", translation);
}

void writeSquareGltfWithImage(const std::string& path, const std::vector<unsigned char>& image,
                              const std::string& mimeType, const cv::Vec3f& translation) {
    std::ostringstream json;
    json << R"({"asset":{"version":"2.0"},"scene":0,"scenes":[{"nodes":[0]}],)"
         << R"("nodes":[{"mesh":0,"translation":[)" << translation[0] << ',' << translation[1] << ','
         << translation[2] << "]}],"
         << R"("meshes":[{"primitives":[{"attributes":{"POSITION":0,"TEXCOORD_0":1},"indices":2,"material":0}]}],)"
         << R"("materials":[{"pbrMetallicRoughness":{"baseColorTexture":{"index":0},"metallicFactor":0}}],)"
         << R"("textures":[{"source":0}],"images":[{"uri":"data:)" << mimeType << ";base64," << base64(image) << R"("}],)"
         << squareBufferJson();
    writeText(path, json.str());
}

void writeSquareGltfWithMaterial(const std::string& path, const std::string& materialJson,
                                 const std::vector<std::string>& imageFiles) {
    std::ostringstream textures, images;
    for (std::size_t i = 0; i < imageFiles.size(); ++i) {
        textures << (i ? "," : "") << R"({"source":)" << i << '}';
        images << (i ? "," : "") << R"({"uri":")" << imageFiles[i] << R"("})";
    }
    std::ostringstream json;
    json << R"({"asset":{"version":"2.0"},"scene":0,"scenes":[{"nodes":[0]}],"nodes":[{"mesh":0}],)"
         << R"("meshes":[{"primitives":[{"attributes":{"POSITION":0,"TEXCOORD_0":1},"indices":2,"material":0}]}],)"
         << R"("materials":[)" << materialJson << "],";
    if (!imageFiles.empty()) json << R"("textures":[)" << textures.str() << R"(],"images":[)" << images.str() << "],";
    json << squareBufferJson();
    writeText(path, json.str());
}

ObjCounts countObj(const std::string& path) {
    std::ifstream in(path);
    std::vector<cv::Vec3f> positions;
    ObjCounts counts;
    const float inf = std::numeric_limits<float>::infinity();
    counts.low = cv::Vec3f(inf, inf, inf);
    counts.high = -counts.low;
    for (std::string line; std::getline(in, line);) {
        std::istringstream words(line);
        std::string kind;
        words >> kind;
        if (kind == "v") {
            cv::Vec3f p;
            words >> p[0] >> p[1] >> p[2];
            positions.push_back(p);
        } else if (kind == "f") {
            std::vector<cv::Vec3f> corners;
            for (std::string corner; words >> corner;) corners.push_back(positions.at(std::stoul(corner) - 1));
            for (std::size_t k = 2; k < corners.size(); ++k)
                if (corners[0] != corners[k - 1] && corners[k - 1] != corners[k] && corners[k] != corners[0])
                    ++counts.triangles;
            for (const cv::Vec3f& c : corners)
                for (int i = 0; i < 3; ++i) {
                    counts.low[i] = std::min(counts.low[i], c[i]);
                    counts.high[i] = std::max(counts.high[i], c[i]);
                }
        }
    }
    return counts;
}

std::size_t countPlyTriangles(const std::string& path) {
    std::ifstream in(path);
    std::size_t vertices = 0, faces = 0, triangles = 0;
    for (std::string line; std::getline(in, line) && line.rfind("end_header", 0) != 0;) {
        std::istringstream words(line);
        std::string keyword, element;
        words >> keyword >> element;
        if (keyword == "element" && element == "vertex") words >> vertices;
        if (keyword == "element" && element == "face") words >> faces;
    }
    std::string line;
    for (std::size_t v = 0; v < vertices; ++v) std::getline(in, line);
    for (std::size_t f = 0; f < faces && std::getline(in, line); ++f) triangles += std::stoul(line) - 2;
    return triangles;
}

}  // namespace model_files
