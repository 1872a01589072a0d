// texture.cpp - reads a BMP file, decodes it (bitmap.h) and uploads it to
// OpenGL with its mipmaps (see texture.h for the names and the GL state set).
//
// Usage:
//     object.texture_id = LoadBitmapA(path);
//     glBindTexture(GL_TEXTURE_2D, object.texture_id);
#include "texture.h"

#include <GL/gl.h>
#include <GL/glu.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <vector>

#include "bitmap.h"
#include "file_length.h"

int num_textura = -1;

namespace {

// Larger files cannot be a BMP of at most 16384 x 16384 24-bit pixels.
constexpr long long kMaxBitmapFileBytes = 1LL << 30;

bool readWholeFile(const char* path, std::vector<unsigned char>* bytes) {
    FILE* file = std::fopen(path, "rb");
    if (file == nullptr) {
        std::fprintf(stderr, "texture: %s: cannot open (%s)\n", path, std::strerror(errno));
        return false;
    }
    const long long length = fileLength(fileno(file));
    bool ok = false;
    if (length < 0)
        std::fprintf(stderr, "texture: %s: not a regular file\n", path);
    else if (length > kMaxBitmapFileBytes)
        std::fprintf(stderr, "texture: %s: too large for a texture\n", path);
    else {
        bytes->resize(static_cast<std::size_t>(length));
        ok = std::fread(bytes->data(), 1, bytes->size(), file) == bytes->size();
        if (!ok) std::fprintf(stderr, "texture: %s: read error\n", path);
    }
    std::fclose(file);
    return ok;
}

void uploadTexture(GLuint name, const BitmapImage& image) {
    glBindTexture(GL_TEXTURE_2D, name);
    glTexParameterf(GL_TEXTURE_2D, GL_TEXTURE_WRAP_S, GL_REPEAT);
    glTexParameterf(GL_TEXTURE_2D, GL_TEXTURE_WRAP_T, GL_REPEAT);
    glTexParameterf(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, GL_LINEAR);
    glTexParameterf(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, GL_LINEAR_MIPMAP_NEAREST);
    glTexEnvf(GL_TEXTURE_ENV, GL_TEXTURE_ENV_MODE, GL_REPLACE);
    glTexImage2D(GL_TEXTURE_2D, 0, 4, image.width, image.height, 0, GL_RGBA,
                 GL_UNSIGNED_BYTE, image.rgba.data());
    gluBuild2DMipmaps(GL_TEXTURE_2D, 4, image.width, image.height, GL_RGBA,
                      GL_UNSIGNED_BYTE, image.rgba.data());
}

}  // namespace

int LoadBitmapA(char* path) {
    ++num_textura;
    std::vector<unsigned char> bytes;
    BitmapImage image;
    if (!readWholeFile(path, &bytes) || !decodeBitmap(bytes.data(), bytes.size(), path, &image))
        return -1;
    uploadTexture(static_cast<GLuint>(num_textura), image);
    return num_textura;
}
