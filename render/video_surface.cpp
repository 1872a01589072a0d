// video_surface.cpp - the pixel buffer into the framebuffer by a texture and a blit.
#include "video_surface.h"

#define GL_GLEXT_PROTOTYPES
#include <GL/gl.h>

#include <opencv2/imgproc.hpp>

namespace {

struct VideoSurface {
    GLuint texture;
    GLuint framebuffer;  // the texture as a framebuffer to copy from
    cv::Mat bottomUp;    // BGRA, the frame's last stored row first
};
VideoSurface surface = {};

}  // namespace

void setUpVideoBackground(int width, int height) {
    surface.bottomUp.create(height, width, CV_8UC4);
    glGenTextures(1, &surface.texture);
    glBindTexture(GL_TEXTURE_2D, surface.texture);
    glTexImage2D(GL_TEXTURE_2D, 0, GL_RGBA8, width, height, 0, GL_BGRA, GL_UNSIGNED_BYTE, nullptr);
    glBindTexture(GL_TEXTURE_2D, 0);
    GLint previous = 0;
    glGetIntegerv(GL_READ_FRAMEBUFFER_BINDING, &previous);
    glGenFramebuffers(1, &surface.framebuffer);
    glBindFramebuffer(GL_READ_FRAMEBUFFER, surface.framebuffer);
    glFramebufferTexture2D(GL_READ_FRAMEBUFFER, GL_COLOR_ATTACHMENT0, GL_TEXTURE_2D, surface.texture, 0);
    glBindFramebuffer(GL_READ_FRAMEBUFFER, previous);
}

// Stored row 0 goes to the window's top row. The copy writes colour only:
// the picture covers everything while the depth buffer keeps what was drawn.
void drawVideoBackground(const unsigned char* pixels, int w, int h) {
    for (int r = 0; r < h; ++r) {
        cv::Mat row(1, w, CV_8UC3, const_cast<unsigned char*>(pixels) + static_cast<size_t>(r) * w * 3);
        cv::Mat turned = surface.bottomUp.row(h - 1 - r);
        cv::cvtColor(row, turned, cv::COLOR_BGR2BGRA);
    }
    glPixelStorei(GL_UNPACK_ALIGNMENT, 1);
    glBindTexture(GL_TEXTURE_2D, surface.texture);
    glTexSubImage2D(GL_TEXTURE_2D, 0, 0, 0, w, h, GL_BGRA, GL_UNSIGNED_BYTE, surface.bottomUp.data);
    glBindTexture(GL_TEXTURE_2D, 0);
    GLint previous = 0;
    glGetIntegerv(GL_READ_FRAMEBUFFER_BINDING, &previous);
    glBindFramebuffer(GL_READ_FRAMEBUFFER, surface.framebuffer);
    glBlitFramebuffer(0, 0, w, h, 0, 0, w, h, GL_COLOR_BUFFER_BIT, GL_NEAREST);
    glBindFramebuffer(GL_READ_FRAMEBUFFER, previous);
}
