// overlay_multisample.cpp - the overlay's box, its buffer of 2 x 2 samples
// per pixel and the averaged picture laid over the video.
#include "overlay_multisample.h"

#define GL_GLEXT_PROTOTYPES
#include <GL/gl.h>
#include <GL/glext.h>

#include <algorithm>
#include <cmath>
#include <cstdio>

#include "picture.h"

namespace {

constexpr int kBoxMargin = 2;  // pixels around the projected corners

// Window pixels of the corners' box, clamped to the viewport.
bool screenBox(const float corners[8][3], const int viewport[4], int box[4]) {
    double P[16], M[16];
    glGetDoublev(GL_PROJECTION_MATRIX, P);
    glGetDoublev(GL_MODELVIEW_MATRIX, M);
    double lo[2] = {1e300, 1e300}, hi[2] = {-1e300, -1e300};
    bool behind = false;
    for (int k = 0; k < 8; ++k) {
        double p[4] = {corners[k][0], corners[k][1], corners[k][2], 1}, eye[4] = {}, clip[4] = {};
        for (int r = 0; r < 4; ++r)
            for (int c = 0; c < 4; ++c) eye[r] += M[4 * c + r] * p[c];
        for (int r = 0; r < 4; ++r)
            for (int c = 0; c < 4; ++c) clip[r] += P[4 * c + r] * eye[c];
        if (!(clip[3] > 1e-6)) {
            behind = true;
            break;
        }
        for (int i = 0; i < 2; ++i) {
            double window = viewport[i] + (clip[i] / clip[3] + 1) * 0.5 * viewport[2 + i];
            lo[i] = std::min(lo[i], window), hi[i] = std::max(hi[i], window);
        }
    }
    for (int i = 0; i < 2; ++i) {
        double from = behind ? viewport[i] : std::floor(lo[i]) - kBoxMargin;
        double to = behind ? viewport[i] + viewport[2 + i] : std::ceil(hi[i]) + kBoxMargin;
        from = std::max<double>(from, viewport[i]);
        to = std::min<double>(to, viewport[i] + viewport[2 + i]);
        if (!(to > from)) return false;
        box[i] = static_cast<int>(from);
        box[2 + i] = static_cast<int>(to) - box[i];
    }
    return true;
}

// The projection that maps the box's part of the picture onto the whole
// buffer: normalised device coordinates [from, to] to [-1, 1] on x and y.
void narrowProjection(const int viewport[4], const int box[4]) {
    double P[16];
    glGetDoublev(GL_PROJECTION_MATRIX, P);
    double narrow[16] = {1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1};
    for (int i = 0; i < 2; ++i) {
        double from = 2.0 * (box[i] - viewport[i]) / viewport[2 + i] - 1;
        double to = 2.0 * (box[i] + box[2 + i] - viewport[i]) / viewport[2 + i] - 1;
        narrow[5 * i] = 2 / (to - from);
        narrow[12 + i] = -(to + from) / (to - from);
    }
    glMatrixMode(GL_PROJECTION);
    glPushMatrix();
    glLoadMatrixd(narrow);
    glMultMatrixd(P);
    glMatrixMode(GL_MODELVIEW);
}

// The resolved box over the picture, premultiplied by its coverage.
void layOver(const OverlayMultisample& ms) {
    const int* viewport = ms.savedViewport;
    glPushAttrib(GL_ENABLE_BIT | GL_COLOR_BUFFER_BIT | GL_TEXTURE_BIT | GL_CURRENT_BIT);
    glDisable(GL_DEPTH_TEST);
    glDisable(GL_LIGHTING);
    glDisable(GL_CULL_FACE);
    glEnable(GL_TEXTURE_2D);
    glEnable(GL_BLEND);
    glBlendFunc(GL_ONE, GL_ONE_MINUS_SRC_ALPHA);
    glBindTexture(GL_TEXTURE_2D, ms.resolvedTexture);
    glTexEnvi(GL_TEXTURE_ENV, GL_TEXTURE_ENV_MODE, GL_REPLACE);
    double x0 = 2.0 * (ms.box[0] - viewport[0]) / viewport[2] - 1, x1 = x0 + 2.0 * ms.box[2] / viewport[2];
    double y0 = 2.0 * (ms.box[1] - viewport[1]) / viewport[3] - 1, y1 = y0 + 2.0 * ms.box[3] / viewport[3];
    double s = static_cast<double>(ms.box[2]) / ms.width, t = static_cast<double>(ms.box[3]) / ms.height;
    drawTexturedRectangle(x0, y0, x1, y1, s, t);
    glBindTexture(GL_TEXTURE_2D, 0);
    glPopAttrib();
}

}  // namespace

