// stb_image.cpp - the one compiled copy of stb_image (Debian's libstb-dev
// header), decoding pictures from memory only: the model loader's
// model_picture.cpp and picture_sides.cpp are its callers, and bound a
// picture's size from its header before decoding it. No file functions:
// pictures arrive as bytes, already bounded. stb_image's own fence on the
// sides (STBI_MAX_DIMENSIONS) stays at its default, above the loader's bound.
//
// Usage (model_picture.cpp):
//     unsigned char* rgba = stbi_load_from_callbacks(&callbacks, &reader, &width, &height, &channels, 4);
#define STB_IMAGE_IMPLEMENTATION
#define STBI_NO_STDIO
#include <stb_image.h>
