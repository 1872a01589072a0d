// offscreen_gl.h - an OpenGL context without a window or an X server: EGL on
// Mesa's surfaceless platform, drawing into a framebuffer object of a fixed
// size with colour and depth, made current on the calling thread.
//
// Compatibility profile (the fixed-function pipeline works). One context per
// process is enough for the tools; the viewport is set to the full size.
//
// Usage:
//     OffscreenGL gl;
//     if (!createOffscreenGL(640, 480, &gl)) fail();   ... draw, glReadPixels ...
#ifndef PLATFORM_OFFSCREEN_GL_H
#define PLATFORM_OFFSCREEN_GL_H

struct OffscreenGL {
    void* display;
    void* context;
    unsigned int framebuffer;
    unsigned int renderbuffers[2];  // colour, depth
    int width, height;
};

// False, with one line on standard error, when no context can be made.
bool createOffscreenGL(int width, int height, OffscreenGL* gl);
void destroyOffscreenGL(OffscreenGL* gl);

#endif
