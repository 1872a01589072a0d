// The video's two ways into the frame give the same pixels: a picture of
// odd width (rows not whole words) copied, and drawn through every texture
// of the ring and round again, lands row 0 at the top, every byte as
// given, the depth already drawn untouched and the GL state as it was.
#include <gtest/gtest.h>

#define GL_GLEXT_PROTOTYPES
#include <GL/gl.h>

#include <random>
#include <vector>

#include "offscreen_gl.h"
#include "video_surface.h"

namespace {

constexpr int kWidth = 161, kHeight = 97;
constexpr float kDepthDrawn = 0.25f;

std::vector<unsigned char> randomPicture(unsigned seed) {
    std::mt19937 random(seed);
    std::vector<unsigned char> bgr(static_cast<size_t>(kWidth) * kHeight * 3);
    for (unsigned char& v : bgr) v = static_cast<unsigned char>(random() & 0xff);
    return bgr;
}

// What the frame loop leaves before the video: another colour, and depth.
void clearWithDepth() {
    glClearColor(0.5f, 0.1f, 0.9f, 1.0f);
    glClearDepth(kDepthDrawn);
    glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
    glClearDepth(1.0);
}

// Mismatches between the framebuffer and the picture (stored row 0 on top),
// and pixels whose depth changed.
void expectPicture(const std::vector<unsigned char>& bgr, const char* way) {
    std::vector<unsigned char> read(static_cast<size_t>(kWidth) * kHeight * 4);
    std::vector<float> depth(static_cast<size_t>(kWidth) * kHeight);
    glPixelStorei(GL_PACK_ALIGNMENT, 1);
    glReadPixels(0, 0, kWidth, kHeight, GL_BGRA, GL_UNSIGNED_BYTE, read.data());
    glReadPixels(0, 0, kWidth, kHeight, GL_DEPTH_COMPONENT, GL_FLOAT, depth.data());
    int wrong = 0, moved = 0;
    for (int row = 0; row < kHeight; ++row)
        for (int x = 0; x < kWidth; ++x) {
            const unsigned char* want = &bgr[(static_cast<size_t>(row) * kWidth + x) * 3];
            const unsigned char* got = &read[(static_cast<size_t>(kHeight - 1 - row) * kWidth + x) * 4];
            wrong += got[0] != want[0] || got[1] != want[1] || got[2] != want[2] || got[3] != 255;
            moved += std::abs(depth[static_cast<size_t>(row) * kWidth + x] - kDepthDrawn) > 1e-6f;
        }
    EXPECT_EQ(wrong, 0) << way;
    EXPECT_EQ(moved, 0) << way << ": the depth drawn before the video must stay";
}

}  // namespace

TEST(VideoSurface, CopiedAndDrawnGiveThePictureExactlyAndKeepTheDepthAndState) {
    setUpVideoBackground(kWidth, kHeight);
    glViewport(3, 4, 50, 60);  // the caller's, to be left as found
    glEnable(GL_DEPTH_TEST);
    glEnable(GL_BLEND);
    glBlendFunc(GL_ONE, GL_ONE);
    glPixelStorei(GL_UNPACK_ALIGNMENT, 4);
    const int rounds = 2 * videoTextureCount(kWidth, kHeight) + 1;
    for (int frame = 0; frame < rounds; ++frame)
        for (VideoWay way : {VideoWay::kCopied, VideoWay::kDrawn}) {
            const std::vector<unsigned char> picture = randomPicture(static_cast<unsigned>(2 * frame + (way == VideoWay::kDrawn)));
            clearWithDepth();
            setVideoWay(way);
            drawVideoBackground(picture.data(), kWidth, kHeight);
            expectPicture(picture, way == VideoWay::kDrawn ? "drawn" : "copied");
        }
    GLint viewport[4], alignment = 0, texture = -1;
    glGetIntegerv(GL_VIEWPORT, viewport);
    glGetIntegerv(GL_UNPACK_ALIGNMENT, &alignment);
    glGetIntegerv(GL_TEXTURE_BINDING_2D, &texture);
    EXPECT_EQ(viewport[0], 3);
    EXPECT_EQ(viewport[3], 60);
    EXPECT_EQ(alignment, 4);
    EXPECT_EQ(texture, 0);
    EXPECT_TRUE(glIsEnabled(GL_DEPTH_TEST));
    EXPECT_TRUE(glIsEnabled(GL_BLEND));
    EXPECT_FALSE(glIsEnabled(GL_TEXTURE_2D));
    GLboolean depthWrites = GL_FALSE;
    glGetBooleanv(GL_DEPTH_WRITEMASK, &depthWrites);
    EXPECT_TRUE(depthWrites);
    EXPECT_EQ(glGetError(), static_cast<GLenum>(GL_NO_ERROR));
}

TEST(VideoSurface, TheRingHoldsEightSmallPicturesAndFewerLargeOnesButTwoAtLeast) {
    EXPECT_EQ(videoTextureCount(640, 480), kMaxVideoTextures);
    EXPECT_EQ(videoTextureCount(1920, 1080), kMaxVideoTextures);
    EXPECT_EQ(videoTextureCount(3840, 2160), 2);
    EXPECT_EQ(videoTextureCount(8192, 8192), 2);
}

int main(int argc, char** argv) {
    ::testing::InitGoogleTest(&argc, argv);
    OffscreenGL gl;
    if (!createOffscreenGL(kWidth, kHeight, &gl)) return 1;
    int result = RUN_ALL_TESTS();
    destroyOffscreenGL(&gl);
    return result;
}
