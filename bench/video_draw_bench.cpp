// video_draw_bench.cpp - ways of putting the video picture into the frame,
// timed in an offscreen context (Mesa llvmpipe) at the sizes the viewer
// meets: glDrawPixels of the BGR rows (the viewer's way until it turned
// too slow at HD sizes), with the depth test on and off, and of BGRA rows; a
// texture updated with glTexSubImage2D (BGR or BGRA rows) drawn as one quad
// over the window; and the texture copied onto the framebuffer with
// glBlitFramebuffer, its rows turned by the copy or on upload (the viewer's
// way now: BGRA rows uploaded last first, then a plain copy), and the parts
// of these ways alone. Each way draws the same picture 200 times with
// glFinish after each; the mean and the worst milliseconds are printed per
// way and size, the BGRA ways including the conversion.
//
// Usage: video_draw_bench [FRAMES]
#define GL_GLEXT_PROTOTYPES
#include <GL/gl.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <functional>

#include <opencv2/core.hpp>
#include <opencv2/imgproc.hpp>

#include "offscreen_gl.h"

namespace {

using Clock = std::chrono::steady_clock;

struct Picture {
    cv::Mat bgr, bgra;
    GLuint texture;
    GLuint readFramebuffer;  // the texture as a framebuffer to blit from
    GLint drawFramebuffer;
};

void drawPixels(const Picture& p, bool fourChannels) {
    glPixelStorei(GL_UNPACK_ALIGNMENT, 1);
    glWindowPos2i(0, p.bgr.rows);
    glPixelZoom(1.0f, -1.0f);
    if (fourChannels) glDrawPixels(p.bgra.cols, p.bgra.rows, GL_BGRA, GL_UNSIGNED_BYTE, p.bgra.data);
    else glDrawPixels(p.bgr.cols, p.bgr.rows, GL_BGR, GL_UNSIGNED_BYTE, p.bgr.data);
    glPixelZoom(1.0f, 1.0f);
}

void uploadTexture(const Picture& p, bool fourChannels) {
    glPixelStorei(GL_UNPACK_ALIGNMENT, 1);
    glBindTexture(GL_TEXTURE_2D, p.texture);
    if (fourChannels)
        glTexSubImage2D(GL_TEXTURE_2D, 0, 0, 0, p.bgra.cols, p.bgra.rows, GL_BGRA, GL_UNSIGNED_BYTE, p.bgra.data);
    else
        glTexSubImage2D(GL_TEXTURE_2D, 0, 0, 0, p.bgr.cols, p.bgr.rows, GL_BGR, GL_UNSIGNED_BYTE, p.bgr.data);
}

void drawQuad(const Picture& p) {
    glBindTexture(GL_TEXTURE_2D, p.texture);
    glEnable(GL_TEXTURE_2D);
    glMatrixMode(GL_PROJECTION);
    glLoadIdentity();
    glMatrixMode(GL_MODELVIEW);
    glLoadIdentity();
    glBegin(GL_QUADS);  // stored row 0 at the window's top
    glTexCoord2f(0, 1), glVertex2f(-1, -1);
    glTexCoord2f(1, 1), glVertex2f(1, -1);
    glTexCoord2f(1, 0), glVertex2f(1, 1);
    glTexCoord2f(0, 0), glVertex2f(-1, 1);
    glEnd();
    glDisable(GL_TEXTURE_2D);
}

// The texture copied onto the window's framebuffer, its rows turned over
// (flipped) or, with rows uploaded last first, as they are.
void blitTexture(const Picture& p, bool flipped) {
    glBindFramebuffer(GL_READ_FRAMEBUFFER, p.readFramebuffer);
    glBindFramebuffer(GL_DRAW_FRAMEBUFFER, p.drawFramebuffer);
    int w = p.bgr.cols, h = p.bgr.rows;
    if (flipped) glBlitFramebuffer(0, 0, w, h, 0, h, w, 0, GL_COLOR_BUFFER_BIT, GL_NEAREST);
    else glBlitFramebuffer(0, 0, w, h, 0, 0, w, h, GL_COLOR_BUFFER_BIT, GL_NEAREST);
    glBindFramebuffer(GL_FRAMEBUFFER, p.drawFramebuffer);
}

void drawTexture(const Picture& p, bool fourChannels) {
    uploadTexture(p, fourChannels);
    drawQuad(p);
}

void measure(const char* name, int frames, const std::function<void()>& draw) {
    double total = 0, worst = 0;
    for (int i = 0; i < frames; ++i) {
        auto start = Clock::now();
        draw();
        glFinish();
        double ms = std::chrono::duration<double, std::milli>(Clock::now() - start).count();
        if (i > 0) total += ms, worst = std::max(worst, ms);  // the first call sets things up
    }
    std::printf("  %-34s mean %6.2f ms  worst %6.2f ms\n", name, total / (frames - 1), worst);
}

}  // namespace