bool setUpOverlayMultisample(int width, int height, OverlayMultisample* ms) {
    *ms = OverlayMultisample{};
    if (kOverlayGrid * width > kMaxOverlayGridSide || kOverlayGrid * height > kMaxOverlayGridSide) {
        std::fprintf(stderr, "antialias: a %d x %d picture is too large for 2 x 2 samples per pixel; edges drawn as usual\n",
                     width, height);
        return false;
    }
    ms->width = width;
    ms->height = height;
    GLint previous = 0;
    glGetIntegerv(GL_DRAW_FRAMEBUFFER_BINDING, &previous);
    glGenRenderbuffers(1, &ms->sampledColour);
    glBindRenderbuffer(GL_RENDERBUFFER, ms->sampledColour);
    glRenderbufferStorage(GL_RENDERBUFFER, GL_RGBA8, kOverlayGrid * width, kOverlayGrid * height);
    glGenRenderbuffers(1, &ms->sampledDepth);
    glBindRenderbuffer(GL_RENDERBUFFER, ms->sampledDepth);
    glRenderbufferStorage(GL_RENDERBUFFER, GL_DEPTH_COMPONENT24, kOverlayGrid * width, kOverlayGrid * height);
    glBindRenderbuffer(GL_RENDERBUFFER, 0);
    glGenFramebuffers(1, &ms->sampledFramebuffer);
    glBindFramebuffer(GL_FRAMEBUFFER, ms->sampledFramebuffer);
    glFramebufferRenderbuffer(GL_FRAMEBUFFER, GL_COLOR_ATTACHMENT0, GL_RENDERBUFFER, ms->sampledColour);
    glFramebufferRenderbuffer(GL_FRAMEBUFFER, GL_DEPTH_ATTACHMENT, GL_RENDERBUFFER, ms->sampledDepth);
    bool complete = glCheckFramebufferStatus(GL_FRAMEBUFFER) == GL_FRAMEBUFFER_COMPLETE;
    glGenTextures(1, &ms->resolvedTexture);
    glBindTexture(GL_TEXTURE_2D, ms->resolvedTexture);
    glTexImage2D(GL_TEXTURE_2D, 0, GL_RGBA8, width, height, 0, GL_RGBA, GL_UNSIGNED_BYTE, nullptr);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, GL_NEAREST);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, GL_NEAREST);
    glBindTexture(GL_TEXTURE_2D, 0);
    glGenFramebuffers(1, &ms->resolvedFramebuffer);
    glBindFramebuffer(GL_FRAMEBUFFER, ms->resolvedFramebuffer);
    glFramebufferTexture2D(GL_FRAMEBUFFER, GL_COLOR_ATTACHMENT0, GL_TEXTURE_2D, ms->resolvedTexture, 0);
    complete = complete && glCheckFramebufferStatus(GL_FRAMEBUFFER) == GL_FRAMEBUFFER_COMPLETE;
    glBindFramebuffer(GL_FRAMEBUFFER, static_cast<GLuint>(previous));
    if (complete && glGetError() == GL_NO_ERROR) return true;
    std::fprintf(stderr, "antialias: this OpenGL cannot draw a %d x %d picture with 2 x 2 samples; edges drawn as usual\n",
                 width, height);
    releaseOverlayMultisample(ms);
    return false;
}

bool beginOverlayMultisample(OverlayMultisample* ms, const float corners[8][3], const std::vector<Occluder>& occluders) {
    glGetIntegerv(GL_VIEWPORT, ms->savedViewport);
    if (!screenBox(corners, ms->savedViewport, ms->box)) return false;
    ms->box[2] = std::min(ms->box[2], ms->width);
    ms->box[3] = std::min(ms->box[3], ms->height);
    glGetIntegerv(GL_DRAW_FRAMEBUFFER_BINDING, &ms->savedFramebuffer);
    glBindFramebuffer(GL_FRAMEBUFFER, ms->sampledFramebuffer);
    glViewport(0, 0, kOverlayGrid * ms->box[2], kOverlayGrid * ms->box[3]);
    glPushAttrib(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT | GL_SCISSOR_BIT);
    glEnable(GL_SCISSOR_TEST);
    glScissor(0, 0, kOverlayGrid * ms->box[2], kOverlayGrid * ms->box[3]);
    glClearColor(0, 0, 0, 0);
    glDepthMask(GL_TRUE);
    glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
    glPopAttrib();
    narrowProjection(ms->savedViewport, ms->box);
    glColorMask(GL_FALSE, GL_FALSE, GL_FALSE, GL_FALSE);
    drawOccluders(occluders);
    glColorMask(GL_TRUE, GL_TRUE, GL_TRUE, GL_TRUE);
    ms->drawing = true;
    return true;
}

void endOverlayMultisample(OverlayMultisample* ms) {
    if (!ms->drawing) return;
    glBindFramebuffer(GL_READ_FRAMEBUFFER, ms->sampledFramebuffer);
    glBindFramebuffer(GL_DRAW_FRAMEBUFFER, ms->resolvedFramebuffer);
    glBlitFramebuffer(0, 0, kOverlayGrid * ms->box[2], kOverlayGrid * ms->box[3], 0, 0, ms->box[2], ms->box[3],
                      GL_COLOR_BUFFER_BIT, GL_LINEAR);
    glBindFramebuffer(GL_FRAMEBUFFER, static_cast<GLuint>(ms->savedFramebuffer));
    glViewport(ms->savedViewport[0], ms->savedViewport[1], ms->savedViewport[2], ms->savedViewport[3]);
    glMatrixMode(GL_PROJECTION);
    glPopMatrix();
    glMatrixMode(GL_MODELVIEW);
    layOver(*ms);
    ms->drawing = false;
}

void releaseOverlayMultisample(OverlayMultisample* ms) {
    if (ms->sampledFramebuffer) glDeleteFramebuffers(1, &ms->sampledFramebuffer);
    if (ms->resolvedFramebuffer) glDeleteFramebuffers(1, &ms->resolvedFramebuffer);
    if (ms->sampledColour) glDeleteRenderbuffers(1, &ms->sampledColour);
    if (ms->sampledDepth) glDeleteRenderbuffers(1, &ms->sampledDepth);
    if (ms->resolvedTexture) glDeleteTextures(1, &ms->resolvedTexture);
    *ms = OverlayMultisample{};
}
