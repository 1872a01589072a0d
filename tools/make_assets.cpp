// make_assets.cpp - writes the ship's mesh "spaceship.3DS" and its texture
// "spaceshiptexture.bmp" into a folder.
//
// The ship is built from lofted and swept surfaces: a hull with a cockpit
// bubble, swept wings with winglets, a tail fin and two engine nacelles, about
// two thousand triangles. Mesh units: 120 long, so that the viewer's scale of
// 0.02 makes it 2.4 board squares; nose along -y, top toward -z, right
// (starboard) toward +x, origin in the middle of the ship. Every part has its
// own vertices with texture coordinates into a region of a 512 x 512 atlas,
// painted in mesh coordinates: a grey hull top with a red nose, centre stripe
// and a yellow arrow to the nose, a navy belly, white wings with a red port tip
// and a green starboard tip, glowing exhausts. The mesh file holds the main,
// editor, object, mesh, vertices, faces and mapping chunks plus two version
// chunks; the texture is a bottom-up 24-bit BMP.
//
// Usage:
//     make_assets build/bin
//     ls build/bin/spaceship.3DS build/bin/spaceshiptexture.bmp
#include <cerrno>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include <CLI/CLI.hpp>

#include "3dsloader.h"
#include "command_line.h"

namespace {

constexpr float kPi = 3.14159265f;
constexpr int kTextureSide = 512;  // pixels; a multiple of 4, so BMP rows need no padding
const char* const kMeshFile = "spaceship.3DS";
const char* const kTextureFile = "spaceshiptexture.bmp";

// ---- The texture atlas -------------------------------------------------------

struct Rgb {
    unsigned char r, g, b;
};

// Picture with row 0 at the bottom, the row order of both BMP and OpenGL.
struct Image {
    int width, height;
    std::vector<Rgb> pixels;
};

// A rectangle of the atlas (texture coordinates, v up) and the range of two
// mesh coordinates a, b that it shows: a runs along u, b along v.
struct AtlasMap {
    float u0, v0, u1, v1;
    float aFrom, aTo, bFrom, bTo;
};

mesh_mapping uvOf(const AtlasMap& m, float a, float b) {
    const float s = (a - m.aFrom) / (m.aTo - m.aFrom);
    const float t = (b - m.bFrom) / (m.bTo - m.bFrom);
    return {m.u0 + s * (m.u1 - m.u0), m.v0 + t * (m.v1 - m.v0)};
}

// Paints every texel of the map's rectangle with colourAt(a, b).
template <class ColourAt>
void paint(Image& image, const AtlasMap& m, ColourAt colourAt) {
    const int x0 = static_cast<int>(m.u0 * image.width), x1 = static_cast<int>(m.u1 * image.width);
    const int y0 = static_cast<int>(m.v0 * image.height), y1 = static_cast<int>(m.v1 * image.height);
    for (int y = y0; y < y1; ++y)
        for (int x = x0; x < x1; ++x) {
            const float s = (x + 0.5f - x0) / (x1 - x0), t = (y + 0.5f - y0) / (y1 - y0);
            const float a = m.aFrom + s * (m.aTo - m.aFrom), b = m.bFrom + t * (m.bTo - m.bFrom);
            image.pixels[static_cast<std::size_t>(y) * image.width + x] = colourAt(a, b);
        }
}

// Regions of the atlas, 2 texels inside their quarter or eighth of the picture
// so that filtering does not mix neighbours. Ranges are in mesh units; the
// nose (small y) is at the top of every region.
constexpr float kInset = 2.0f / kTextureSide;
AtlasMap region(float u0, float v0, float u1, float v1, float aFrom, float aTo, float bFrom, float bTo) {
    return {u0 + kInset, v0 + kInset, u1 - kInset, v1 - kInset, aFrom, aTo, bFrom, bTo};
}
const AtlasMap kHullTop = region(0.0f, 0.5f, 0.5f, 1.0f, -11, 11, 56, -66);
const AtlasMap kHullBottom = region(0.5f, 0.5f, 1.0f, 1.0f, -11, 11, 56, -66);
const AtlasMap kWingTop = region(0.0f, 0.0f, 0.5f, 0.5f, -48, 48, 40, -14);
const AtlasMap kWingBottom = region(0.5f, 0.25f, 0.75f, 0.5f, -48, 48, 40, -14);
const AtlasMap kCockpit = region(0.75f, 0.25f, 1.0f, 0.5f, -6, 6, -10, -42);
const AtlasMap kEngine = region(0.5f, 0.0f, 0.75f, 0.25f, 0, 1, 1, 0);  // a: around, b: front to back
const AtlasMap kExhaust = region(0.75f, 0.0f, 1.0f, 0.125f, -1, 1, -1, 1);
const AtlasMap kFin = region(0.75f, 0.125f, 1.0f, 0.25f, 58, 22, -2, -26);  // a: y, b: z

constexpr Rgb kWhite{236, 238, 242}, kLightGrey{196, 200, 208}, kPanelLine{110, 116, 128};
constexpr Rgb kRed{210, 28, 30}, kGreen{24, 190, 50}, kYellow{250, 204, 20}, kBlack{20, 20, 24};
constexpr Rgb kNavy{34, 46, 104}, kNavyLine{70, 90, 160}, kOrange{250, 120, 20}, kBlue{30, 90, 210};

// sin(pi t)^exponent for t in 0..1: 0 at both ends, 1 in the middle. The sine is
// clamped because in single precision sin(pi) is slightly negative.
float bulge(float t, float exponent) { return std::pow(std::fmax(0.0f, std::sin(kPi * t)), exponent); }

bool nearGrid(float value, float spacing, float halfWidth) {
    const float r = std::fabs(std::remainder(value, spacing));
    return r < halfWidth;
}

bool inArrow(float a, float b, float centreA, float tipB, float size) {
    // Arrow pointing to smaller b (the nose): a triangular head and a shaft.
    const float along = b - tipB;
    if (along < 0 || along > 2.2f * size) return false;
    if (along < size) return std::fabs(a - centreA) < along * 0.8f;
    return std::fabs(a - centreA) < size * 0.3f;
}

bool inHazard(float a, float b, float period) { return std::fmod(std::fabs(a + b), period) < period / 2; }

Rgb hullTopColour(float x, float y) {
    if (y < -56) return kRed;                                     // nose cone
    if (inArrow(x, y, 0, -10, 7)) return kYellow;                 // points to the nose
    if (y > 48) return inHazard(x, y, 4) ? kYellow : kBlack;      // tail band
    if (std::fabs(x) < 1.2f) return kRed;                         // centre stripe
    if (std::fabs(x) < 1.8f) return kWhite;
    if (nearGrid(y, 10, 0.35f) || nearGrid(x, 5, 0.2f)) return kPanelLine;
    return kLightGrey;
}

Rgb hullBottomColour(float x, float y) {
    if (y < -50) return kOrange;
    if (std::fabs(x) < 1.5f) return kWhite;
    if (nearGrid(y, 12, 0.4f) || nearGrid(x, 5, 0.25f)) return kNavyLine;
    return kNavy;
}

// The right wing's outline; the left one is its mirror image.
constexpr float kWingRootX = 8, kWingTipX = 46;
float wingLeadingY(float span) { return -6 + 30 * span; }
float wingTrailingY(float span) { return 32 + 4 * span; }

Rgb wingTopColour(float x, float y) {
    const float span = (std::fabs(x) - kWingRootX) / (kWingTipX - kWingRootX);
    if (span > 0.9f) return x < 0 ? kRed : kGreen;                // port red, starboard green
    if (inArrow(std::fabs(x), y, 27, 6, 6)) return kOrange;
    if (y - wingLeadingY(span) < 3) return kBlue;                  // leading edge
    if (wingTrailingY(span) - y < 2) return kPanelLine;
    if (nearGrid(x, 8, 0.3f) || nearGrid(y, 8, 0.3f)) return kPanelLine;
    return kWhite;
}

Rgb wingBottomColour(float x, float y) {
    const float span = (std::fabs(x) - kWingRootX) / (kWingTipX - kWingRootX);
    if (span > 0.9f) return x < 0 ? kRed : kGreen;
    if (span > 0.75f) return inHazard(x, y, 6) ? kYellow : kBlack;
    return nearGrid(y, 8, 0.3f) ? kNavyLine : kNavy;
}

Rgb cockpitColour(float x, float y) {
    if (std::fabs(x + 0.3f * (y + 26) - 1.5f) < 0.6f) return kWhite;  // reflection streak
    const float t = std::fmin(1.0f, std::fabs(x) / 6);
    return Rgb{static_cast<unsigned char>(20 + 40 * t), static_cast<unsigned char>(200 - 120 * t),
               static_cast<unsigned char>(240 - 80 * t)};
}

Rgb engineColour(float around, float along) {
    if (along < 0.08f) return kLightGrey;                         // intake lip
    if (along > 0.82f) return kOrange;                            // nozzle
    if (std::fabs(along - 0.3f) < 0.04f || std::fabs(along - 0.6f) < 0.04f) return kOrange;
    return nearGrid(around, 0.125f, 0.01f) ? kPanelLine : Rgb{72, 74, 84};
}

Rgb exhaustColour(float a, float b) {
    const float r = std::sqrt(a * a + b * b);
    if (r < 0.35f) return Rgb{255, 250, 200};
    if (r < 0.7f) return Rgb{255, 190, 40};
    return Rgb{240, 90, 10};
}

Rgb finColour(float y, float z) {
    if (z < -21) return kYellow;
    if (std::fabs(y - 0.9f * z - 60) < 2.5f) return kWhite;
    return kRed;
}

Image paintTexture() {
    Image image{kTextureSide, kTextureSide, {}};
    image.pixels.assign(static_cast<std::size_t>(kTextureSide) * kTextureSide, kBlack);
    paint(image, kHullTop, hullTopColour);
    paint(image, kHullBottom, hullBottomColour);
    paint(image, kWingTop, wingTopColour);
    paint(image, kWingBottom, wingBottomColour);
    paint(image, kCockpit, cockpitColour);
    paint(image, kEngine, engineColour);
    paint(image, kExhaust, exhaustColour);
    paint(image, kFin, finColour);
    return image;
}

// ---- The mesh ----------------------------------------------------------------

struct Mesh {
    std::vector<mesh_vertex> vertices;
    std::vector<mesh_mapping> mapping;
    std::vector<mesh_polygon> polygons;
};

struct TexturedPoint {
    mesh_vertex p;
    mesh_mapping uv;
};

// Leaves out triangles with no area (the tip of a cone, a collapsed edge).
void addTriangle(Mesh& mesh, int a, int b, int c) {
    const mesh_vertex &p = mesh.vertices[a], &q = mesh.vertices[b], &r = mesh.vertices[c];
    const float ux = q.x - p.x, uy = q.y - p.y, uz = q.z - p.z;
    const float vx = r.x - p.x, vy = r.y - p.y, vz = r.z - p.z;
    const float cx = uy * vz - uz * vy, cy = uz * vx - ux * vz, cz = ux * vy - uy * vx;
    if (cx * cx + cy * cy + cz * cz < 1e-8f) return;
    mesh.polygons.push_back({a, b, c});
}

// A grid of (rows + 1) x (cols + 1) vertices given by at(i, j), two triangles a cell.
template <class PointAt>
void addPatch(Mesh& mesh, int rows, int cols, PointAt at) {
    const int first = static_cast<int>(mesh.vertices.size());
    for (int i = 0; i <= rows; ++i)
        for (int j = 0; j <= cols; ++j) {
            const TexturedPoint tp = at(i, j);
            mesh.vertices.push_back(tp.p);
            mesh.mapping.push_back(tp.uv);
        }
    for (int i = 0; i < rows; ++i)
        for (int j = 0; j < cols; ++j) {
            const int k = first + i * (cols + 1) + j;
            addTriangle(mesh, k, k + cols + 1, k + 1);
            addTriangle(mesh, k + 1, k + cols + 1, k + cols + 2);
        }
}

// A disc in a plane y = constant, shown as the exhaust glow: bright centre, orange rim.
void addExhaustDisc(Mesh& mesh, float cx, float y, float cz, float radiusX, float radiusZ) {
    constexpr int kSegments = 16;
    addPatch(mesh, 1, kSegments, [&](int i, int j) {
        const float angle = 2 * kPi * j / kSegments, r = static_cast<float>(i);
        const float ca = std::cos(angle), sa = std::sin(angle);
        return TexturedPoint{{cx + r * radiusX * ca, y, cz + r * radiusZ * sa},
                             uvOf(kExhaust, 0.9f * r * ca, 0.9f * r * sa)};
    });
}

constexpr float kNoseY = -64, kTailY = 52;  // hull ends, mesh units

// Half width and the heights above and below the hull's centre line at
// t = 0 (nose) to 1 (tail): an elliptical nose, a long body, a slight taper.
float hullNose(float t) {
    const float s = std::fmin(1.0f, t / 0.38f);
    return std::sqrt(1 - (1 - s) * (1 - s));
}
float hullTaper(float t) { return 1 - 0.25f * std::fmax(0.0f, (t - 0.7f) / 0.3f); }
float hullHalfWidth(float t) { return 10 * hullNose(t) * hullTaper(t); }
float hullTopHeight(float t) { return 7 * hullNose(t) * hullTaper(t); }
float hullBottomHeight(float t) { return 5 * hullNose(t) * hullTaper(t); }

// Superellipse half-section: angle 0..pi from the starboard to the port side.
void addHullHalf(Mesh& mesh, bool top) {
    constexpr int kStations = 16, kSegments = 12;
    addPatch(mesh, kStations, kSegments, [&](int i, int j) {
        const float t = static_cast<float>(i) / kStations, angle = kPi * j / kSegments;
        const float c = std::cos(angle);
        const float x = hullHalfWidth(t) * std::copysign(std::pow(std::fabs(c), 0.7f), c);
        const float lift = bulge(static_cast<float>(j) / kSegments, 0.7f) *
                           (top ? -hullTopHeight(t) : hullBottomHeight(t));
        const float y = kNoseY + t * (kTailY - kNoseY);
        return TexturedPoint{{x, y, lift}, uvOf(top ? kHullTop : kHullBottom, x, y)};
    });
}

void addCockpit(Mesh& mesh) {
    constexpr float kCentreY = -26, kBaseZ = -4.5f, kRadiusX = 5, kRadiusY = 14, kRadiusZ = 7;
    constexpr int kRings = 6, kSegments = 16;
    addPatch(mesh, kRings, kSegments, [&](int i, int j) {
        const float latitude = 0.5f * kPi * i / kRings, angle = 2 * kPi * j / kSegments;
        const float ring = std::cos(latitude);
        const float x = kRadiusX * ring * std::cos(angle), y = kCentreY + kRadiusY * ring * std::sin(angle);
        return TexturedPoint{{x, y, kBaseZ - kRadiusZ * std::sin(latitude)}, uvOf(kCockpit, x, y)};
    });
}

constexpr float kWingZ = 1.5f;  // the wings' middle plane, a little below the centre line

float wingHalfThickness(float span, float chord) {
    return (1.8f - 1.2f * span) * bulge(chord, 0.6f);
}

mesh_vertex wingPoint(float side, float span, float chord, float thicknessSign) {
    const float y = wingLeadingY(span) + chord * (wingTrailingY(span) - wingLeadingY(span));
    const float x = side * (kWingRootX + span * (kWingTipX - kWingRootX));
    return {x, y, kWingZ + thicknessSign * wingHalfThickness(span, chord)};
}

// One wing (side +1 starboard, -1 port): top and bottom skins meeting at the
// leading and trailing edges, and a winglet at the tip painted in the tip's colour.
void addWing(Mesh& mesh, float side) {
    constexpr int kSpanSteps = 10, kChordSteps = 6;
    for (float sign : {-1.0f, 1.0f})
        addPatch(mesh, kSpanSteps, kChordSteps, [&](int i, int j) {
            const mesh_vertex p = wingPoint(side, static_cast<float>(i) / kSpanSteps,
                                            static_cast<float>(j) / kChordSteps, sign);
            return TexturedPoint{p, uvOf(sign < 0 ? kWingTop : kWingBottom, p.x, p.y)};
        });
    // The winglet rises from the tip's chord to a shorter, swept top edge.
    constexpr float kWingletTopZ = -9;
    for (float offset : {-0.6f, 0.6f})
        addPatch(mesh, 1, kChordSteps, [&](int i, int j) {
            const float chord = static_cast<float>(j) / kChordSteps;
            mesh_vertex p = wingPoint(side, 1.0f, chord, 0);
            if (i == 1) p = {p.x, wingLeadingY(1) + 6 + chord * 7, kWingletTopZ};
            p.x += offset;
            return TexturedPoint{p, uvOf(kWingTop, side * (kWingTipX - 1), p.y)};
        });
}

void addTailFin(Mesh& mesh) {
    constexpr float kRootFront = 24, kRootBack = 50, kTipFront = 42, kTipBack = 55;
    constexpr float kRootZ = -5, kTipZ = -24;
    constexpr int kSteps = 4;
    for (float side : {-1.0f, 1.0f})
        addPatch(mesh, kSteps, kSteps, [&](int i, int j) {
            const float h = static_cast<float>(i) / kSteps, c = static_cast<float>(j) / kSteps;
            const float front = kRootFront + h * (kTipFront - kRootFront);
            const float y = front + c * (kRootBack + h * (kTipBack - kRootBack) - front);
            const float z = kRootZ + h * (kTipZ - kRootZ);
            const float x = side * (1.0f - 0.6f * h) * bulge(c, 0.6f);
            return TexturedPoint{{x, y, z}, uvOf(kFin, y, z)};
        });
}

// A nacelle along y: an intake lip, a body, a nozzle that flares, then the glow.
void addEngine(Mesh& mesh, float centreX) {
    constexpr float kCentreZ = 3.5f;
    constexpr int kStations = 6, kSegments = 16;
    const float stationY[kStations] = {8, 9.5f, 14, 44, 50, 56};
    const float radius[kStations] = {3.0f, 4.3f, 4.6f, 4.6f, 4.0f, 5.0f};
    addPatch(mesh, kStations - 1, kSegments, [&](int i, int j) {
        const float angle = 2 * kPi * j / kSegments;
        const float along = (stationY[i] - stationY[0]) / (stationY[kStations - 1] - stationY[0]);
        return TexturedPoint{{centreX + radius[i] * std::cos(angle), stationY[i],
                              kCentreZ + radius[i] * std::sin(angle)},
                             uvOf(kEngine, static_cast<float>(j) / kSegments, along)};
    });
    addExhaustDisc(mesh, centreX, 55, kCentreZ, 4.6f, 4.6f);
    addExhaustDisc(mesh, centreX, 8.5f, kCentreZ, 3.0f, 3.0f);  // the intake, seen from the front
}

Mesh buildShip() {
    Mesh mesh;
    addHullHalf(mesh, true);
    addHullHalf(mesh, false);
    const float tailWidth = hullHalfWidth(1), tailHeight = 0.5f * (hullTopHeight(1) + hullBottomHeight(1));
    addExhaustDisc(mesh, 0, kTailY, 0.5f * (hullBottomHeight(1) - hullTopHeight(1)), tailWidth, tailHeight);
    addCockpit(mesh);
    addWing(mesh, 1);
    addWing(mesh, -1);
    addTailFin(mesh);
    addEngine(mesh, 15);
    addEngine(mesh, -15);
    return mesh;
}

// ---- Files -------------------------------------------------------------------

using Bytes = std::vector<unsigned char>;

void putU16(Bytes& out, unsigned value) {
    out.push_back(value & 0xFF);
    out.push_back((value >> 8) & 0xFF);
}
void putU32(Bytes& out, std::uint32_t value) {
    putU16(out, value & 0xFFFF);
    putU16(out, value >> 16);
}
void putFloat(Bytes& out, float value) {
    std::uint32_t bits;
    std::memcpy(&bits, &value, sizeof bits);
    putU32(out, bits);
}

// A chunk: identifier, length of the whole chunk with its 6-byte header, body.
Bytes chunk(unsigned id, const Bytes& body) {
    Bytes out;
    putU16(out, id);
    putU32(out, static_cast<std::uint32_t>(body.size() + 6));
    out.insert(out.end(), body.begin(), body.end());
    return out;
}
Bytes join(std::initializer_list<Bytes> parts) {
    Bytes out;
    for (const Bytes& part : parts) out.insert(out.end(), part.begin(), part.end());
    return out;
}

Bytes vertexChunk(const Mesh& mesh) {
    Bytes body;
    putU16(body, static_cast<unsigned>(mesh.vertices.size()));
    for (const mesh_vertex& v : mesh.vertices) {
        putFloat(body, v.x);
        putFloat(body, v.y);
        putFloat(body, v.z);
    }
    return chunk(0x4110, body);
}

Bytes faceChunk(const Mesh& mesh) {
    constexpr unsigned kFaceFlags = 0x7;  // all three edges visible
    Bytes body;
    putU16(body, static_cast<unsigned>(mesh.polygons.size()));
    for (const mesh_polygon& p : mesh.polygons) {
        putU16(body, p.a);
        putU16(body, p.b);
        putU16(body, p.c);
        putU16(body, kFaceFlags);
    }
    return chunk(0x4120, body);
}

Bytes mappingChunk(const Mesh& mesh) {
    Bytes body;
    putU16(body, static_cast<unsigned>(mesh.mapping.size()));
    for (const mesh_mapping& m : mesh.mapping) {
        putFloat(body, m.u);
        putFloat(body, m.v);
    }
    return chunk(0x4140, body);
}

// Main chunk > file version, editor > mesh version, object "spaceship" > mesh >
// vertices, faces, mapping. The two version chunks are skipped by the loader.
Bytes encodeMesh(const Mesh& mesh) {
    Bytes version, name = {'s', 'p', 'a', 'c', 'e', 's', 'h', 'i', 'p', 0};
    putU32(version, 3);
    const Bytes meshChunk = chunk(0x4100, join({vertexChunk(mesh), faceChunk(mesh), mappingChunk(mesh)}));
    const Bytes object = chunk(0x4000, join({name, meshChunk}));
    const Bytes editor = chunk(0x3D3D, join({chunk(0x3D3E, version), object}));
    return chunk(0x4D4D, join({chunk(0x0002, version), editor}));
}

Bytes encodeBitmap(const Image& image) {
    const std::uint32_t rowBytes = (image.width * 3 + 3) / 4 * 4, pixelBytes = rowBytes * image.height;
    constexpr std::uint32_t kHeaderBytes = 14 + 40;
    Bytes out = {'B', 'M'};
    putU32(out, kHeaderBytes + pixelBytes);
    putU32(out, 0);
    putU32(out, kHeaderBytes);
    putU32(out, 40);
    putU32(out, image.width);
    putU32(out, image.height);  // positive: bottom row first
    putU16(out, 1);
    putU16(out, 24);
    for (int i = 0; i < 6; ++i) putU32(out, 0);  // no compression, default resolution and palette
    for (int y = 0; y < image.height; ++y) {
        for (int x = 0; x < image.width; ++x) {
            const Rgb& c = image.pixels[static_cast<std::size_t>(y) * image.width + x];
            out.insert(out.end(), {c.b, c.g, c.r});
        }
        out.resize(out.size() + rowBytes - image.width * 3, 0);
    }
    return out;
}

bool writeFile(const std::string& path, const Bytes& bytes) {
    FILE* file = std::fopen(path.c_str(), "wb");
    bool ok = file != nullptr && std::fwrite(bytes.data(), 1, bytes.size(), file) == bytes.size();
    if (file != nullptr && std::fclose(file) != 0) ok = false;
    if (!ok) std::fprintf(stderr, "make_assets: %s: cannot write (%s)\n", path.c_str(), std::strerror(errno));
    return ok;
}

}  // namespace

int main(int argc, char** argv) {
    std::string folder;
    CLI::App app{std::string("Writes the ship's mesh ") + kMeshFile + " and texture " + kTextureFile + " into FOLDER.",
                 "make_assets"};
    setUpCommandLine(&app);
    app.add_option("FOLDER", folder, "an existing folder")->required();
    CommandLineOutcome outcome = parseCommandLine(&app, argc, argv);
    if (!outcome.run) return outcome.status;
    const Mesh ship = buildShip();
    if (ship.vertices.size() > kMeshCapacity || ship.polygons.size() > kMeshCapacity) {
        std::fprintf(stderr, "make_assets: ship has %zu vertices and %zu triangles, above %d\n",
                     ship.vertices.size(), ship.polygons.size(), kMeshCapacity);
        return 1;
    }
    if (!writeFile(folder + "/" + kMeshFile, encodeMesh(ship)) ||
        !writeFile(folder + "/" + kTextureFile, encodeBitmap(paintTexture())))
        return 1;
    std::printf("make_assets: %zu vertices, %zu triangles, %d x %d texture\n", ship.vertices.size(),
                ship.polygons.size(), kTextureSide, kTextureSide);
    return 0;
}
