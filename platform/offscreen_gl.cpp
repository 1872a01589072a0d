// offscreen_gl.cpp - EGL surfaceless context with a framebuffer object.
#include "offscreen_gl.h"

#define GL_GLEXT_PROTOTYPES
#include <EGL/egl.h>
#include <EGL/eglext.h>
#include <GL/gl.h>
#include <GL/glext.h>

#include <cstdio>

namespace {

EGLDisplay openSurfacelessDisplay() {
    auto getPlatformDisplay =
        reinterpret_cast<PFNEGLGETPLATFORMDISPLAYEXTPROC>(eglGetProcAddress("eglGetPlatformDisplayEXT"));
    if (!getPlatformDisplay) return EGL_NO_DISPLAY;
    EGLDisplay display = getPlatformDisplay(EGL_PLATFORM_SURFACELESS_MESA, EGL_DEFAULT_DISPLAY, nullptr);
    if (display == EGL_NO_DISPLAY || !eglInitialize(display, nullptr, nullptr)) return EGL_NO_DISPLAY;
    return display;
}

EGLContext createCompatibilityContext(EGLDisplay display) {
    if (!eglBindAPI(EGL_OPENGL_API)) return EGL_NO_CONTEXT;
    const EGLint attributes[] = {EGL_CONTEXT_OPENGL_PROFILE_MASK, EGL_CONTEXT_OPENGL_COMPATIBILITY_PROFILE_BIT,
                                 EGL_NONE};
    return eglCreateContext(display, EGL_NO_CONFIG_KHR, EGL_NO_CONTEXT, attributes);
}

bool attachFramebuffer(OffscreenGL* gl) {
    glGenFramebuffers(1, &gl->framebuffer);
    glBindFramebuffer(GL_FRAMEBUFFER, gl->framebuffer);
    glGenRenderbuffers(2, gl->renderbuffers);
    glBindRenderbuffer(GL_RENDERBUFFER, gl->renderbuffers[0]);
    glRenderbufferStorage(GL_RENDERBUFFER, GL_RGBA8, gl->width, gl->height);
    glFramebufferRenderbuffer(GL_FRAMEBUFFER, GL_COLOR_ATTACHMENT0, GL_RENDERBUFFER, gl->renderbuffers[0]);
    glBindRenderbuffer(GL_RENDERBUFFER, gl->renderbuffers[1]);
    glRenderbufferStorage(GL_RENDERBUFFER, GL_DEPTH_COMPONENT24, gl->width, gl->height);
    glFramebufferRenderbuffer(GL_FRAMEBUFFER, GL_DEPTH_ATTACHMENT, GL_RENDERBUFFER, gl->renderbuffers[1]);
    glViewport(0, 0, gl->width, gl->height);
    return glCheckFramebufferStatus(GL_FRAMEBUFFER) == GL_FRAMEBUFFER_COMPLETE;
}

}  // namespace

bool createOffscreenGL(int width, int height, OffscreenGL* gl) {
    *gl = OffscreenGL{EGL_NO_DISPLAY, EGL_NO_CONTEXT, 0, {0, 0}, width, height};
    EGLDisplay display = openSurfacelessDisplay();
    if (display == EGL_NO_DISPLAY) {
        std::fprintf(stderr, "offscreen GL: no EGL surfaceless display\n");
        return false;
    }
    gl->display = display;
    EGLContext context = createCompatibilityContext(display);
    if (context == EGL_NO_CONTEXT || !eglMakeCurrent(display, EGL_NO_SURFACE, EGL_NO_SURFACE, context)) {
        std::fprintf(stderr, "offscreen GL: cannot create an OpenGL context (EGL error 0x%x)\n", eglGetError());
        destroyOffscreenGL(gl);
        return false;
    }
    gl->context = context;
    if (!attachFramebuffer(gl)) {
        std::fprintf(stderr, "offscreen GL: framebuffer of %d x %d incomplete\n", width, height);
        destroyOffscreenGL(gl);
        return false;
    }
    return true;
}

void destroyOffscreenGL(OffscreenGL* gl) {
    if (gl->context) {
        glDeleteRenderbuffers(2, gl->renderbuffers);
        glDeleteFramebuffers(1, &gl->framebuffer);
        eglMakeCurrent(gl->display, EGL_NO_SURFACE, EGL_NO_SURFACE, EGL_NO_CONTEXT);
        eglDestroyContext(gl->display, gl->context);
    }
    if (gl->display) eglTerminate(gl->display);
    gl->display = gl->context = nullptr;
}
