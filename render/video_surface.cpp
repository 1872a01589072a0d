// video_surface.cpp - the pixel buffer into the framebuffer, copied from a
// texture or drawn from a ring of them.
#include "video_surface.h"

#define GL_GLEXT_PROTOTYPES
#include <GL/gl.h>

#include <algorithm>

#include <opencv2/imgproc.hpp>

#include "picture.h"

namespace {

struct VideoSurface {
    GLuint texture;      // the copy's
    GLuint framebuffer;  // the texture as a framebuffer to copy from
    GLuint ring[kMaxVideoTextures];  // the drawn way's, made when first drawn
    int ringCount;
    int next;  // the ring's texture the coming frame goes into
    VideoWay way;
    int width, height;
    cv::Mat bottomUp;  // BGRA, the frame's last stored row first
};
VideoSurface surface = {};

GLuint newVideoTexture(int width, int height) {
    GLuint name = 0;
    glGenTextures(1, &name);
    glBindTexture(GL_TEXTURE_2D, name);
    glTexImage2D(GL_TEXTURE_2D, 0, GL_RGBA8, width, height, 0, GL_BGRA, GL_UNSIGNED_BYTE, nullptr);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, GL_NEAREST);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, GL_NEAREST);
    glBindTexture(GL_TEXTURE_2D, 0);
    return name;
}

void turnRows(const unsigned char* pixels, int w, int h) {
    for (int r = 0; r < h; ++r) {
        cv::Mat row(1, w, CV_8UC3, const_cast<unsigned char*>(pixels) + static_cast<size_t>(r) * w * 3);
        cv::Mat turned = surface.bottomUp.row(h - 1 - r);
        cv::cvtColor(row, turned, cv::COLOR_BGR2BGRA);
    }
}

void upload(GLuint texture, int w, int h) {
    GLint alignment = 4;
    glGetIntegerv(GL_UNPACK_ALIGNMENT, &alignment);
    glPixelStorei(GL_UNPACK_ALIGNMENT, 1);
    glBindTexture(GL_TEXTURE_2D, texture);
    glTexSubImage2D(GL_TEXTURE_2D, 0, 0, 0, w, h, GL_BGRA, GL_UNSIGNED_BYTE, surface.bottomUp.data);
    glBindTexture(GL_TEXTURE_2D, 0);
    glPixelStorei(GL_UNPACK_ALIGNMENT, alignment);
}

void copyOverPicture(int w, int h) {
    GLint previous = 0;
    glGetIntegerv(GL_READ_FRAMEBUFFER_BINDING, &previous);
    glBindFramebuffer(GL_READ_FRAMEBUFFER, surface.framebuffer);
    glBlitFramebuffer(0, 0, w, h, 0, 0, w, h, GL_COLOR_BUFFER_BIT, GL_NEAREST);
    glBindFramebuffer(GL_READ_FRAMEBUFFER, static_cast<GLuint>(previous));
}

// Pixels (0, 0) to (w, h) of the window covered by the texels one to one:
// nearest texels at the pixels' centres, nothing blended, no depth written.
void drawOverPicture(GLuint texture, int w, int h) {
    glPushAttrib(GL_ENABLE_BIT | GL_TEXTURE_BIT | GL_DEPTH_BUFFER_BIT | GL_VIEWPORT_BIT | GL_COLOR_BUFFER_BIT |
                 GL_POLYGON_BIT | GL_CURRENT_BIT);
    glDisable(GL_DEPTH_TEST);
    glDepthMask(GL_FALSE);
    glDisable(GL_LIGHTING);
    glDisable(GL_BLEND);
    glDisable(GL_ALPHA_TEST);
    glDisable(GL_CULL_FACE);
    glDisable(GL_FOG);
    glDisable(GL_COLOR_LOGIC_OP);
    glColorMask(GL_TRUE, GL_TRUE, GL_TRUE, GL_TRUE);
    glPolygonMode(GL_FRONT_AND_BACK, GL_FILL);
    glEnable(GL_TEXTURE_2D);
    glBindTexture(GL_TEXTURE_2D, texture);
    glTexEnvi(GL_TEXTURE_ENV, GL_TEXTURE_ENV_MODE, GL_REPLACE);
    glViewport(0, 0, w, h);
    drawTexturedRectangle(-1, -1, 1, 1, 1, 1);
    glBindTexture(GL_TEXTURE_2D, 0);
    glPopAttrib();
}

GLuint nextRingTexture() {
    if (surface.ringCount == 0) {
        surface.ringCount = videoTextureCount(surface.width, surface.height);
        for (int k = 0; k < surface.ringCount; ++k) surface.ring[k] = newVideoTexture(surface.width, surface.height);
    }
    const GLuint texture = surface.ring[surface.next];
    surface.next = (surface.next + 1) % surface.ringCount;
    return texture;
}

}  // namespace

int videoTextureCount(int width, int height) {
    const double frameBytes = 4.0 * width * height;
    return std::clamp(static_cast<int>(kVideoRingBytes / frameBytes), 2, kMaxVideoTextures);
}

void setUpVideoBackground(int width, int height) {
    surface = VideoSurface{};
    surface.width = width;
    surface.height = height;
    surface.bottomUp.create(height, width, CV_8UC4);
    surface.texture = newVideoTexture(width, height);
    GLint previous = 0;
    glGetIntegerv(GL_READ_FRAMEBUFFER_BINDING, &previous);
    glGenFramebuffers(1, &surface.framebuffer);
    glBindFramebuffer(GL_READ_FRAMEBUFFER, surface.framebuffer);
    glFramebufferTexture2D(GL_READ_FRAMEBUFFER, GL_COLOR_ATTACHMENT0, GL_TEXTURE_2D, surface.texture, 0);
    glBindFramebuffer(GL_READ_FRAMEBUFFER, static_cast<GLuint>(previous));
}

void setVideoWay(VideoWay way) { surface.way = way; }

VideoWay videoWay() { return surface.way; }

// Stored row 0 goes to the window's top row.
void drawVideoBackground(const unsigned char* pixels, int w, int h) {
    turnRows(pixels, w, h);
    if (surface.way == VideoWay::kDrawn) {
        const GLuint texture = nextRingTexture();
        upload(texture, w, h);
        drawOverPicture(texture, w, h);
        return;
    }
    upload(surface.texture, w, h);
    copyOverPicture(w, h);
}
