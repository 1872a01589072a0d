// Texture upload in a real OpenGL context: names from the call counter, the
// picture read back from GL, the parameters, the environment and the mipmaps.
// Runs under Xvfb (see CMakeLists.txt); without a display it fails.
#include <GL/glut.h>
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "bmp_files.h"
#include "texture.h"

using namespace bmp_files;

namespace {

std::string writeTemp(const Bytes& bytes, const std::string& name) {
    const std::string path = testing::TempDir() + "texture_gl_" + name;
    EXPECT_TRUE(writeFile(path, bytes));
    return path;
}

int load(std::string path) {
    testing::internal::CaptureStderr();
    const int name = LoadBitmapA(&path[0]);
    testing::internal::GetCapturedStderr();
    return name;
}

GLint boundTexture() {
    GLint name = -1;
    glGetIntegerv(GL_TEXTURE_BINDING_2D, &name);
    return name;
}

std::vector<unsigned char> readLevel(int level, int pixels) {
    std::vector<unsigned char> rgba(static_cast<std::size_t>(pixels) * 4, 0);
    glPixelStorei(GL_PACK_ALIGNMENT, 1);
    glGetTexImage(GL_TEXTURE_2D, level, GL_RGBA, GL_UNSIGNED_BYTE, rgba.data());
    return rgba;
}

GLint levelWidth(int level) {
    GLint width = 0;
    glGetTexLevelParameteriv(GL_TEXTURE_2D, level, GL_TEXTURE_WIDTH, &width);
    return width;
}

GLint textureParameter(GLenum parameter) {
    GLint value = 0;
    glGetTexParameteriv(GL_TEXTURE_2D, parameter, &value);
    return value;
}

}  // namespace

TEST(TextureUpload, FirstTextureIsName0AndReadsBackWithItsState) {
    num_textura = -1;
    ASSERT_EQ(load(writeTemp(blueGreenRedWhite(), "bgrw.bmp")), 0);
    EXPECT_EQ(boundTexture(), 0);
    EXPECT_EQ(readLevel(0, 4), (std::vector<unsigned char>{0, 0, 255, 255, 0, 255, 0, 255,
                                                           255, 0, 0, 255, 255, 255, 255, 255}));
    EXPECT_EQ(levelWidth(1), 2);
    EXPECT_EQ(levelWidth(2), 1);  // the mipmaps down to one texel
    EXPECT_EQ(textureParameter(GL_TEXTURE_WRAP_S), GL_REPEAT);
    EXPECT_EQ(textureParameter(GL_TEXTURE_WRAP_T), GL_REPEAT);
    EXPECT_EQ(textureParameter(GL_TEXTURE_MAG_FILTER), GL_LINEAR);
    EXPECT_EQ(textureParameter(GL_TEXTURE_MIN_FILTER), GL_LINEAR_MIPMAP_NEAREST);
    GLint mode = 0;
    glGetTexEnviv(GL_TEXTURE_ENV, GL_TEXTURE_ENV_MODE, &mode);
    EXPECT_EQ(mode, GL_REPLACE);
    EXPECT_EQ(glGetError(), static_cast<GLenum>(GL_NO_ERROR));
}

TEST(TextureUpload, SecondTextureIsName1AndKeepsTheFirst) {
    num_textura = -1;
    ASSERT_EQ(load(writeTemp(blueGreenRedWhite(), "first.bmp")), 0);
    ASSERT_EQ(load(writeTemp(makeBmp(2, -2, {{0, 0, 255, 0, 255, 0}, {255, 0, 0, 255, 255, 255}}), "second.bmp")), 1);
    EXPECT_EQ(boundTexture(), 1);
    // Stored top-down as red, green over blue, white: uploaded bottom row first.
    EXPECT_EQ(readLevel(0, 4), (std::vector<unsigned char>{0, 0, 255, 255, 255, 255, 255, 255,
                                                           255, 0, 0, 255, 0, 255, 0, 255}));
    glBindTexture(GL_TEXTURE_2D, 0);
    EXPECT_EQ(levelWidth(0), 4);
}

TEST(TextureUpload, FailedCallsUseUpANameAndMakeNoGLCall) {
    num_textura = -1;
    glBindTexture(GL_TEXTURE_2D, 5);
    EXPECT_EQ(load(testing::TempDir() + "texture_gl_missing.bmp"), -1);
    Options eightBit;
    eightBit.bitsPerPixel = 8;
    EXPECT_EQ(load(writeTemp(makeBmp(4, 1, {Bytes(4, 0)}, eightBit), "eight_bit.bmp")), -1);
    EXPECT_EQ(boundTexture(), 5);
    EXPECT_EQ(num_textura, 1);
    EXPECT_EQ(load(writeTemp(blueGreenRedWhite(), "after_failure.bmp")), 2);
    EXPECT_EQ(boundTexture(), 2);
}

int main(int argc, char** argv) {
    testing::InitGoogleTest(&argc, argv);
    const char* display = std::getenv("DISPLAY");
    if (display == nullptr || display[0] == '\0') {
        std::fprintf(stderr, "texture GL test: no X display (DISPLAY unset); run it under xvfb-run\n");
        return 1;
    }
    glutInit(&argc, argv);  // ends the process with status 1 if the display cannot be opened
    glutInitDisplayMode(GLUT_RGBA | GLUT_DOUBLE | GLUT_DEPTH);
    glutInitWindowSize(64, 64);
    glutCreateWindow("texture test");
    return RUN_ALL_TESTS();
}