int main(int argc, char** argv) {
    int frames = argc > 1 ? std::atoi(argv[1]) : 200;
    if (frames < 2) frames = 2;
    const cv::Size sizes[] = {{640, 480}, {1280, 720}, {1920, 1080}};
    for (cv::Size size : sizes) {
        OffscreenGL gl;
        if (!createOffscreenGL(size.width, size.height, &gl)) return 1;
        Picture p;
        p.bgr.create(size, CV_8UC3);
        cv::randu(p.bgr, cv::Scalar::all(0), cv::Scalar::all(255));
        glGenTextures(1, &p.texture);
        glBindTexture(GL_TEXTURE_2D, p.texture);
        glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, GL_NEAREST);
        glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, GL_NEAREST);
        glTexImage2D(GL_TEXTURE_2D, 0, GL_RGBA8, size.width, size.height, 0, GL_BGRA, GL_UNSIGNED_BYTE, nullptr);
        glDisable(GL_DEPTH_TEST);
        glDisable(GL_LIGHTING);
        std::printf("%d x %d\n", size.width, size.height);
        measure("glDrawPixels, BGR rows", frames, [&] { drawPixels(p, false); });
        glEnable(GL_DEPTH_TEST);
        glDepthMask(GL_FALSE);
        measure("glDrawPixels, BGR rows, depth test", frames, [&] { drawPixels(p, false); });
        glDepthMask(GL_TRUE);
        glDisable(GL_DEPTH_TEST);
        measure("glDrawPixels, BGRA rows (+ convert)", frames, [&] {
            cv::cvtColor(p.bgr, p.bgra, cv::COLOR_BGR2BGRA);
            drawPixels(p, true);
        });
        measure("texture, BGR rows", frames, [&] { drawTexture(p, false); });
        measure("texture, BGRA rows (+ convert)", frames, [&] {
            cv::cvtColor(p.bgr, p.bgra, cv::COLOR_BGR2BGRA);
            drawTexture(p, true);
        });
        glGetIntegerv(GL_DRAW_FRAMEBUFFER_BINDING, &p.drawFramebuffer);
        glGenFramebuffers(1, &p.readFramebuffer);
        glBindFramebuffer(GL_READ_FRAMEBUFFER, p.readFramebuffer);
        glFramebufferTexture2D(GL_READ_FRAMEBUFFER, GL_COLOR_ATTACHMENT0, GL_TEXTURE_2D, p.texture, 0);
        glBindFramebuffer(GL_FRAMEBUFFER, p.drawFramebuffer);
        cv::Mat bottomUp;
        measure("blit, flipped (+ convert, upload)", frames, [&] {
            cv::cvtColor(p.bgr, p.bgra, cv::COLOR_BGR2BGRA);
            uploadTexture(p, true);
            blitTexture(p, true);
        });
        measure("blit, rows turned on upload", frames, [&] {
            cv::cvtColor(p.bgr, p.bgra, cv::COLOR_BGR2BGRA);
            cv::flip(p.bgra, bottomUp, 0);
            std::swap(p.bgra, bottomUp);
            uploadTexture(p, true);
            blitTexture(p, false);
        });
        measure("blit alone, flipped", frames, [&] { blitTexture(p, true); });
        measure("blit alone, as they are", frames, [&] { blitTexture(p, false); });
        glDeleteFramebuffers(1, &p.readFramebuffer);
        measure("texture upload alone, BGRA rows", frames, [&] { uploadTexture(p, true); });
        measure("textured quad alone", frames, [&] { drawQuad(p); });
        glDeleteTextures(1, &p.texture);
        destroyOffscreenGL(&gl);
    }
    return 0;
}
