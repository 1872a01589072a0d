// The ship's files as the build writes them: the mesh loads within capacity,
// has the size and axes the viewer draws it with, and its texture tells port
// from starboard.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <memory>
#include <string>
#include <vector>

#include "3dsloader.h"
#include "bitmap.h"

namespace {

const std::string kBin = SHIP_ASSETS_DIR;

std::unique_ptr<obj_type> loadShip() {
    std::unique_ptr<obj_type> ship(new obj_type());
    const std::string path = kBin + "/spaceship.3DS";
    FILE* file = std::fopen(path.c_str(), "rb");
    if (file == nullptr) return nullptr;
    std::fseek(file, 0, SEEK_END);
    const long length = std::ftell(file);
    std::rewind(file);
    const int result = read3DSChunks(ship.get(), file, length, path.c_str(), nullptr);
    std::fclose(file);
    return result ? std::move(ship) : nullptr;
}

BitmapImage loadTexture() {
    std::ifstream in(kBin + "/spaceshiptexture.bmp", std::ios::binary);
    const std::vector<unsigned char> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    BitmapImage image;
    EXPECT_EQ(decodeBitmap(bytes.data(), bytes.size(), "spaceshiptexture.bmp", &image), 1);
    return image;
}

}  // namespace

TEST(ShipAssets, MeshLoadsWithinCapacityWithValidIndexesAndMapping) {
    const auto ship = loadShip();
    ASSERT_NE(ship, nullptr);
    EXPECT_STREQ(ship->name, "spaceship");
    EXPECT_GE(ship->polygon_count, 300);
    EXPECT_LE(ship->polygon_count, kMeshCapacity);
    for (int i = 0; i < ship->polygon_count; ++i) {
        const mesh_polygon& p = ship->polygons[i];
        ASSERT_TRUE(std::max({p.a, p.b, p.c}) < ship->vertex_count && std::min({p.a, p.b, p.c}) >= 0) << i;
    }
    for (int i = 0; i < ship->vertex_count; ++i) {
        const mesh_mapping& m = ship->mapping[i];
        ASSERT_TRUE(m.u >= 0 && m.u <= 1 && m.v >= 0 && m.v <= 1) << i;
    }
}

// At the viewer's scale of 0.02, 100 to 150 units are 2 to 3 board squares.
TEST(ShipAssets, SizeAndAxesMatchTheViewersDrawing) {
    const auto ship = loadShip();
    ASSERT_NE(ship, nullptr);
    const mesh_vertex* begin = ship->vertices;
    const mesh_vertex* end = begin + ship->vertex_count;
    auto byX = [](const mesh_vertex& a, const mesh_vertex& b) { return a.x < b.x; };
    auto byY = [](const mesh_vertex& a, const mesh_vertex& b) { return a.y < b.y; };
    auto byZ = [](const mesh_vertex& a, const mesh_vertex& b) { return a.z < b.z; };
    const mesh_vertex &nose = *std::min_element(begin, end, byY), &tail = *std::max_element(begin, end, byY);
    const mesh_vertex &port = *std::min_element(begin, end, byX), &starboard = *std::max_element(begin, end, byX);
    const mesh_vertex &top = *std::min_element(begin, end, byZ), &bottom = *std::max_element(begin, end, byZ);
    const float length = tail.y - nose.y;
    EXPECT_GE(length, 100);
    EXPECT_LE(length, 150);
    EXPECT_NEAR(nose.x, 0, 0.5);                  // a pointed nose on the centre line at -y
    EXPECT_GT(std::min(port.y, starboard.y), 0);  // wings swept back toward +y
    EXPECT_NEAR(port.x, -starboard.x, 0.5);
    EXPECT_GT(-top.z, 2 * bottom.z);              // the fin and cockpit rise toward -z
    // The reference point lies in the middle third of the ship along every axis.
    EXPECT_LT(std::abs(nose.y + tail.y), length / 3);
    EXPECT_LT(std::abs(port.x + starboard.x), (starboard.x - port.x) / 3);
    EXPECT_LT(std::abs(top.z + bottom.z), (bottom.z - top.z) / 3 * 2);
}

TEST(ShipAssets, TexturePaintsPortRedAndStarboardGreen) {
    const BitmapImage texture = loadTexture();
    ASSERT_GE(texture.width, 256);
    ASSERT_GE(texture.height, 256);
    EXPECT_EQ(texture.width % 4, 0);
    const auto ship = loadShip();
    ASSERT_NE(ship, nullptr);
    auto texel = [&](int vertex) {
        const mesh_mapping& m = ship->mapping[vertex];
        const int x = std::min(texture.width - 1, static_cast<int>(m.u * texture.width));
        const int y = std::min(texture.height - 1, static_cast<int>(m.v * texture.height));
        const unsigned char* p = &texture.rgba[(static_cast<std::size_t>(y) * texture.width + x) * 4];
        return std::vector<int>{p[0], p[1], p[2]};
    };
    int portVertex = 0, starboardVertex = 0;
    for (int i = 0; i < ship->vertex_count; ++i) {
        if (ship->vertices[i].x < ship->vertices[portVertex].x) portVertex = i;
        if (ship->vertices[i].x > ship->vertices[starboardVertex].x) starboardVertex = i;
    }
    const std::vector<int> port = texel(portVertex), starboard = texel(starboardVertex);
    EXPECT_GT(port[0], 2 * std::max(port[1], port[2]));
    EXPECT_GT(starboard[1], 2 * std::max(starboard[0], starboard[2]));
}
