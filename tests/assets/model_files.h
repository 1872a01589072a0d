// Small model files written by the model tests: OBJ squares and cubes with
// their MTL, a glTF square with its buffer and picture inside data URIs, the
// four-colour picture that shows a texture's orientation, and counts read
// straight from real OBJ and PLY files.
#ifndef TESTS_ASSETS_MODEL_FILES_H
#define TESTS_ASSETS_MODEL_FILES_H

#include <string>
#include <vector>

#include <opencv2/core.hpp>

namespace model_files {

// An empty folder of its own under the test's temporary folder.
std::string freshFolder(const std::string& name);
void writeText(const std::string& path, const std::string& text);

// 64 x 64, seen upright: red top left, green top right, blue bottom left,
// white bottom right (stored BGR, row 0 at the top).
cv::Mat quadrantPicture();

// The square x, y in [-1, 1], z = 0, facing +z, the picture upright on it
// (texture coordinates 0..1 from its bottom-left corner), with material
// "surface" of diffuse colour kd and map_Kd texture (none if empty).
void writeSquareObj(const std::string& folder, const std::string& name, const std::string& texture,
                    const cv::Vec3f& kd = cv::Vec3f(1, 1, 1));

struct CubeOptions {
    bool dropTopFace = false;     // an open box
    bool inward = false;          // every face wound the wrong way
    bool facePerMaterial = false; // six materials: +z red, -z green, the others blue
};
// The cube [-1, 1]^3 of quads wound counter-clockwise from outside.
void writeCubeObj(const std::string& folder, const std::string& name, const CubeOptions& options);

// The same square as a glTF file whose texture coordinates start at the
// picture's top left, as glTF's do; buffer and picture (PNG) in data URIs;
// its node moved by translation; its material a matte (not metallic) one.
void writeSquareGltf(const std::string& path, const cv::Mat& picture, const cv::Vec3f& translation);
// The same with an encoded picture file of that MIME type in its data URI.
void writeSquareGltfWithImage(const std::string& path, const std::vector<unsigned char>& image,
                              const std::string& mimeType, const cv::Vec3f& translation);

// The same square with materialJson as its one material and the picture
// files named (relative to path's folder) as its images, texture i showing
// image i.
void writeSquareGltfWithMaterial(const std::string& path, const std::string& materialJson,
                                 const std::vector<std::string>& imageFiles);

struct ObjCounts {
    std::size_t triangles = 0;  // fan triangles with three distinct corner positions
    cv::Vec3f low, high;        // of the positions faces use
};
ObjCounts countObj(const std::string& path);
// Sum over the faces of a PLY file (ASCII) of corners minus 2.
std::size_t countPlyTriangles(const std::string& path);

}  // namespace model_files

#endif
